#include "sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Parses a decimal or 0x-prefixed number within [lo, hi]; false when the text
// is not a whole number or is out of range.
bool ParseNumber(const char* text, unsigned long lo, unsigned long hi, unsigned long& out) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

} // namespace

const char* SimUsage() {
  return R"(Usage: dtu-sim [options]

Simulated K7v DTU on a pseudo-terminal. Prints "dtu-sim: /dev/pts/N" as its
first line on stdout and runs until SIGTERM, SIGINT or SIGHUP.

Device:
  --record FILE        start with this 693-byte parameter record
                       (default: the factory parameter set)
  --state DIR          keep record.bin (written by command 4), image.bin (the
                       body of the last verified download) and version (that
                       image's version, answered from then on) in DIR; both are
                       loaded at start when present and win over --record and
                       --unit-version
  --unit-version TEXT  software version sent with command 1, at most 8
                       characters (default V2.01); a verified download
                       replaces it with the image's
  --sn TEXT            serial number sent with command 7, at most 16 characters
  --link PATH          create a symlink PATH -> pty slave (an old link is
                       replaced); removed on exit
  --log FILE           append one line per event, hex bytes with a direction:
                         RX bytes ..   a chunk read from the pty
                         RX frame ..   a valid frame taken from the input
                         RX switch ..  the switch command recognised
                         TX frame ..   a frame sent (whole, before any split)
                         TX noise ..   noise bytes sent (--garbage)
                         EV text       what the device did
  --baud N             line speed (default 115200); set on the pty
  --framing DPS        data bits, parity and stop bits (default 8N1; 7|8,
                       N|O|E, 1|2). The pty shares its settings with the PC's
                       end: when the PC's speed or framing differs, what it
                       sends is heard as noise and nothing is answered (with
                       --garbage, noise is sent back). A pty always carries 8
                       bits without parity, so only 8N1 and 8N2 can be met.
  --pace               move bytes at N/10 bytes per second in both directions,
                       so transfers take real wire time

Configuration mode (by default the unit ignores a switch command while in
configuration mode and stays there after a download, until command 2):
  --switch-in-config   answer a switch command in configuration mode too, as a
                       tolerant unit does
  --restart-after-download
                       leave configuration mode after a verified download, as
                       a unit that restarts into its new firmware does
  --in-config          start in configuration mode, as a tool cut off without
                       command 2 leaves a unit
  --leave-settle MS    after command 2, lose every byte for MS (a switch command
                       sent at once goes unheard)

Download:
  --chunk N            bytes per chunk request, 1 to 65535 (default 1024; the
                       tool answers at most 1089)
  --chunk-timeout MS   wait this long for a chunk answer before asking again
                       (default 1000)
  --max-retries N      requests per piece before giving up with 0xE4
                       (default 10)

Faults (CMD is a command code, decimal or 0x.., e.g. 1, 3, 4, 7, 0xE1):
  --silent CMD         never answer CMD (repeatable); 0xE1: ignore downloads
  --silent-once CMD    leave only the first CMD unanswered (repeatable), as a
                       real unit now and then does: 1 the first switch command
                       is ignored, 3 and 7 the first request, 4 the first
                       record is stored but its answer lost, 0xE1 the first
                       announcement is ignored
  --bad-checksum CMD   send frames of command CMD with a wrong checksum
                       (repeatable; 0xE2 spoils chunk requests)
  --short CMD          answer CMD with a truncated payload (repeatable):
                       1: 3 bytes of the version, 3: 100 bytes, 4: no byte,
                       7: 20 bytes, 0xE2: chunk requests of 4 bytes
  --split-pause MS     send every frame in two halves with MS between them
  --garbage            send noise bytes, stray 0xAA included, before each frame,
                       and noise back for what a PC at other settings sends
  --refuse-writes      answer command 4 with result 0 and store nothing
  --drop-after N       when the N-th frame arrives (N >= 1), close the pty
                       master without answering and exit, like an unplugged
                       device
  --repeat-chunk       request the first piece of a download twice
  --request-beyond     after the last piece, also request offset L (expects an
                       answer of count 0) and L+100 (any answer or none)
  --end-fail           end every download with 0xE4, image not stored
  --noise-frame        send a stray command 3 frame after the first piece
  --stuck-chunk        ask for the first piece again after every answer and
                       never move on (a unit stuck on one offset)

  --version            print the program's version and exit
  --help               show this text
)";
}

