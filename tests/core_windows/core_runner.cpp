// The core's checks that need no Qt, as one plain C++ program: built for
// Linux (a ctest) and with MinGW-w64 for Windows, where scripts/test runs it
// under Wine. What differs on the Windows ABI is what the rows look at: text
// versus binary file I/O and CRLF, byte order of records and frames, the
// sizes and signedness the parser's arithmetic relies on, and code page 936,
// which goes through iconv here, the system's code page functions there, and
// a table made from iconv in WebAssembly, where Node runs these checks.
//
// Prints one line per failing row and a closing pass count; exits 1 when a
// row failed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core_checks.h"
#include "firmware/firmware_image.h"
#include "link/device_frame.h"
#include "link/rx_buffer.h"
#include "params/app_params.h"
#include "platform/code_page_936.h"
#include "platform/profile_ini.h"

namespace {

// Hands out a byte stream in pieces of at most `piece` bytes per read.
class PieceSource : public RxSource {
public:
  PieceSource(Bytes stream, std::uint16_t piece) : stream_(std::move(stream)), piece_(piece) {}
  std::uint16_t RxBytesWaiting() override {
    const std::size_t left = stream_.size() - pos_;
    return std::uint16_t(left < piece_ ? left : piece_);
  }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    std::uint16_t done = 0;
    for (; done < n && pos_ < stream_.size(); ++done) dest[done] = stream_[pos_++];
    return done;
  }

private:
  Bytes stream_;
  std::size_t pos_ = 0;
  std::uint16_t piece_;
};

