#pragma once
// Caption and message texts from caption.ini, and where the program lives.

#include <QString>

class QWidget;

// The program's directory, with a trailing separator. Set at start-up.
extern QString ExeDir;

// The message text of key from section "built_in" of caption.ini beside the
// program; read on every call. When the file, section or key is missing: the
// built-in text of a key added after the first version, else empty.
QString GetCaption(const QString& key);

// Applies the control texts of ".\caption.ini" (working directory) to the
// main window and the link settings dialog, and rebuilds the lists.
void LoadCaptions(QWidget& form1, QWidget& form3);
