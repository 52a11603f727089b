#pragma once
// Caption and message texts from caption.ini, and where the program lives.

#include <QString>

class QWidget;

// The program's directory, with a trailing separator. Set at start-up.
extern QString ExeDir;

// A caption file named by the technician (k7vconf --captions FILE) that
// replaces both places below; empty: the usual places.
void SetCaptionFileOverride(const QString& path);

// The file the control texts come from: the override, else caption.ini in the
// working directory, else the installed one in the shared texts folder beside
// the program (../share/k7vconf/ from bin/). Empty when none of them exists.
QString ControlCaptionFile();
// The file the message texts come from: the override, else caption.ini in the
// program's directory, else the installed one. Empty when none exists.
QString MessageCaptionFile();

// The message text of key from section "built_in" of the message caption
// file; read on every call. When the file, section or key is missing: the
// built-in text of a key added after the first version, else empty.
QString GetCaption(const QString& key);

// Applies the control texts of the control caption file to the main window
// and the link settings dialog, and rebuilds the lists.
void LoadCaptions(QWidget& form1, QWidget& form3);
