#pragma once
// Where k7vconf-cli writes: results on stdout, problems on stderr, both UTF-8.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One line on stdout.
void PrintOut(const QString& line);
// Bytes on stdout as they are (a profile).
void PrintRaw(const QByteArray& bytes);
// One line on stderr.
void PrintError(const QString& line);
// One compact JSON object on its own line on stdout.
void PrintJson(const QJsonObject& object);
