// Program entry: one main window, its message loop, and the look.

#include <QApplication>
#include <QScreen>

#include "app/fonts.h"
#include "app/main_window.h"
#include "app/style.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("K7v Conf tool"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.10"));
  InstallFontSubstitutions();
  ApplyStyle(app);

  TForm1 form;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
