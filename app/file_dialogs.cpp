#include "app/file_dialogs.h"

#include <QFileDialog>
#include <QStringList>
#include <utility>

namespace {

// A dialog object rather than the static helpers, because only the object
// takes a default suffix (typed "fw" opens "fw.bin" where a default
// extension is given).
QString RealFileDialog(QWidget* parent, const FileDialogSetup& setup) {
  QFileDialog dialog(parent);
  dialog.setObjectName(QString::fromLatin1(setup.name));
  if (setup.save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Replacing a parameter file is the normal case; no question is asked.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (setup.filter && *setup.filter) dialog.setNameFilter(QString::fromLatin1(setup.filter));
  if (setup.defaultExt && *setup.defaultExt)
    dialog.setDefaultSuffix(QString::fromLatin1(setup.defaultExt));
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

FileDialogHandler& CurrentHandler() {
  static FileDialogHandler handler;
  return handler;
}

} // namespace

// The chosen path; empty when cancelled.
QString RunFileDialog(QWidget* parent, const FileDialogSetup& setup) {
  if (const FileDialogHandler& handler = CurrentHandler()) return handler(setup);
  return RealFileDialog(parent, setup);
}

// Returns the previous handler (empty when the real dialog was in use); an
// empty handler brings back the real dialog.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}
