#include "cli/live_lines.h"

#include "cli/cli_output.h"

namespace {
constexpr int kRedrawMs = 100; // the block is redrawn at most this often
constexpr int kNotes = 8;      // the latest notes shown under it
} // namespace

bool LiveLines::Draw(const QStringList& lines, bool force) {
  if (!force && sinceDraw_.isValid() && sinceDraw_.elapsed() < kRedrawMs) return true;
  sinceDraw_.start();
  QString out;
  if (drawnLines_ > 0) out += QStringLiteral("\x1b[%1A").arg(drawnLines_);
  while (notes_.size() > kNotes) notes_.removeFirst();
  for (const QString& line : lines + notes_) out += QStringLiteral("\r\x1b[2K") + line + u'\n';
  drawnLines_ = int(lines.size() + notes_.size());
  return PrintRaw(out.toUtf8());
}
