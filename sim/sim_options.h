#pragma once
// Command-line options of dtu-sim, the simulated DTU used by end-to-end tests,
// benchmarks and the demo.

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

struct SimOptions {
  std::string recordFile; // start record (693 bytes); empty: the factory set
  std::string stateDir;   // keeps record.bin and image.bin across runs; empty: none
  std::string linkPath;   // symlink to the pty slave; empty: none
  std::string logFile;    // hex log of every frame and byte chunk; empty: none

  std::string version = "V2.01";                 // command 1 payload, at most 8 bytes
  std::string serialNumber = "K7S0000000000001"; // command 7 sn, at most 16 bytes

  std::uint16_t chunkSize = 1024;               // bytes per chunk request
  std::chrono::milliseconds chunkTimeout{1000}; // wait for a chunk answer
  unsigned maxRetries = 10;                     // requests per piece before 0xE4

  // The unit's configuration port. A PC whose port is set otherwise is heard
  // as noise (a pseudo-terminal shares its settings between both ends).
  std::uint32_t baud = 115200;
  int dataBits = 8;
  char parity = 'N'; // 'N', 'O' or 'E'
  int stopBits = 1;
  bool pace = false; // both directions move at baud / 10 bytes per second

  // Configuration mode as the unit keeps it. By default the unit is as strict
  // as a real one may be: in configuration mode a switch command is noise,
  // and a verified download leaves it there.
  bool switchInConfig = false;       // answer a switch command in configuration mode too
  bool restartAfterDownload = false; // a verified download restarts the unit: it leaves
                                     // configuration mode
  // After command 2 the unit takes this long to go back to forwarding data;
  // what arrives meanwhile is lost (a switch command too).
  std::chrono::milliseconds leaveSettle{0};
  bool startInConfig = false; // starts in configuration mode, as a tool that was cut
                              // off without command 2 leaves a unit

  // Fault injection.
  std::set<std::uint8_t> silent;           // commands never answered
  std::set<std::uint8_t> silentOnce;       // commands whose first request is not answered
  std::set<std::uint8_t> badChecksum;      // commands whose frames carry a wrong checksum
  std::set<std::uint8_t> shortAnswer;      // commands answered with a truncated payload
  std::chrono::milliseconds splitPause{0}; // > 0: every frame in two halves with this pause
  bool garbage = false;       // noise bytes, stray 0xAA included, before every frame; noise back
                              // for what a PC at other line settings sends
  bool refuseWrites = false;  // command 4 answered with 0, nothing stored
  unsigned dropAfter = 0;     // > 0: the N-th received frame unplugs the device
  bool repeatChunk = false;   // the first piece is requested twice
  bool requestBeyond = false; // requests at offset L and L + 100 before finishing
  bool endFail = false;       // every download ends with 0xE4
  bool noiseFrame = false;    // a stray command 3 frame during the download
  bool stuckChunk = false;    // the first piece is requested again after every answer, for ever

  bool help = false;
  bool showVersion = false; // --version: the program's own
};

// Parses argv[1..argc-1]. Returns false with a one-line reason in error on an
// unknown option, a missing value or a value out of range.
bool ParseSimOptions(int argc, char** argv, SimOptions& out, std::string& error);

// The --help text.
const char* SimUsage();
