#pragma once
// Heartbeat packets as the hexadecimal text the user edits.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Formats count bytes as "HH " groups (upper case) into a buffer of capacity
// characters cleared to zero first; returns the text up to the first zero.
// With a small capacity the text is cut there (the last character stays zero).
std::string BytesToHex(const std::uint8_t* bytes, int count, int capacity);

// Parses the first length characters of text into bytes. Separators are
// blanks, characters below '0', and anything that is not a hex digit; a digit
// followed by a separator is dropped with it; a single trailing character is
// ignored. Never fails.
std::vector<std::uint8_t> HexToBytes(std::string_view text, int length);
