// The protocol engine on a fake clock: every ending of every operation, each
// script played with the unit's bytes whole and again one byte at a time.
// The limits are the real ones (2 s, 3 s, 10 s, 50): they cost nothing here.

#include <cstdio>
#include <string_view>

#include "core_checks.h"
#include "link/protocol_engine.h"

namespace {

using Millis = ProtocolEngine::Millis;
using Start = std::function<EngineStep(ProtocolEngine&)>;
using R = SessionReason;

struct Event { // at a time: bytes from the unit, or (end not Ok) the caller ends it
  Millis at;
  Bytes bytes;
  R end = R::Ok;
};
struct Outcome {
  bool finished = false;
  R reason = R::Ok;
  Millis endedAt = -1;
  std::vector<Bytes> sent;
  std::vector<DownloadProgress> pieces;
};

// Plays the events as a driver would: the deadlines due before an event fire
// first; after the last event time runs on until the operation ends.
Outcome Play(ProtocolEngine& e, const Start& start, const std::vector<Event>& events,
             bool bytewise) {
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
    while (!out.finished && step.deadline != EngineStep::kNoDeadline && step.deadline <= t)
      take(e.OnTime(now = step.deadline));
  };
  take(start(e));
  for (const Event& ev : events) {
    runUntil(ev.at);
    if (out.finished) break;
    now = ev.at;
    if (ev.end != R::Ok)
      take(e.End(ev.end));
    else if (!bytewise)
      take(e.OnBytes(ev.bytes, now));
    else // every byte, those behind an answer too: they stay for later
      for (const std::uint8_t& b : ev.bytes) take(e.OnBytes({&b, 1}, now));
  }
  runUntil(Millis(1) << 40);
  return out;
}

Bytes B(std::string_view text) { return {text.begin(), text.end()}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Times(const Bytes& b, int n) { return n > 0 ? b + Times(b, n - 1) : Bytes{}; }
Bytes Distinct(std::size_t n, int step) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t(i * step + 3);
  return out;
}
Bytes Damaged(Bytes frame) {
  frame[frame.size() - 2] ^= 0x5A;
  return frame;
}
const Bytes kRecord = Distinct(TAppParams::kSize, 7);
const Bytes kBody = Distinct(120, 5); // 100 bytes announced: the last 20 are never served
// Product information: type, model, serial type, then the serial number at 33.
const Bytes kInfo = B("DTU1K7-GPRS-SIM1232") + Bytes(14, 0) + B("SN-0123456789ABC");
// A 32-bit and a 16-bit number, little-endian: offset and count, length and sum.
Bytes Pair(std::uint32_t offset, std::uint16_t count) {
  return {std::uint8_t(offset),       std::uint8_t(offset >> 8), std::uint8_t(offset >> 16),
          std::uint8_t(offset >> 24), std::uint8_t(count),       std::uint8_t(count >> 8)};
}
Bytes Piece(std::uint32_t offset, std::uint16_t count) { return Frame(0xE2, Pair(offset, count)); }

Start Enter(std::string_view command) {
  return [command](ProtocolEngine& e) { return e.StartEnter(B(command), 0); };
}
EngineStep Read(ProtocolEngine& e) { return e.StartReadParams(0); }
EngineStep Info(ProtocolEngine& e) { return e.StartReadSysInfo(0); }
EngineStep Write(ProtocolEngine& e) {
  return e.StartWriteParams(TAppParams::FromBytes(kRecord), 0);
}
EngineStep Download(ProtocolEngine& e) {
  return e.StartDownload({kBody, 100, "fw.bin", "V1.0", 4950}, 0);
}
// start, with these bytes received before it and the answers' limit set.
Start After(const Bytes& earlier, const Start& start, int limitMs = 3000) {
  return [=](ProtocolEngine& e) {
    e.SetTimings({.params = std::chrono::milliseconds(limitMs)});
    e.OnBytes(earlier, 0);
    return start(e);
  };
}

