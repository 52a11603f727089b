#pragma once
// INI files as Qt texts. The profile rules, the judging of a file's encoding
// and the decoding are ProfileIni's (its text functions); this layer reads
// and writes the file. UTF-8 and UTF-16 files decode as such, an ANSI file as
// GBK (the code page of the program's built-in texts), and a UTF-8 file with a
// few lines from another editor line by line: UTF-8 where a line is valid,
// GBK elsewhere.

#include <QList>
#include <QString>
#include <optional>
#include <utility>

#include "platform/profile_ini.h"

class IniTextFile {
public:
  using Encoding = IniEncoding;

  // Reads the file's bytes once; a missing or unreadable file reads as empty.
  explicit IniTextFile(const QString& path);

  // False when the file could not be read (missing, a directory, no access).
  bool exists() const { return exists_; }
  Encoding encoding() const { return ini_.encoding(); }

  // The value, decoded; nullopt when the section or key is missing.
  std::optional<QString> Find(const QString& section, const QString& key) const;
  // The value, decoded; def when the section or key is missing.
  QString GetString(const QString& section, const QString& key, const QString& def) const;
  // The value as a whole decimal integer; nullopt when missing or not an integer.
  std::optional<int> GetInt(const QString& section, const QString& key) const;

  // Judges the encoding of a file's raw bytes.
  static Encoding Detect(const QByteArray& bytes);

private:
  ProfileIni ini_;
  bool exists_ = false;
};

// Sets keys of one section like WritePrivateProfileString, in order, from one
// reading of the file (ProfileIni::SetText): a key whose value already reads
// so keeps its line, a changed one gets its line rewritten in the encoding
// the file was read in (UTF-8 for a new file), and every other line keeps its
// bytes. A file that needs no change is not written. When a key cannot be
// written (a line break in it, or a character the ANSI code page cannot
// hold), the keys before it are still written. False when not every key was
// written; reason then says why, in the system's words where the system refused.
bool WriteIniStrings(const QString& path, const QString& section,
                     const QList<std::pair<QString, QString>>& entries, QString* reason = nullptr);
// One key; see WriteIniStrings.
bool WriteIniString(const QString& path, const QString& section, const QString& key,
                    const QString& value, QString* reason = nullptr);
