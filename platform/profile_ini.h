#pragma once
// INI files with the semantics of the Windows profile-string functions:
// section and key names match without regard to ASCII case; blanks around a
// value are dropped, then one pair of enclosing double or single quotes; the
// first match wins; a missing key gives the default; an empty value gives an
// empty text; no escapes, no inline comments. Values are raw bytes: the caller
// decides their encoding, except that UTF-16 files (those with a byte order
// mark, Notepad's "Unicode") are held as UTF-8 and written back as UTF-16.

#include <optional>
#include <string>
#include <string_view>

// How a file's bytes are text. An 8-bit file carries no mark of its code page,
// so that is judged from the bytes once, when the file is read.
enum class IniEncoding {
  Utf8,              // valid UTF-8 throughout, with or without a byte order mark
  Utf8WithAnsiLines, // UTF-8, but some lines are not: those are in the ANSI code page
  Ansi,              // the system's ANSI code page (GBK where this tool is used)
  Utf16Le,           // UTF-16 after a little-endian byte order mark
  Utf16Be,           // UTF-16 after a big-endian byte order mark
};

// True when bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view bytes);

// Judges an 8-bit file: Utf8 when every line is valid UTF-8; otherwise
// Utf8WithAnsiLines when the file has a UTF-8 byte order mark or more of its
// non-ASCII lines are valid UTF-8 than not (a UTF-8 file with a few lines
// added in another editor); else Ansi. Never fails.
IniEncoding JudgeEightBitEncoding(std::string_view bytes);

class ProfileIni {
public:
  ProfileIni() = default;
  // Raw 8-bit content, taken as it stands.
  explicit ProfileIni(std::string content)
      : content_(std::move(content)), encoding_(JudgeEightBitEncoding(content_)) {}

  // A file's bytes. UTF-16 after a byte order mark becomes UTF-8 (without a
  // mark) for the profile rules; unpaired surrogates and an odd last byte
  // become U+FFFD. Never fails.
  static ProfileIni FromFileBytes(std::string bytes);

  // Reads the whole file; false (and empty content) when it cannot be read.
  bool Load(const std::string& path);

  // The value, or nullopt when the section or key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
  // Decimal integer like GetPrivateProfileInt: optional sign and leading digits;
  // def when the key is missing or holds no digits.
  int GetInt(std::string_view section, std::string_view key, int def) const;
  // The value as a whole decimal integer (optional sign, digits only, within
  // int range); nullopt when the key is missing or holds anything else.
  // parcfg.ini reads its indexes as value_or(key default), caption.ini its
  // language selector as value_or(0).
  std::optional<int> FindInt(std::string_view section, std::string_view key) const;
  // The strict integer rule of FindInt on a text already freed of blanks and quotes.
  static std::optional<int> ParseInt(std::string_view text);

  // The value as UTF-8 text, decoded as the file was read: GBK in an ANSI
  // file, and in a UTF-8 file with ANSI lines GBK where the key's line is not
  // UTF-8. Names are UTF-8 too. nullopt when the section or key is missing.
  std::optional<std::string> FindText(std::string_view section, std::string_view key) const;

  enum class SetTextResult {
    Written,
    Unchanged,    // the key already read as the value: its line was left alone
    NotEncodable, // the file's code page (GBK) cannot hold a name or the value
    NotOneLine,   // as SetString refuses it
  };
  // Sets key to the UTF-8 text value like SetString, its line in the encoding
  // the file was read in (GBK for an ANSI file, else UTF-8). A key that already
  // reads as value keeps its line as it is, a value GBK could not decode
  // included. Every other line keeps its bytes, and the next reader judges the
  // file as this one did: where the changed line alone would tip the
  // judgement, a UTF-8 file gains a byte order mark and an ANSI file a GBK
  // comment line at its end. The content is unchanged unless Written.
  SetTextResult SetText(std::string_view section, std::string_view key, std::string_view value);

  // Sets key in section in the in-memory content: replaces the first matching
  // line's value, or appends the key to the section, or appends the section.
  // Every other byte stays as it was. False (content unchanged) when the names
  // or the value cannot be stored on one INI line: an empty name, a line break
  // anywhere, '=' or a leading '[' in the key, ']' in the section.
  bool SetString(std::string_view section, std::string_view key, std::string_view value);

  // The content as the profile rules see it: UTF-8 for a UTF-16 file.
  const std::string& content() const { return content_; }
  // The encoding judged when the content was taken; kept by FileBytes.
  IniEncoding encoding() const { return encoding_; }
  // The content as the file is to hold it: UTF-16 with its byte order mark
  // again for a UTF-16 file (bytes that are not UTF-8 become U+FFFD), the
  // bytes as they stand otherwise.
  std::string FileBytes() const;

private:
  std::string content_;
  IniEncoding encoding_ = IniEncoding::Utf8;
};

// Paths are UTF-8.
// One value from a file, like GetPrivateProfileString; def when the file is missing.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def);
// Like WritePrivateProfileString: creates the file when missing, changes only
// the line it writes, keeps a UTF-16 file UTF-16 (value then in UTF-8). False
// when the file cannot be written.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);
