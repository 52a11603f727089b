// The protocol engine driven by a fake clock: every ending of every
// operation, each script played with the unit's bytes whole and again one
// byte at a time. The limits are the real ones (2 s, 3 s, 10 s, 50), which
// cost nothing on this clock.

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "core_checks.h"
#include "link/protocol_engine.h"

namespace {

using Millis = ProtocolEngine::Millis;
using Start = std::function<EngineStep(ProtocolEngine&)>;
constexpr auto kOk = SessionReason::Ok;

// At a time: bytes from the unit, or (end not Ok) the caller ends the operation.
struct Event {
  Millis at;
  Bytes bytes;
  SessionReason end = kOk;
};

struct Outcome {
  bool finished = false;
  SessionReason reason = kOk;
  Millis endedAt = -1;
  std::vector<Bytes> sent;
  std::vector<DownloadProgress> pieces;
};

// Plays the events as a driver would: the deadlines due before an event fire
// first, and after the last event time runs on until the operation ends.
Outcome Play(ProtocolEngine& engine, const Start& start, const std::vector<Event>& events,
             bool byteByByte) {
  Outcome out;
  Millis now = 0;
  EngineStep step;
  const auto take = [&](EngineStep s) {
    for (const EngineSend& f : s.send) {
      out.sent.push_back(f.frame);
      if (f.piece) out.pieces.push_back(f.progress);
    }
    if (s.finished && !out.finished) out = {true, s.reason, now, out.sent, out.pieces};
    step = std::move(s);
  };
  const auto runUntil = [&](Millis t) {
    for (int i = 0;
         i < 100 && !out.finished && step.deadline != EngineStep::kNoDeadline && step.deadline <= t;
         ++i) {
      now = step.deadline;
      take(engine.OnTime(now));
    }
  };
  take(start(engine));
  for (const Event& ev : events) {
    runUntil(ev.at);
    if (out.finished) break;
    now = ev.at;
    if (ev.end != kOk)
      take(engine.End(ev.end));
    else if (!byteByByte)
      take(engine.OnBytes(ev.bytes, now));
    else // every byte, also those behind an answer: they stay for later
      for (const std::uint8_t& b : ev.bytes) take(engine.OnBytes({&b, 1}, now));
  }
  runUntil(Millis(1) << 40);
  return out;
}

Bytes B(std::string_view text) { return {text.begin(), text.end()}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Times(const Bytes& b, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out = out + b;
  return out;
}
Bytes Distinct(std::size_t n, int step) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t(i * step + 3);
  return out;
}
const Bytes kRecord = Distinct(TAppParams::kSize, 7);
const Bytes kBody = Distinct(120, 5); // 100 bytes announced: the last 20 are never served

// Product information: type, model, serial type, then the serial number at 33.
const Bytes kInfo = B("DTU1K7-GPRS-SIM1232") + Bytes(14, 0) + B("SN-0123456789ABC");
// Offset and count, little-endian, as a piece request and its answer carry them.
Bytes Where(std::uint32_t offset, std::uint16_t count) {
  return {std::uint8_t(offset),       std::uint8_t(offset >> 8), std::uint8_t(offset >> 16),
          std::uint8_t(offset >> 24), std::uint8_t(count),       std::uint8_t(count >> 8)};
}
Bytes Piece(std::uint32_t offset, std::uint16_t count) { return Frame(0xE2, Where(offset, count)); }
Bytes Damaged(Bytes frame) {
  frame[frame.size() - 2] ^= 0x5A;
  return frame;
}

Start Enter(std::string_view command) {
  return [command](ProtocolEngine& e) { return e.StartEnter(B(command), 0); };
}
EngineStep Read(ProtocolEngine& e) { return e.StartReadParams(0); }
EngineStep ReadInfo(ProtocolEngine& e) { return e.StartReadSysInfo(0); }
EngineStep Write(ProtocolEngine& e) {
  return e.StartWriteParams(TAppParams::FromBytes(kRecord), 0);
}
EngineStep Download(ProtocolEngine& e) {
  return e.StartDownload({kBody, 100, "fw.bin", "V1.0", 4950}, 0);
}

using Check = std::function<bool(const Outcome&, const ProtocolEngine&)>;
Check Version(const char* sentCommand, const char* version) {
  return [=](const Outcome& o, const ProtocolEngine& e) {
    return o.sent.front() == Bytes(sentCommand, sentCommand + 6) && e.version() == version;
  };
}
// The download's pieces as (offset, count); each answer must carry exactly
// those bytes of the body, and the announcement the name and length.
Check Pieces(std::vector<std::pair<std::uint32_t, std::uint16_t>> expected) {
  return [expected](const Outcome& o, const ProtocolEngine&) {
    const Bytes& start = o.sent.front();
    bool ok = start.size() == 34 && start[1] == 0xE1 && start[26] == 100 && start[27] == 0 &&
              Bytes(start.begin() + 4, start.begin() + 10) == B("fw.bin");
    ok = ok && o.pieces.size() == expected.size() && o.sent.size() == expected.size() + 1;
    for (std::size_t i = 0; ok && i < expected.size(); ++i) {
      const auto [offset, count] = expected[i];
      const DownloadProgress& p = o.pieces[i];
      const Bytes data(kBody.begin() + std::min<std::size_t>(offset, 100),
                       kBody.begin() + std::min<std::size_t>(offset + count, 100));
      ok = p.offset == offset && p.count == count && p.reached == offset + count &&
           p.total == 100 && o.sent[i + 1] == Frame(0xE2, Where(offset, count) + data);
    }
    return ok;
  };
}

struct Script {
  const char* name;
  Start start;
  std::vector<Event> events;
  SessionReason reason;
  Millis endedAt;
  Check check;
};
Script S(const char* name, Start start, std::vector<Event> events, SessionReason reason,
         Millis endedAt, Check check = {}) {
  return {name, std::move(start), std::move(events), reason, endedAt, std::move(check)};
}

const Script kScripts[] = {
    // Enter configuration: command 1 within 2 s.
    S("enter: version up to a zero, a short switch command padded with zero bytes", Enter("K7#"),
      {{5, Frame(1, B("V2.01") + Bytes(3, 0))}}, kOk, 5, Version("K7#\0\0\0", "V2.01")),
    S("enter: eight version bytes without a zero, a long switch command cut", Enter("K7#CFG99"),
      {{5, Frame(1, B("K7V-2.10xy"))}}, kOk, 5, Version("K7#CFG", "K7V-2.10")),
    S("enter: a short answer gives the bytes it holds", Enter("######"), {{5, Frame(1, B("V2."))}},
      kOk, 5, Version("######", "V2.")),
    S("enter: noise, a damaged answer and other commands are passed over", Enter("######"),
      {{3, Bytes{0x00, 0xBB, 0xAA} + Frame(3, {}) + Damaged(Frame(1, B("V9"))) + Frame(7, {1})},
       {40, Frame(1, B("V1"))}},
      kOk, 40, Version("######", "V1")),
    S("enter: an answer at 2 s still counts", Enter("######"), {{2000, Frame(1, B("V1"))}}, kOk,
      2000),
    S("enter: silence ends it once 2 s have passed; bytes do not extend it", Enter("######"),
      {{1999, Frame(3, {})}, {2001, Frame(1, B("V1"))}}, SessionReason::NoAnswer, 2001,
      [](const Outcome&, const ProtocolEngine& e) { return e.version().empty(); }),
    // Read the record: command 3 within 3 s; what came before the request is stale.
    S(
        "read: the record; an earlier one is dropped",
        [](ProtocolEngine& e) {
          e.OnBytes(Frame(3, Distinct(TAppParams::kSize, 11)), 0);
          return Read(e);
        },
        {{10, Frame(3, kRecord)}}, kOk, 10,
        [](const Outcome& o, const ProtocolEngine& e) {
          return o.sent == std::vector<Bytes>{Frame(3, {})} &&
                 Bytes(e.params().bytes().begin(), e.params().bytes().end()) == kRecord;
        }),
    S("read: an answer too short for the record is incomplete", Read,
      {{10, Frame(3, Bytes(kRecord.begin(), kRecord.begin() + 100))}},
      SessionReason::IncompleteAnswer, 10),
    S("read: silence ends it once 3 s have passed", Read, {}, SessionReason::NoAnswer, 3001),
    S("read: the device went away", Read, {{50, {}, SessionReason::LinkLost}},
      SessionReason::LinkLost, 50),
    // Product information: command 7, the bytes received before are kept.
    S(
        "info: an answer already there is found, even with a limit of 0",
        [](ProtocolEngine& e) {
          e.SetTimings({.params = std::chrono::milliseconds(0)});
          e.OnBytes(Frame(3, {}) + Frame(7, kInfo), 0);
          return ReadInfo(e);
        },
        {}, kOk, 0,
        [](const Outcome& o, const ProtocolEngine& e) {
          const TSysInfo& i = e.sysInfo();
          return o.sent == std::vector<Bytes>{Frame(7, {})} && i.product_type == "DTU1" &&
                 i.product_model == "K7-GPRS-SIM1" && i.serial_type == "232" &&
                 i.sn == "SN-0123456789ABC";
        }),
    S(
        "info: a limit of 0 and nothing there: no answer 1 ms on",
        [](ProtocolEngine& e) {
          e.SetTimings({.params = std::chrono::milliseconds(0)});
          return ReadInfo(e);
        },
        {}, SessionReason::NoAnswer, 1),
    S("info: 20 bytes give the texts they hold whole", ReadInfo,
      {{10, Frame(7, Bytes(kInfo.begin(), kInfo.begin() + 20))}}, kOk, 10,
      [](const Outcome&, const ProtocolEngine& e) {
        return e.sysInfo().serial_type == "232" && e.sysInfo().sn.empty();
      }),
    S("info: silence ends it once 3 s have passed", ReadInfo, {}, SessionReason::NoAnswer, 3001),
    // Write the record: command 4, result byte 1.
    S("write: stored", Write, {{10, Frame(4, {1})}}, kOk, 10,
      [](const Outcome& o, const ProtocolEngine&) {
        return o.sent == std::vector<Bytes>{Frame(4, kRecord)} && o.sent[0].size() == 699;
      }),
    S("write: any result but 1 is refused", Write, {{10, Frame(4, {0})}}, SessionReason::Refused,
      10),
    S("write: an answer without a result byte is incomplete", Write, {{10, Frame(4, {})}},
      SessionReason::IncompleteAnswer, 10),
    S("write: silence ends it once 3 s have passed", Write, {}, SessionReason::NoAnswer, 3001),
    S("write: cancelled", Write, {{50, {}, SessionReason::Cancelled}}, SessionReason::Cancelled,
      50),
    // Download: the unit asks, the engine serves from the announced body.
    S("download: pieces out of order and repeated, then E3", Download,
      {{10, Piece(60, 40)}, {20, Piece(0, 60)}, {30, Piece(0, 60)}, {40, Frame(0xE3, {})}}, kOk, 40,
      Pieces({{60, 40}, {0, 60}, {0, 60}})),
    S("download: a zero count, counts past the announced end", Download,
      {{10, Piece(0, 0) + Piece(90, 30) + Piece(100, 5) + Piece(5000, 5)}, {20, Frame(0xE3, {})}},
      kOk, 20, Pieces({{0, 0}, {90, 10}, {100, 0}, {5000, 0}})),
    S("download: refused with E4", Download, {{10, Piece(0, 60)}, {20, Frame(0xE4, {})}},
      SessionReason::Refused, 20, Pieces({{0, 60}})),
    S("download: the stall counts from the last request, not from other frames", Download,
      {{10, Piece(0, 60)}, {5000, Frame(3, {}) + Frame(1, {})}, {9000, Damaged(Piece(60, 40))}},
      SessionReason::StoppedAsking, 10010, Pieces({{0, 60}})),
    S("download: silent after the announcement", Download, {}, SessionReason::StoppedAsking, 10000,
      Pieces({})),
    S("download: one piece asked 50 times in a row", Download, {{10, Times(Piece(60, 10), 50)}},
      SessionReason::RepeatedPiece, 10,
      Pieces(std::vector(49, std::pair<std::uint32_t, std::uint16_t>{60, 10}))),
    S("download: asked 49 times, then on", Download,
      {{10, Times(Piece(0, 60), 49) + Times(Piece(60, 40), 49) + Frame(0xE3, {})}}, kOk, 10),
    S("download: cancelled after the first piece", Download,
      {{10, Piece(0, 60)}, {20, {}, SessionReason::Cancelled}}, SessionReason::Cancelled, 20,
      Pieces({{0, 60}})),
};

// One script, whole and byte by byte: the same ending at the same time, the
// same frames sent, and the script's own check.
bool Passes(const Script& s) {
  Outcome outcomes[2];
  for (bool byteByByte : {false, true}) {
    ProtocolEngine engine;
    Outcome& o = outcomes[byteByByte];
    o = Play(engine, s.start, s.events, byteByByte);
    if (!o.finished || o.reason != s.reason || o.endedAt != s.endedAt || engine.Waiting() ||
        (s.check && !s.check(o, engine))) {
      std::printf("  %s: ended %s at %lld\n", byteByByte ? "byte by byte" : "whole",
                  SessionReasonName(o.reason), static_cast<long long>(o.endedAt));
      return false;
    }
  }
  return outcomes[0].sent == outcomes[1].sent;
}

} // namespace

