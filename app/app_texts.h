#pragma once
// Caption and message texts from caption.ini, and where the program lives.

#include <QString>
#include <QStringList>

class QWidget;

// The program's directory, with a trailing separator. Set at start-up.
extern QString ExeDir;

// A caption file named by the technician (k7vconf --captions FILE) that
// replaces both places below; empty: the usual places.
void SetCaptionFileOverride(const QString& path);

// The file the control texts come from: the override, else caption.ini in the
// working directory, else the installed one in the shared texts folder beside
// the program (../share/k7vconf/ from bin/). Empty when none of them exists.
// The installed one follows the user's language when the working directory
// holds no caption.ini: caption.ini for Chinese, else caption-en.ini.
QString ControlCaptionFile();
// The file the message texts come from: the override, else caption.ini in the
// program's directory, else the installed one as above. Empty when none exists.
QString MessageCaptionFile();
// Every place the two functions above look, in the order they look; the
// override alone when there is one.
QStringList CaptionFileCandidates();
// True when the user's language is Chinese: LC_ALL, else LC_MESSAGES, else
// LANG names it (the system's language on Windows).
bool UserLanguageIsChinese();

// The message text of key from section "built_in" of the message caption
// file; read on every call. No caption file at all: the built-in text.
// Section or key missing from the file: the built-in text of a key added
// after the first version, else empty.
QString GetCaption(const QString& key);

// Applies the control texts of the control caption file to the main window
// and the link settings dialog, and rebuilds the lists.
void LoadCaptions(QWidget& form1, QWidget& form3);
