#pragma once
// Fonts named by the Windows layout of the window, mapped to fonts that exist here.

class QWidget;

// Where "微软雅黑" (and the old "MS Sans Serif") are not installed, substitutes
// fonts that are, so the Chinese texts render instead of showing boxes.
// Call once after the QApplication exists; does nothing when no font matches.
void InstallFontSubstitutions();

// Gives the main window its pixel-exact fonts: 13 px for the window (the tool
// panel buttons and the status bar panels included), 16 px for the navigation
// buttons, 12 px for the status log. The form file can only say
// points, which equal these sizes only at 96 dpi. Skips controls not under form1.
void ApplyFrameFonts(QWidget* form1);

// The Debian package that brings a font with Chinese characters.
inline constexpr const char* kChineseFontPackage = "fonts-wqy-microhei";

// True when an installed font can show Chinese characters.
bool HaveChineseFont();
