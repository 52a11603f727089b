#include "app/fonts.h"

#include <QAbstractButton>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QLoggingCategory>
#include <QStringList>
#include <QWidget>

Q_LOGGING_CATEGORY(lcFonts, "k7v.fonts")

namespace {

// The window's own typeface; every form names it.
const QString kYaHei = QStringLiteral("微软雅黑");

struct Substitution {
  const char* family;            // as named by the forms (UTF-8)
  const char* const* candidates; // tried in order, null-terminated
};

// WenQuanYi Micro Hei has no bold face; its synthetic bold drops the dot of
// "i" at 14 and 15 px, which is why the pages' headings are 16 px.
const char* const kCjkSans[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                                "Microsoft YaHei",     "SimHei",           nullptr};
const char* const kLatinSans[] = {"DejaVu Sans", "Liberation Sans",     "Noto Sans", "Arial",
                                  "Tahoma",      "WenQuanYi Micro Hei", nullptr};

const Substitution kSubstitutions[] = {
    {"微软雅黑", kCjkSans},
    {"Microsoft YaHei", kCjkSans},
    {"宋体", kCjkSans},
    {"MS Sans Serif", kLatinSans},
};

// Installed families, compared without regard to case as the font database does.
bool Installed(const QStringList& families, const QString& family) {
  return families.contains(family, Qt::CaseInsensitive);
}

void SetPixelSize(QWidget* widget, int px) {
  if (!widget) return;
  QFont font = widget->font();
  font.setPixelSize(px);
  widget->setFont(font);
}

} // namespace

void InstallFontSubstitutions() {
  const QStringList families = QFontDatabase::families();
  for (const Substitution& s : kSubstitutions) {
    const QString family = QString::fromUtf8(s.family);
    if (Installed(families, family)) continue;
    QStringList present;
    for (const char* const* c = s.candidates; *c; ++c) {
      const QString candidate = QString::fromUtf8(*c);
      if (Installed(families, candidate)) present << candidate;
    }
    if (present.isEmpty()) {
      qCWarning(lcFonts) << "no installed font can stand in for" << family;
      continue;
    }
    qCDebug(lcFonts) << family << "->" << present;
    QFont::insertSubstitutions(family, present);
  }
}

bool HaveChineseFont() {
  return !QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty();
}

void ApplyFrameFonts(QWidget* form1) {
  if (!form1) return;
  QFont font = form1->font();
  font.setFamilies({kYaHei});
  font.setPixelSize(13);
  form1->setFont(font);
  // A widget that a style sheet rule matches takes the application's font
  // instead of its parent's, so the tool buttons and the status bar panels
  // are given the window's font outright; the bold ones stay bold.
  QList<QWidget*> styled;
  if (auto* tools = form1->findChild<QWidget*>(QStringLiteral("Panel4")))
    for (QAbstractButton* b : tools->findChildren<QAbstractButton*>()) styled << b;
  if (auto* bar = form1->findChild<QWidget*>(QStringLiteral("StatusBar1")))
    for (QLabel* l : bar->findChildren<QLabel*>()) styled << l;
  for (QWidget* w : styled) {
    QFont own = font;
    own.setBold(w->font().bold());
    w->setFont(own);
  }
  for (int i = 1; i <= 8; ++i)
    SetPixelSize(form1->findChild<QWidget*>(QStringLiteral("SpeedButton%1").arg(i)), 16);
  SetPixelSize(form1->findChild<QWidget*>(QStringLiteral("RichEdit1")), 12);
}
