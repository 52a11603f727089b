#pragma once
// The live view on a terminal: a block of lines (one per unit or port, a
// totals line) redrawn in place, with the latest notes (retries, warnings, a
// stop) under it, so that no note is overwritten by the next redraw.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class LiveLines {
public:
  // Kept for the next Draw; only the latest few are shown.
  void AddNote(const QString& line) { notes_ << line; }
  // True once something has been drawn.
  bool drawn() const { return drawnLines_ > 0; }
  // Replaces what was drawn with lines and the notes under them; without
  // force, skipped while the last redraw is too recent. False when stdout failed.
  bool Draw(const QStringList& lines, bool force);

private:
  int drawnLines_ = 0;
  QStringList notes_;
  QElapsedTimer sinceDraw_;
};
