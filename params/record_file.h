#pragma once
// Parameter records in files, for the command line and the window alike: a
// raw 693-byte record, or a readable profile when the name ends in .ini or
// .txt. QtCore only.

#include <QString>
#include <optional>
#include <vector>

#include "params/app_params.h"
#include "params/param_profile.h"

// True for names ending in .ini or .txt (any case): those hold a profile.
bool IsProfilePath(const QString& path);

// The whole file as bytes; nullopt with a reason when it is missing, not a
// plain file (a FIFO would block), or cannot be read.
std::optional<QByteArray> ReadPlainFile(const QString& path, QString& reason);

// Writes bytes whole or not at all; refuses an existing target that is not a
// plain file (a FIFO, a device node). False with a reason on failure.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason);

// A record from a raw file (exactly 693 bytes) or a profile applied onto base.
// Problems go to errors (a raw file's as one issue without a line); nullopt
// when there is any.
std::optional<TAppParams> LoadRecordFile(const QString& path, const TAppParams& base,
                                         ProfileChecks checks, std::vector<ProfileIssue>& errors);

// Writes the record raw or as a whole profile, by the name. False with a reason.
bool SaveRecordFile(const QString& path, const TAppParams& record, QString& reason);