std::vector<Row> EngineRows() {
  std::vector<Row> rows;
  for (const Script& s : kScripts) rows.push_back({s.name, [&s] { return Passes(s); }});
  rows.push_back({"engine: leave is command 2 at once; an operation set aside waits on", [] {
                    const EngineStep leave = ProtocolEngine::Leave();
                    ProtocolEngine e;
                    Read(e);
                    ProtocolEngine::Operation read = e.SetAside();
                    EngineStep inner = ReadInfo(e);
                    inner = e.OnBytes(Frame(7, kInfo), 20);
                    const bool innerDone = inner.finished && inner.reason == kOk && !e.Waiting();
                    e.TakeUp(std::move(read));
                    const EngineStep waiting = e.OnTime(3000);
                    const EngineStep outer = e.OnBytes(Frame(3, kRecord), 3000);
                    return leave.finished && leave.send.size() == 1 &&
                           leave.send[0].frame == Frame(2, {}) && innerDone && !waiting.finished &&
                           waiting.deadline == 3001 && outer.finished && outer.reason == kOk &&
                           e.sysInfo().product_type == "DTU1";
                  }});
  rows.push_back({"engine: bytes kept while nothing waits are bounded, the newest kept", [] {
                    ProtocolEngine e;
                    e.OnBytes(Bytes(100000, 0x55) + Frame(7, kInfo), 0);
                    const EngineStep s = ReadInfo(e);
                    const EngineStep idle = e.End(SessionReason::Cancelled);
                    return s.finished && s.reason == kOk && idle.finished &&
                           idle.reason == SessionReason::Cancelled;
                  }});
  return rows;
}