// The commands of every frame found in stream, fed in pieces.
std::vector<int> FramesIn(const Bytes& stream, std::uint16_t piece) {
  TRxBuffer rx;
  PieceSource src(stream, piece);
  std::vector<int> found;
  for (int pass = 0; pass < 4000; ++pass)
    if (auto frame = ReadFrame(rx, src)) found.push_back(frame->command());
  return found;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::filesystem::path kScratch =
    std::filesystem::temp_directory_path() / "k7v_core_runner.ini";

const Row kRows[] = {
    // Profile INI files as a Windows editor leaves them.
    {"ini: CRLF lines, names in any case, quotes and blanks dropped",
     [] {
       const ProfileIni ini("[Serial]\r\nCOM = \"COM3\" \r\nbaudrate=4\r\n");
       return ini.GetString("serial", "com", "x") == "COM3" &&
              ini.GetInt("SERIAL", "BaudRate", -1) == 4;
     }},
    {"ini: no final line end",
     [] { return ProfileIni("[s]\r\nk=1").GetString("s", "k", "") == "1"; }},
    {"ini: a set keeps the other CRLF lines byte for byte",
     [] {
       ProfileIni ini("[a]\r\nk=1\r\n[b]\r\nk=2\r\n");
       return ini.SetString("a", "k", "v") && ini.content() == "[a]\r\nk=v\r\n[b]\r\nk=2\r\n";
     }},
    {"ini: written file holds CRLF once, not CR CR LF, and reads back",
     [] {
       std::filesystem::remove(kScratch);
       const std::string path = kScratch.string();
       const bool ok = WriteProfileString(path, "serial", "com", "COM7") &&
                       WriteProfileString(path, "serial", "conf", "######");
       const std::string bytes = FileBytes(kScratch);
       const std::string value = ReadProfileString(path, "Serial", "CONF", "x");
       std::filesystem::remove(kScratch);
       return ok && bytes.find("\r\r") == std::string::npos &&
              bytes.find("com=COM7") != std::string::npos && value == "######";
     }},
    // Records and frames are little-endian whatever the host.
    {"record: 16-bit field low byte first",
     [] {
       TAppParams p;
       p.Set(AppField::port1, 0x1F90);
       const auto b = p.FieldBytes(AppField::port1);
       return b[0] == 0x90 && b[1] == 0x1F && p.Get(AppField::port1) == 0x1F90;
     }},
    {"record: IPv4 stored last octet first",
     [] {
       TAppParams p;
       p.Set(AppField::ip1, 0xC0A80102); // 192.168.1.2
       const auto b = p.FieldBytes(AppField::ip1);
       return b[0] == 2 && b[1] == 1 && b[2] == 168 && b[3] == 192;
     }},
    {"record: bytes round trip, 693 of them",
     [] {
       Bytes raw(TAppParams::kSize + 7);
       for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t(i * 7 + 3);
       const TAppParams p = TAppParams::FromBytes(raw);
       return p.bytes().size() == 693 &&
              std::equal(p.bytes().begin(), p.bytes().end(), raw.begin());
     }},
    {"frame: length field little-endian, checksum, end byte",
     [] {
       const Bytes f = Frame(3, Bytes(300, 0x11));
       return f.size() == 306 && f[0] == 0xAA && f[2] == 0x32 && f[3] == 0x01 &&
              f[304] == Checksum8(f.data(), 304) && f[305] == 0xBB;
     }},
    {"checksums: 8-bit frame sum and 16-bit image sum wrap",
     [] {
       const Bytes ff(300, 0xFF);
       return Checksum8(ff.data(), 300) == std::uint8_t(300 * 0xFF) &&
              Sum16(ff.data(), ff.size()) == std::uint16_t(300 * 0xFF);
     }},
    // The receive parser on a stream that arrives in pieces.
    {"parser: noise, a bad checksum, then two frames one byte at a time",
     [] {
       Bytes stream = {0x00, 0xBB, 0xAA, 0x99};
       Bytes bad = Frame(7, {1, 2, 3});
       bad[bad.size() - 2] ^= 0x5A;
       stream.insert(stream.end(), bad.begin(), bad.end());
       for (const Bytes& f : {Frame(1, {'V', '1'}), Frame(3, Bytes(693, 0x42))})
         stream.insert(stream.end(), f.begin(), f.end());
       return FramesIn(stream, 1) == std::vector<int>{1, 3};
     }},
    {"parser: a 699-byte answer in 64-byte pieces",
     [] { return FramesIn(Frame(3, Bytes(693, 0xAA)), 64) == std::vector<int>{3}; }},
    {"parser: a length beyond the limit is skipped, the next frame found",
     [] {
       Bytes stream = {0xAA, 0x03, 0xDD, 0x05}; // claims 1501 bytes
       const Bytes good = Frame(2, {});
       stream.insert(stream.end(), good.begin(), good.end());
       return FramesIn(stream, 16) == std::vector<int>{2};
     }},
    // Code page 936 (GBK): iconv on Linux, the system's code page functions on Windows.
    {"gbk: Chinese text both ways",
     [] {
       const cp936::Encoded gbk = cp936::FromUtf8("设备 ID");
       const cp936::Decoded back = cp936::ToUtf8(gbk.bytes);
       return gbk.clean && gbk.bytes == "\xC9\xE8\xB1\xB8 ID" && back.clean &&
              back.utf8 == "设备 ID";
     }},
    {"gbk: a limit never splits a character",
     [] {
       const cp936::Encoded cut = cp936::FromUtf8("设备", 3);
       return cut.cut && cut.bytes == "\xC9\xE8" && cp936::ByteLength("设备") == 4;
     }},
    {"gbk: a lone lead byte and a character GBK lacks are reported",
     [] {
       const cp936::Decoded lone = cp936::ToUtf8("A\xC9");
       const cp936::Encoded emoji = cp936::FromUtf8("x\xF0\x9F\x98\x80");
       return !lone.clean && lone.utf8.rfind("A", 0) == 0 && !emoji.clean && emoji.bytes == "x?";
     }},
    {"gbk: every pair that is a character encodes back to the same two bytes",
     [] {
       int characters = 0;
       for (int lead = 0x81; lead <= 0xFE; ++lead)
         for (int trail = 0x40; trail <= 0xFE; ++trail) {
           const std::string pair{char(lead), char(trail)};
           const cp936::Decoded d = cp936::ToUtf8(pair);
           if (!d.clean) continue;
           ++characters;
           if (cp936::FromUtf8(d.utf8).bytes != pair) return false;
         }
       return characters > 21000; // the code page's characters, not an empty table
     }},
    {"gbk: byte 0xFF is U+F8F5, as Windows has it",
     [] {
       return cp936::ToUtf8("\xFF").utf8 == "\xEF\xA3\xB5" &&
              cp936::FromUtf8("\xEF\xA3\xB5").bytes == "\xFF";
     }},
};

} // namespace

int main() {
  int passed = 0;
  int total = 0;
  std::vector<Row> rows(std::begin(kRows), std::end(kRows));
  const std::vector<Row> engine = EngineRows();
  rows.insert(rows.end(), engine.begin(), engine.end());
  const std::vector<Row> conformance = ConformanceRows();
  rows.insert(rows.end(), conformance.begin(), conformance.end());
  for (const Row& row : rows) {
    ++total;
    bool ok = false;
    try {
      ok = row.check();
    } catch (const std::exception& e) {
      std::printf("  exception: %s\n", e.what());
    }
    if (ok)
      ++passed;
    else
      std::printf("FAIL %s\n", row.name);
  }
  std::printf("core checks: %d of %d passed\n", passed, total);
  return passed == total ? 0 : 1;
}
