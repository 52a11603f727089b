#pragma once
// k7vconf-cli fields: the field model (params/field_model.h) for people and
// for other front ends.

#include <QJsonArray>

// One object per field, in page order, with every fact of its row: names,
// page, group, label and unit with their caption keys and built-in texts,
// kind, words, range, byte limit, conditions, store and change rules. The
// keys are stable; the browser configurator reads them. Never fails.
QJsonArray FieldModelJson();

// `fields`: one line per field on stdout, or with json one JSON line whose
// `fields` is the array. Always 0 (a failing stdout is told at the end).
int PrintFieldModel(bool json);
