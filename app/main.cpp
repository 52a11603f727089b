// Program entry: one main window, its message loop, and the look.
//
// Options, for the desktop menu and for technicians:
//   --captions FILE   control and message texts from FILE (another language);
//                     a bare name not found here is looked for among the
//                     installed caption files (../share/k7vconf from bin/)
//   --user-folder     work in $XDG_CONFIG_HOME/k7vconf, where parcfg.ini and a
//                     caption.ini of one's own are kept; the menu entry uses it
//   --which-captions  build the window, say which caption files it took its
//                     texts from, and end

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>
#include <cstdio>

#include "app/app_texts.h"
#include "app/fonts.h"
#include "app/main_window.h"
#include "app/style.h"
#include "k7v_build_info.h"

namespace {

// The folder the menu entry starts the program in; empty when it cannot be made.
QString UserFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) return {};
  const QString folder = QDir(base).filePath(QStringLiteral("k7vconf"));
  return QDir().mkpath(folder) ? folder : QString();
}

// The caption file a technician named, as an absolute path; empty when there is none.
QString FindCaptionFile(const QString& name) {
  const QFileInfo given(name);
  if (given.isFile()) return given.absoluteFilePath();
  if (given.isRelative()) {
    const QFileInfo installed(QCoreApplication::applicationDirPath() +
                              QLatin1String("/" K7V_SHARED_TEXTS_FROM_PROGRAM "/") + name);
    if (installed.isFile()) return installed.absoluteFilePath();
  }
  return {};
}

void PrintLine(const QString& line) { std::fputs(qPrintable(line + QLatin1Char('\n')), stdout); }

} // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("K7v Conf tool"));
  QApplication::setApplicationVersion(QStringLiteral(K7V_VERSION));

  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("Configures a K7v cellular data terminal unit over a serial port."));
  options.addHelpOption();
  options.addVersionOption();
  const QCommandLineOption captions(
      QStringLiteral("captions"),
      QStringLiteral("Take the control and message texts from <file> (e.g. caption-en.ini)."),
      QStringLiteral("file"));
  const QCommandLineOption userFolder(
      QStringLiteral("user-folder"),
      QStringLiteral(
          "Work in $XDG_CONFIG_HOME/k7vconf (created when missing): parcfg.ini is kept there."));
  const QCommandLineOption whichCaptions(
      QStringLiteral("which-captions"),
      QStringLiteral("Print which caption files the window takes its texts from, then quit."));
  options.addOptions({captions, userFolder, whichCaptions});
  options.process(app);

  // Before any change of directory: a relative name means the caller's folder.
  if (options.isSet(captions)) {
    const QString file = FindCaptionFile(options.value(captions));
    if (file.isEmpty()) {
      std::fprintf(stderr, "k7vconf: no caption file %s\n", qPrintable(options.value(captions)));
      return 2;
    }
    SetCaptionFileOverride(file);
  }
  if (options.isSet(userFolder)) {
    const QString folder = UserFolder();
    if (folder.isEmpty() || !QDir::setCurrent(folder))
      std::fprintf(stderr, "k7vconf: cannot work in %s, staying in %s\n", qPrintable(folder),
                   qPrintable(QDir::currentPath()));
  }

  InstallFontSubstitutions();
  ApplyStyle(app);

  TForm1 form;
  if (options.isSet(whichCaptions)) {
    const auto shown = [](const QString& path) {
      return path.isEmpty() ? QStringLiteral("(built in)") : QDir::toNativeSeparators(path);
    };
    PrintLine(QStringLiteral("control texts: ") + shown(ControlCaptionFile()));
    PrintLine(QStringLiteral("message texts: ") + shown(MessageCaptionFile()));
    // A control and a message as the technician would see them.
    if (const auto* connect = form.findChild<QAbstractButton*>(QStringLiteral("sb_com_open")))
      PrintLine(QStringLiteral("connect button: ") + connect->text());
    PrintLine(QStringLiteral("message connected: ") + GetCaption(QStringLiteral("connected")));
    return 0;
  }

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
