#include "sim/sim_state.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "params/factory_set.h"

TAppParams FactoryRecord() {
  TAppParams p; // all zero: every field not named below stays 0 or empty
  p.Set(AppField::baudrate, 57600);
  p.Set(AppField::databit, 8);
  p.Set(AppField::stopbit, 1);
  p.Set(AppField::paritybit, 0);
  p.Set(AppField::com_ptcl, 0);
  p.Set(AppField::packet_len, 1024);
  p.Set(AppField::delay, 300);
  p.Set(AppField::debug, 2);
  p.SetText(AppField::apn, "cmnet");
  p.Set(AppField::port1, 51001);
  p.SetText(AppField::hostname1, kFactoryHostname1);
  p.Set(AppField::connection_type1, 1);
  p.Set(AppField::port2, 40002);
  p.Set(AppField::connection_type2, 0);
  p.Set(AppField::port3, 40003);
  p.Set(AppField::connection_type3, 0);
  p.Set(AppField::heart_interval, 0);
  p.Set(AppField::select_ptcl, 0);
  p.Set(AppField::run_mode, 0);
  p.Set(AppField::idle_interval, 300);
  p.Set(AppField::reconnect_interval, 10);
  p.SetText(AppField::switch_cmd, "######");
  p.Set(AppField::auto_interval, 1440);
  p.Set(AppField::master_port, 6000);
  p.SetText(AppField::master_host, kFactoryMasterHost);
  p.Set(AppField::run_type, 1);
  p.Set(AppField::master_reconnect_interval, 300);
  return p;
}

bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out)
      return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

std::string PathIn(const std::string& dir, const char* name) {
  if (dir.empty() || dir.back() == '/')
    return dir + name;
  return dir + "/" + name;
}
