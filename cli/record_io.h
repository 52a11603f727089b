#pragma once
// Parameter records in files and on stdout for the command line, in the kind
// --format asks for or the name says (.ini/.txt a profile, else raw).

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "cli/cli_options.h"
#include "params/app_params.h"
#include "params/param_profile.h"

// True when path is to be read or written as a profile.
bool IsProfileFor(const QString& path, FileFormat format);

// The record's bytes as the kind asks: profile text or the 693 raw bytes.
QByteArray RecordBytesAs(const TAppParams& record, bool profile);

// The record in path: a profile laid over base, or a raw record. nullopt with
// every problem in errors.
std::optional<TAppParams> LoadRecordAs(const QString& path, FileFormat format,
                                       const TAppParams& base, ProfileChecks checks,
                                       std::vector<ProfileIssue>& errors);

// Writes the record whole or not at all; an empty path is stdout (a profile
// unless --format bin). False with the system's reason.
bool SaveRecordAs(const QString& path, FileFormat format, const TAppParams& record,
                  QString& reason);

// Why an output file could not be made in that place before anything is
// done: a missing folder, something that is not a plain file. Empty when
// it may be written (the write itself may still fail).
QString OutputPathProblem(const QString& path);
