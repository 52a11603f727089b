#pragma once
// What each parameter field accepts, as plain functions shared by the window
// (its exit rules and the check before a write or export) and the command
// line (profile checks). Texts are UTF-8; numbers are decimal text converted
// the way the window converts them (optional sign, digits, signed 32-bit).
//
// Two kinds of check:
//  - CheckStorable: can the record field hold the text as shown? A number
//    must fit the field's width, an address must convert, a text must be
//    GBK and fit the field's width in bytes. Failing this, a write would
//    put something else into the unit than what was shown.
//  - CheckExitRule: the rule the pages apply when a field is left. Stricter
//    than storage for some fields (a delay of 99 fits the record but is
//    refused); values the unit sent may still break it.
//
// Every result carries `allowed`, a short language-neutral description of
// what the field takes ("0~65535", "a.b.c.d", "6 bytes", "0~64 bytes"), so
// the window can print `端口1: 70000 (0~65535)` and the command line
// `port1: 70000: allowed 0~65535` from the same result.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "params/app_params.h"

struct FieldCheck {
  enum class Outcome : std::uint8_t {
    Accepted,
    NotANumber, // a number field whose text is not a whole signed 32-bit number
    Refused,    // a number, address or text that the check refuses
  };
  Outcome outcome = Outcome::Accepted;
  std::string allowed; // filled for every outcome, accepted included

  bool accepted() const { return outcome == Outcome::Accepted; }
};

// The exit rules of the pages, one per rule (several fields share some).
enum class ExitRule : std::uint8_t {
  Port,                // data-centre and management ports, heartbeat interval: at most 65535
  Address,             // data-centre and management addresses: an IPv4 address
  NameServer,          // primary name server and ping target: an IPv4 address
  SecondaryNameServer, // an IPv4 address; only 0.0.0.0 while the primary is 0.0.0.0
  PacketLength,        // 1 to 1024 (negative numbers pass)
  Delay,               // 100 to 1000
  Interval,            // idle and reconnect intervals: 5 to 65535
  SwitchCommand,       // exactly 6 bytes in GBK
  StartInterval,       // management start interval: anything but 1 to 9
  InsertPosition,      // at most 24
  PingInterval,        // at most 255
  ManagementReconnect, // at most 65535
};

// The window's whole-number conversion; nullopt for an empty text, anything
// but an optional sign and digits, and numbers outside signed 32 bits.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// The exit rule that guards the field on the pages; nullopt for fields the
// pages do not check when they are left (texts, lists, check boxes).
std::optional<ExitRule> ExitRuleOf(AppField field);

// Runs an exit rule on a field's text. primaryNameServer is the text of the
// primary name server field, read by SecondaryNameServer only. A number rule
// given a text that is not a number returns NotANumber (the window shows its
// conversion box for it, the command line an error).
FieldCheck CheckExitRule(ExitRule rule, std::string_view text,
                         std::string_view primaryNameServer = {});

// Whether the record field can hold the text as shown, as the pages would
// store it: numbers (U8, U16, U32, List, Flag) from 0 to the width's maximum;
// Ipv4 any text the platform's conversion takes, and 255.255.255.255; Text
// clean GBK of at most the field's width in bytes. Bytes fields (heartbeat
// packets) are always accepted: their length lives in a field of its own.
// A field outside the table is refused with an empty `allowed`.
FieldCheck CheckStorable(AppField field, std::string_view text);

// The largest number the field's width holds (255, 65535, 4294967295); 0 for
// Text and Bytes fields and values outside the table.
std::uint32_t FieldMaximum(AppField field);
