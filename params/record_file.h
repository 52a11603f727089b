#pragma once
// Parameter records in files, for the command line and the window alike: a
// raw 693-byte record, or a readable profile when the name ends in .ini or
// .txt (or when the caller says which, as --format does). QtCore only.

#include <QString>
#include <optional>
#include <vector>

#include "params/app_params.h"
#include "params/param_profile.h"

// What a file holds.
enum class FileFormat {
  ByName,  // a profile when the name ends in .ini or .txt, else a raw record
  Profile, // whatever the name
  Raw      // whatever the name
};

// True for names ending in .ini or .txt (any case): those hold a profile.
bool IsProfilePath(const QString& path);

// True when path is written as a profile in that format.
bool IsProfileFile(const QString& path, FileFormat format);
// True when the file's bytes are read as a profile in that format: ByName
// goes by the content (params/edited_config.h: FileReadsAsProfile).
bool ReadsAsProfile(const QString& path, const QByteArray& bytes, FileFormat format);

// The record as a whole profile text, or its 693 raw bytes. Never fails.
QByteArray RecordFileBytes(const TAppParams& record, bool profile);

// The whole file as bytes; nullopt with a reason when it is missing, not a
// plain file (a FIFO would block), or cannot be read.
std::optional<QByteArray> ReadPlainFile(const QString& path, QString& reason);

// Writes bytes whole or not at all; refuses an existing target that is not a
// plain file (a FIFO, a device node). False with a reason on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason);

// A record from a raw file (exactly 693 bytes) or a profile, in any encoding
// a profile is read in, applied onto base. Problems go to errors (a raw
// file's as one issue without a line); nullopt when there is any.
std::optional<TAppParams> LoadRecordFile(const QString& path, const TAppParams& base,
                                         ProfileChecks checks, std::vector<ProfileIssue>& errors,
                                         FileFormat format = FileFormat::ByName);

// Writes the record raw or as a whole profile. False with a reason.
bool SaveRecordFile(const QString& path, const TAppParams& record, QString& reason,
                    FileFormat format = FileFormat::ByName);
