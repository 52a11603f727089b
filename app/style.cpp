#include "app/style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

Q_LOGGING_CATEGORY(lcStyle, "k7v.style")

// Q_INIT_RESOURCE must be used outside any namespace.
void InitArtResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  Q_UNUSED(registered);
}

namespace {

struct ButtonIcon {
  const char* button; // object name
  const char* icon;   // file under :/icons, without .png
  int sizePx;
};

constexpr int kNavIconPx = 24;
// 18 rather than 20: with the window's 13 px font, 连接设置 beside a 20 px icon
// needs one pixel more than its 80 px button has.
constexpr int kToolIconPx = 18;

const ButtonIcon kButtonIcons[] = {
    {"SpeedButton1", "serial", kNavIconPx},
    {"SpeedButton2", "dial", kNavIconPx},
    {"SpeedButton3", "channel", kNavIconPx},
    {"SpeedButton4", "ptcl", kNavIconPx},
    {"SpeedButton5", "workmode", kNavIconPx},
    {"SpeedButton6", "remote", kNavIconPx},
    {"SpeedButton8", "update", kNavIconPx},
    {"SpeedButton7", "info", kNavIconPx},
    {"SpeedButton30", "connect_setup", kToolIconPx},
    {"sb_com_open", "connect", kToolIconPx},
    {"sb_com_close", "disconnect", kToolIconPx},
    {"SpeedButton11", "import", kToolIconPx},
    {"SpeedButton12", "export", kToolIconPx},
    {"SpeedButton15", "default", kToolIconPx},
    {"sb_getpar", "get", kToolIconPx},
    {"sb_setpar", "set", kToolIconPx},
    {"SpeedButton35", "folder_open", kToolIconPx},
};

// Fusion's light palette with our accent, so selections and focus marks that
// the style sheet does not draw still match it.
QPalette AccentPalette(const QStyle* style) {
  QPalette p = style ? style->standardPalette() : QPalette();
  const QColor accent(0x1f, 0x6f, 0x84);
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, accent);
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Text, QColor(0x1d, 0x27, 0x33));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x8a, 0x94, 0x9e));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x8a, 0x94, 0x9e));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x8a, 0x94, 0x9e));
  return p;
}

} // namespace

void ApplyStyle(QApplication& app) {
  InitArtResources();
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
    app.setStyle(fusion); // the application takes ownership
    app.setPalette(AccentPalette(fusion));
  } else {
    qCWarning(lcStyle) << "Fusion style not available; keeping" << app.style()->name();
  }
  app.setWindowIcon(QIcon(QStringLiteral(":/icons/k7vconf.png")));

  QFile sheet(QStringLiteral(":/style.qss"));
  if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text)) {
    qCWarning(lcStyle) << "style sheet missing from the resources";
    return;
  }
  app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

QIcon LoadIcon(const QString& name) {
  InitArtResources();
  const QPixmap normal(QStringLiteral(":/icons/%1.png").arg(name));
  if (normal.isNull()) {
    qCWarning(lcStyle) << "no icon named" << name;
    return {};
  }
  QIcon icon;
  icon.addPixmap(normal, QIcon::Normal);
  // Without its own picture Qt would grey the normal one itself; ours keeps
  // the shapes readable on both the grey column and the light tool panel.
  const QPixmap disabled(QStringLiteral(":/icons/%1_disabled.png").arg(name));
  if (!disabled.isNull()) icon.addPixmap(disabled, QIcon::Disabled);
  return icon;
}

void ApplyIcons(QWidget* form1) {
  if (!form1) return;
  for (const ButtonIcon& b : kButtonIcons) {
    auto* button = form1->findChild<QAbstractButton*>(QString::fromLatin1(b.button));
    if (!button) {
      qCDebug(lcStyle) << "no button" << b.button << "for icon" << b.icon;
      continue;
    }
    button->setIcon(LoadIcon(QString::fromLatin1(b.icon)));
    button->setIconSize(QSize(b.sizePx, b.sizePx));
  }
}
