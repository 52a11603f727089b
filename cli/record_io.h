#pragma once
// Parameter records on stdout for the command line, and where its output
// files may go; files themselves are params/record_file.h's.

#include <QString>
#include <optional>
#include <vector>

#include "params/app_params.h"
#include "params/param_profile.h"
#include "params/record_file.h"

// The file that write and station lay over each unit's record: a profile's
// text in any encoding a profile is read in, or a raw record as a whole
// profile (every field named; its issues name fields, not lines). nullopt
// with the problems in errors.
std::optional<ProfileSource> ProfileFileSource(const QString& path, FileFormat format,
                                               std::vector<ProfileIssue>& errors);

// Writes the record whole or not at all; an empty path is stdout (a profile
// unless --format bin). False with the system's reason.
bool SaveRecordAs(const QString& path, FileFormat format, const TAppParams& record,
                  QString& reason);

// Why an output file could not be made in that place before anything is
// done: a missing folder, something that is not a plain file. Empty when
// it may be written (the write itself may still fail).
QString OutputPathProblem(const QString& path);
