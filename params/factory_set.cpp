#include "params/factory_set.h"

TAppParams FactoryParams() {
  using F = AppField;
  TAppParams p; // all zero: every field not named below stays 0 or empty
  p.Set(F::baudrate, 57600);
  p.Set(F::databit, 8);
  p.Set(F::stopbit, 1);
  p.Set(F::paritybit, 0);
  p.Set(F::com_ptcl, 0);
  p.Set(F::packet_len, 1024);
  p.Set(F::delay, 300);
  p.Set(F::debug, 2);
  p.SetText(F::apn, "cmnet");
  p.Set(F::port1, 51001);
  p.SetText(F::hostname1, kFactoryHostname1);
  p.Set(F::connection_type1, 1);
  p.Set(F::port2, 40002);
  p.Set(F::connection_type2, 0);
  p.Set(F::port3, 40003);
  p.Set(F::connection_type3, 0);
  p.Set(F::heart_interval, 0);
  p.Set(F::select_ptcl, 0);
  p.Set(F::run_mode, 0);
  p.Set(F::idle_interval, 300);
  p.Set(F::reconnect_interval, 10);
  p.SetText(F::switch_cmd, "######");
  p.Set(F::auto_interval, 1440);
  p.Set(F::master_port, 6000);
  p.SetText(F::master_host, kFactoryMasterHost);
  p.Set(F::run_type, 1);
  p.Set(F::master_reconnect_interval, 300);
  return p;
}
