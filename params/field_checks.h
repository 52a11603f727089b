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
// what the field takes ("0~65535", "192.168.1.10, four numbers 0–255",
// "6 bytes (GBK)", "0~64 bytes"), so the window can print
// `端口1: 70000 (0~65535)` and the command line `port1: 70000: allowed
// 0~65535` from the same result. What a field takes is the field model's
// (field_model.h).

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

// The window's whole-number conversion; nullopt for an empty text, anything
// but an optional sign and digits, and numbers outside signed 32 bits.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Runs the field's exit rule (field_model.h: HasExitRule) on its text: the
// range of a number, an address (255.255.255.255 refused), the exact byte
// count of a text. zeroWhileZeroText is the text of the field the row names
// in zeroWhileZero (the primary name server, for the secondary one). A number
// rule given a text that is not a number returns NotANumber (the window shows
// its conversion box for it, the command line an error). A field without an
// exit rule is accepted.
FieldCheck CheckExitRule(AppField field, std::string_view text,
                         std::string_view zeroWhileZeroText = {});

// A text as a technician or a profile gives it, held to the field model's
// byte limit: one byte short of the record field, so that the unit finds
// the zero byte at its end (the switch command's exact length is its exit
// rule's). Accepted for a field that is no such text.
FieldCheck CheckGivenText(AppField field, std::string_view text);

// Whether the record field can hold the text as shown, as the pages would
// store it: numbers (U8, U16, U32, List, Flag) from 0 to the width's maximum;
// Ipv4 an address of four parts (platform/ipv4.h), 255.255.255.255 included;
// Text clean GBK of at most the field's width in bytes (a text the unit sent
// may fill it; a technician's is held one byte shorter by the field's rules). Bytes fields (heartbeat
// packets) are always accepted: their length lives in a field of its own.
// A field outside the table is refused with an empty `allowed`.
FieldCheck CheckStorable(AppField field, std::string_view text);

// The largest number the field's width holds (255, 65535, 4294967295); 0 for
// Text and Bytes fields and values outside the table.
std::uint32_t FieldMaximum(AppField field);
