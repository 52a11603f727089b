#include "cli/cli_output.h"

#include <QJsonDocument>
#include <cstdio>

namespace {
// A write that fails (a closed pipe) is dropped: there is nobody left to tell.
void Write(FILE* to, const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to);
  std::fflush(to);
}
} // namespace

void PrintOut(const QString& line) { Write(stdout, (line + u'\n').toUtf8()); }
void PrintRaw(const QByteArray& bytes) { Write(stdout, bytes); }
void PrintError(const QString& line) { Write(stderr, (line + u'\n').toUtf8()); }
// Like PrintOut: never reports a failure.
void PrintJson(const QJsonObject& object) {
  Write(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}
