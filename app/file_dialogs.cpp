#include "app/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <utility>

#include "app/app_texts.h"

namespace {

// The folder of the last chosen file, per kind of dialog, while the program runs.
QHash<QString, QString>& LastFolders() {
  static QHash<QString, QString> folders;
  return folders;
}

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
  dialog.setDirectory(FileDialogStartFolder(setup));
  const QStringList filters = FileDialogFilters(setup);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
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

// Empty when the setup names no filter.
QStringList FileDialogFilters(const FileDialogSetup& setup) {
  if (!setup.filter || !*setup.filter) return {};
  const QString patterns = QString::fromLatin1(setup.filter);
  if (!setup.filterKey) return {patterns};
  return {GetCaption(QLatin1String(setup.filterKey)) + QStringLiteral(" (") + patterns + u')',
          GetCaption(QStringLiteral("all_files")) + QStringLiteral(" (*)")};
}

// Never empty: the home folder at the least.
QString FileDialogStartFolder(const FileDialogSetup& setup) {
  const QString last = LastFolders().value(QString::fromLatin1(setup.folder));
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

// The chosen path; empty when cancelled.
QString RunFileDialog(QWidget* parent, const FileDialogSetup& setup) {
  const FileDialogHandler& handler = CurrentHandler();
  const QString path = handler ? handler(setup) : RealFileDialog(parent, setup);
  if (!path.isEmpty())
    LastFolders().insert(QString::fromLatin1(setup.folder), QFileInfo(path).absolutePath());
  return path;
}

// Returns the previous handler (empty when the real dialog was in use); an
// empty handler brings back the real dialog.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}
