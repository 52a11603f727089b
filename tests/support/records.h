#pragma once
// Parameter records shared by the tests that move a record between the
// pages, the DTU and files.

#include <QByteArray>
#include <QString>

#include "params/app_params.h"

// Every field holds a value of its own, all of them values the pages can
// show, so decoding and encoding again must give the same bytes and a field
// landing in the wrong place shows. Far from the start-up pages and from the
// factory set: command mode, a named protocol, wake-up mode, timed remote
// link, every box ticked, a switch command that is not the default.
TAppParams DistinctRecord();

// The factory parameter set, written out here from the factory table rather
// than taken from the program's code. The set leaves the identifier alone:
// dtuId is what the record carries there.
TAppParams FactoryRecord(const char* dtuId = "");

QByteArray RecordBytes(const TAppParams& record);
// The first 693 bytes; missing bytes are zero.
TAppParams RecordFrom(const QByteArray& bytes);

// One line per field in which actual differs from expected, with both
// values; empty when the records agree.
QString RecordDifferences(const TAppParams& actual, const TAppParams& expected);