using Check = std::function<bool(const Outcome&, const ProtocolEngine&)>;
Check Sent(const Bytes& request, std::string_view version = {}) {
  return [=](const Outcome& o, const ProtocolEngine& e) {
    return o.sent == std::vector<Bytes>{request} && e.version() == version;
  };
}
Check Stored(const Bytes& record) {
  return [=](const Outcome&, const ProtocolEngine& e) {
    return Bytes(e.params().bytes().begin(), e.params().bytes().end()) == record;
  };
}
Check Product(const char* type, const char* model, const char* serial, const char* sn) {
  return [=](const Outcome&, const ProtocolEngine& e) {
    const TSysInfo& i = e.sysInfo();
    return i.product_type == type && i.product_model == model && i.serial_type == serial &&
           i.sn == sn;
  };
}
// The announcement, then one answer per (offset, count) carrying exactly
// those bytes of the body, with its progress.
Check Pieces(std::vector<std::pair<std::uint32_t, std::uint16_t>> expected) {
  return [expected](const Outcome& o, const ProtocolEngine&) {
    std::vector<Bytes> frames{
        Frame(0xE1, B("fw.bin") + Bytes(7, 0) + B("V1.0") + Bytes(5, 0) + Pair(100, 4950))};
    std::vector<std::uint64_t> reached;
    for (const auto& [offset, count] : expected) {
      const auto at = [](std::size_t n) {
        return kBody.begin() + std::min<std::ptrdiff_t>(n, 100);
      };
      frames.push_back(Frame(0xE2, Pair(offset, count) + Bytes(at(offset), at(offset + count))));
      reached.push_back(offset + count);
    }
    bool ok = o.sent == frames && o.pieces.size() == reached.size();
    for (std::size_t i = 0; ok && i < reached.size(); ++i)
      ok = o.pieces[i].reached == reached[i] && o.pieces[i].total == 100;
    return ok;
  };
}

struct Script {
  const char* name;
  Start start;
  std::vector<Event> events;
  R reason;
  Millis endedAt;
  Check check;
};
Script S(const char* name, Start start, std::vector<Event> events, R reason, Millis endedAt,
         Check check = {}) {
  return {name, std::move(start), std::move(events), reason, endedAt, std::move(check)};
}

