#pragma once
// The look of the program: Fusion with our style sheet, and the button icons.

#include <QIcon>
#include <QString>

class QApplication;
class QWidget;

// Registers the pictures and the style sheet built into the program. The
// resources live in a static library, so nothing registers them on its own.
// Safe to call any number of times; cannot fail.
void InitArtResources();

// Sets the Fusion style, the style sheet ":/style.qss" and the program icon.
// Leaves the application's own look when the style sheet is missing.
void ApplyStyle(QApplication& app);

// The icon ":/icons/<name>.png", with ":/icons/<name>_disabled.png" as its
// disabled look when that exists. Returns a null QIcon for an unknown name.
QIcon LoadIcon(const QString& name);

// Gives the navigation and tool panel buttons of the main window (found under
// form1 by object name) and the firmware page's file button their icons.
// Buttons that are not there are skipped.
void ApplyIcons(QWidget* form1);
