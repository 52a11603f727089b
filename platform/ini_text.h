#pragma once
// INI files as Qt texts. The profile rules are those of ProfileIni; this layer
// only decides the file's text encoding: valid UTF-8 (with or without a byte
// order mark) is read as UTF-8, anything else as GBK, the code page the
// program's built-in texts were written in.

#include <QString>
#include <optional>

#include "platform/profile_ini.h"

class IniTextFile {
public:
  enum class Encoding { Utf8, Gbk };

  // Reads the file's bytes once; a missing or unreadable file reads as empty.
  explicit IniTextFile(const QString& path);

  // False when the file could not be read (missing, a directory, no access).
  bool exists() const { return exists_; }
  Encoding encoding() const { return encoding_; }

  // The value, decoded; def when the section or key is missing.
  QString GetString(const QString& section, const QString& key, const QString& def) const;
  // The value as a whole decimal integer; nullopt when missing or not an integer.
  std::optional<int> GetInt(const QString& section, const QString& key) const;

  // Decides the encoding of raw INI bytes.
  static Encoding Detect(const QByteArray& bytes);

private:
  QByteArray Encode(const QString& text) const;

  ProfileIni ini_;
  bool exists_ = false;
  Encoding encoding_ = Encoding::Utf8;
};

// Sets one key like WritePrivateProfileString, encoding names and value in the
// file's existing encoding (UTF-8 for a new file); every other byte of the file
// stays. False when the file cannot be read or written, or when the value has
// characters that the file's encoding cannot hold.
bool WriteIniString(const QString& path, const QString& section, const QString& key,
                    const QString& value);