const Script kScripts[] = {
    S("enter: version up to a zero; a short switch command padded with zero bytes", Enter("K7#"),
      {{5, Frame(1, B("V2.01") + Bytes(3, 0))}}, R::Ok, 5, Sent(B({"K7#\0\0\0", 6}), "V2.01")),
    S("enter: eight version bytes without a zero; a long switch command cut", Enter("K7#CFG99"),
      {{5, Frame(1, B("K7V-2.10xy"))}}, R::Ok, 5, Sent(B("K7#CFG"), "K7V-2.10")),
    S("enter: noise, a damaged answer and other commands passed over", Enter("######"),
      {{3, Bytes{0, 0xBB, 0xAA} + Frame(3, {}) + Damaged(Frame(1, B("V9"))) + Frame(7, {1})},
       {40, Frame(1, B("V1"))}},
      R::Ok, 40, Sent(B("######"), "V1")),
    S("enter: an answer at 2 s still counts", Enter("######"), {{2000, Frame(1, {})}}, R::Ok, 2000),
    S("enter: no answer once 2 s have passed; bytes do not extend it", Enter("######"),
      {{1999, Frame(3, {})}, {2001, Frame(1, B("V1"))}}, R::NoAnswer, 2001, Sent(B("######"))),
    S("read: the record; one received before the request is dropped",
      After(Frame(3, Distinct(TAppParams::kSize, 11)), Read), {{10, Frame(3, kRecord)}}, R::Ok, 10,
      Stored(kRecord)),
    S("read: an answer too short for the record is incomplete", Read,
      {{10, Frame(3, Bytes(kRecord.begin(), kRecord.begin() + 100))}}, R::IncompleteAnswer, 10,
      Sent(Frame(3, {}))),
    S("read: no answer once 3 s have passed", Read, {}, R::NoAnswer, 3001),
    S("info: an answer received before the request is kept; a limit of 0 finds it",
      After(Frame(3, {}) + Frame(7, kInfo), Info, 0), {}, R::Ok, 0,
      Product("DTU1", "K7-GPRS-SIM1", "232", "SN-0123456789ABC")),
    S("info: a limit of 0 and nothing there: no answer 1 ms on", After({}, Info, 0), {},
      R::NoAnswer, 1, Sent(Frame(7, {}))),
    S("info: no answer once 3 s have passed", Info, {}, R::NoAnswer, 3001),
    S("info: bytes kept while nothing waits are bounded, the newest kept",
      After(Bytes(100000, 0x55) + Frame(7, kInfo), Info), {}, R::Ok, 0),
    S("write: stored on 1", Write, {{10, Frame(4, {1})}}, R::Ok, 10, Sent(Frame(4, kRecord))),
    S("write: any other result is refused", Write, {{10, Frame(4, {2})}}, R::Refused, 10),
    S("write: an answer without a result byte is incomplete", Write, {{10, Frame(4, {})}},
      R::IncompleteAnswer, 10),
    S("write: no answer once 3 s have passed", Write, {}, R::NoAnswer, 3001),
    S("write: the caller's ending (a cancel, a lost device)", Write, {{50, {}, R::Cancelled}},
      R::Cancelled, 50),
    S("download: pieces out of order and repeated, then E3", Download,
      {{10, Piece(60, 40)}, {20, Piece(0, 60)}, {30, Piece(0, 60)}, {40, Frame(0xE3, {})}}, R::Ok,
      40, Pieces({{60, 40}, {0, 60}, {0, 60}})),
    S("download: a zero count, counts past the announced end", Download,
      {{10, Piece(0, 0) + Piece(90, 30) + Piece(100, 5) + Piece(5000, 5)}, {20, Frame(0xE3, {})}},
      R::Ok, 20, Pieces({{0, 0}, {90, 10}, {100, 0}, {5000, 0}})),
    S("download: refused with E4", Download, {{10, Piece(0, 60)}, {20, Frame(0xE4, {})}},
      R::Refused, 20, Pieces({{0, 60}})),
    S("download: the stall counts 10 s from the last request, not from other frames", Download,
      {{10, Piece(0, 60)}, {5000, Frame(3, {}) + Frame(1, {})}, {9000, Damaged(Piece(60, 40))}},
      R::StoppedAsking, 10010, Pieces({{0, 60}})),
    S("download: one piece asked 50 times in a row", Download, {{10, Times(Piece(60, 10), 50)}},
      R::RepeatedPiece, 10,
      Pieces(std::vector(49, std::pair<std::uint32_t, std::uint16_t>{60, 10}))),
    S("download: asked 49 times, then on", Download,
      {{10, Times(Piece(0, 60), 49) + Times(Piece(60, 40), 49) + Frame(0xE3, {})}}, R::Ok, 10),
    S("download: cancelled after the first piece", Download,
      {{10, Piece(0, 60)}, {20, {}, R::Cancelled}}, R::Cancelled, 20, Pieces({{0, 60}})),
};

// Whole and byte by byte: the same ending at the same time, the same frames.
bool Passes(const Script& s) {
  Outcome o[2];
  for (int bytewise : {0, 1}) {
    ProtocolEngine engine;
    o[bytewise] = Play(engine, s.start, s.events, bytewise);
    if (!o[bytewise].finished || o[bytewise].reason != s.reason ||
        o[bytewise].endedAt != s.endedAt || engine.Waiting() ||
        (s.check && !s.check(o[bytewise], engine)))
      return std::printf("  %s: %s at %lld\n", bytewise ? "byte by byte" : "whole",
                         SessionReasonName(o[bytewise].reason),
                         static_cast<long long>(o[bytewise].endedAt)) < 0;
  }
  return o[0].sent == o[1].sent;
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
                    Info(e);
                    const EngineStep inner = e.OnBytes(Frame(7, kInfo), 20);
                    e.TakeUp(std::move(read));
                    const EngineStep waiting = e.OnTime(3000);
                    const EngineStep outer = e.OnBytes(Frame(3, kRecord), 3000);
                    return leave.finished && leave.send[0].frame == Frame(2, {}) &&
                           inner.reason == R::Ok && inner.finished && !waiting.finished &&
                           waiting.deadline == 3001 && outer.finished && outer.reason == R::Ok;
                  }});
  return rows;
}