bool ParseSimOptions(int argc, char** argv, SimOptions& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view opt = argv[i] ? argv[i] : "";
    // Options that take a value read it here; nullptr when missing.
    const char* value = (i + 1 < argc) ? argv[i + 1] : nullptr;
    unsigned long n = 0;
    auto needValue = [&]() {
      if (value == nullptr) {
        error = std::string(opt) + " needs a value";
        return false;
      }
      ++i;
      return true;
    };
    auto number = [&](unsigned long lo, unsigned long hi) {
      if (!needValue()) return false;
      if (!ParseNumber(value, lo, hi, n)) {
        error = std::string(opt) + ": bad value '" + value + "'";
        return false;
      }
      return true;
    };
    auto command = [&](std::set<std::uint8_t>& into) {
      if (!number(0, 255)) return false;
      into.insert(static_cast<std::uint8_t>(n));
      return true;
    };

    if (opt == "--help" || opt == "-h") {
      out.help = true;
    } else if (opt == "--record") {
      if (!needValue()) return false;
      out.recordFile = value;
    } else if (opt == "--state") {
      if (!needValue()) return false;
      out.stateDir = value;
    } else if (opt == "--link") {
      if (!needValue()) return false;
      out.linkPath = value;
    } else if (opt == "--log") {
      if (!needValue()) return false;
      out.logFile = value;
    } else if (opt == "--version") {
      out.showVersion = true;
    } else if (opt == "--unit-version") {
      if (!needValue()) return false;
      if (std::strlen(value) > 8) {
        error = "--unit-version: at most 8 characters";
        return false;
      }
      out.version = value;
    } else if (opt == "--sn") {
      if (!needValue()) return false;
      if (std::strlen(value) > 16) {
        error = "--sn: at most 16 characters";
        return false;
      }
      out.serialNumber = value;
    } else if (opt == "--chunk") {
      if (!number(1, 65535)) return false;
      out.chunkSize = static_cast<std::uint16_t>(n);
    } else if (opt == "--chunk-timeout") {
      if (!number(1, 600000)) return false;
      out.chunkTimeout = std::chrono::milliseconds(n);
    } else if (opt == "--max-retries") {
      if (!number(1, 1000000)) return false;
      out.maxRetries = static_cast<unsigned>(n);
    } else if (opt == "--baud") {
      if (!number(50, 4000000)) return false;
      out.baud = static_cast<std::uint32_t>(n);
    } else if (opt == "--framing") {
      if (!needValue()) return false;
      const std::string_view f = value;
      if (f.size() != 3 || (f[0] != '7' && f[0] != '8') ||
          std::string_view("NOE").find(f[1]) == std::string_view::npos ||
          (f[2] != '1' && f[2] != '2')) {
        error = "--framing: bad value '" + std::string(f) + "' (e.g. 8N1, 8N2, 7E1)";
        return false;
      }
      out.dataBits = f[0] - '0';
      out.parity = f[1];
      out.stopBits = f[2] - '0';
    } else if (opt == "--pace") {
      out.pace = true;
    } else if (opt == "--switch-in-config") {
      out.switchInConfig = true;
    } else if (opt == "--restart-after-download") {
      out.restartAfterDownload = true;
    } else if (opt == "--in-config") {
      out.startInConfig = true;
    } else if (opt == "--leave-settle") {
      if (!number(0, 600000)) return false;
      out.leaveSettle = std::chrono::milliseconds(n);
    } else if (opt == "--silent") {
      if (!command(out.silent)) return false;
    } else if (opt == "--silent-once") {
      if (!command(out.silentOnce)) return false;
    } else if (opt == "--bad-checksum") {
      if (!command(out.badChecksum)) return false;
    } else if (opt == "--short") {
      if (!command(out.shortAnswer)) return false;
    } else if (opt == "--split-pause") {
      if (!number(0, 600000)) return false;
      out.splitPause = std::chrono::milliseconds(n);
    } else if (opt == "--garbage") {
      out.garbage = true;
    } else if (opt == "--refuse-writes") {
      out.refuseWrites = true;
    } else if (opt == "--drop-after") {
      if (!number(1, 4000000000UL)) return false;
      out.dropAfter = static_cast<unsigned>(n);
    } else if (opt == "--repeat-chunk") {
      out.repeatChunk = true;
    } else if (opt == "--request-beyond") {
      out.requestBeyond = true;
    } else if (opt == "--end-fail") {
      out.endFail = true;
    } else if (opt == "--noise-frame") {
      out.noiseFrame = true;
    } else if (opt == "--stuck-chunk") {
      out.stuckChunk = true;
    } else {
      error = "unknown option '" + std::string(opt) + "'";
      return false;
    }
  }
  return true;
}
