#pragma once
// INI files with the semantics of the Windows profile-string functions:
// section and key names match without regard to ASCII case; blanks around a
// value are dropped, then one pair of enclosing double or single quotes; the
// first match wins; a missing key gives the default; an empty value gives an
// empty text; no escapes, no inline comments. Values are raw bytes: the caller
// decides their encoding.

#include <optional>
#include <string>
#include <string_view>

class ProfileIni {
public:
  ProfileIni() = default;
  explicit ProfileIni(std::string content) : content_(std::move(content)) {}

  // Reads the whole file; false (and empty content) when it cannot be read.
  bool Load(const std::string& path);

  // The value, or nullopt when the section or key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view def) const;
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

  // Sets key in section in the in-memory content: replaces the first matching
  // line's value, or appends the key to the section, or appends the section.
  // Every other byte stays as it was. False (content unchanged) when the names
  // or the value cannot be stored on one INI line: an empty name, a line break
  // anywhere, '=' or a leading '[' in the key, ']' in the section.
  bool SetString(std::string_view section, std::string_view key, std::string_view value);

  const std::string& content() const { return content_; }

private:
  std::string content_;
};

// Paths are UTF-8.
// One value from a file, like GetPrivateProfileString; def when the file is missing.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def);
// Like WritePrivateProfileString: creates the file when missing, changes only
// the line it writes. False when the file cannot be written.
bool WriteProfileString(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);
