#pragma once
// File dialogs go through here, so tests can answer them.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

struct FileDialogSetup {
  const char* name;       // OpenDialog1, SaveDialog1, OpenDialog2
  bool save;              // save dialog rather than open dialog
  const char* filter;     // toolkit filter text or bare patterns, empty for none
  const char* filterKey;  // message key that names filter's patterns; null: filter as it stands
  const char* defaultExt; // without the dot, empty for none
  const char* folder;     // dialogs with the same folder start where the last one ended
};

// Profiles and raw records, then any file: the technician's files are named freely.
inline constexpr FileDialogSetup OpenDialog1{"OpenDialog1", false, "*.ini *.txt *.bin",
                                             "param_files", "",    "params"};
inline constexpr FileDialogSetup SaveDialog1{"SaveDialog1", true, "*.ini *.txt *.bin",
                                             "param_files", "",   "params"};
inline constexpr FileDialogSetup OpenDialog2{"OpenDialog2", false, "bin (*.bin)",
                                             nullptr,       "bin", "firmware"};

// The chosen path, or an empty text when the user cancelled.
QString RunFileDialog(QWidget* parent, const FileDialogSetup& setup);

// The filters the dialog offers, first one selected: "参数文件 (*.ini *.txt *.bin)"
// and "所有文件 (*)" in the texts of the caption file. Empty for none.
QStringList FileDialogFilters(const FileDialogSetup& setup);
// Where the dialog opens: the folder of the last file chosen in a dialog of
// the same folder, else the user's Documents folder (the home folder when
// there is none). Never the working folder, which may be a hidden settings folder.
QString FileDialogStartFolder(const FileDialogSetup& setup);

using FileDialogHandler = std::function<QString(const FileDialogSetup& setup)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);
