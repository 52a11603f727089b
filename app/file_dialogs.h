#pragma once
// File dialogs go through here, so tests can answer them.

#include <QString>
#include <functional>

class QWidget;

struct FileDialogSetup {
  const char* name;       // OpenDialog1, SaveDialog1, OpenDialog2
  bool save;              // save dialog rather than open dialog
  const char* filter;     // toolkit filter text, empty for none ("bin (*.bin)")
  const char* defaultExt; // without the dot, empty for none
};

inline constexpr FileDialogSetup OpenDialog1{"OpenDialog1", false, "", ""};
inline constexpr FileDialogSetup SaveDialog1{"SaveDialog1", true, "", ""};
inline constexpr FileDialogSetup OpenDialog2{"OpenDialog2", false, "bin (*.bin)", "bin"};

// The chosen path, or an empty text when the user cancelled.
QString RunFileDialog(QWidget* parent, const FileDialogSetup& setup);

using FileDialogHandler = std::function<QString(const FileDialogSetup& setup)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);
