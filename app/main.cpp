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
#include <QLoggingCategory>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <system_error>

#include "app/app_texts.h"
#include "app/fonts.h"
#include "app/link_settings_dialog.h"
#include "app/main_window.h"
#include "app/style.h"
#include "k7v_build_info.h"

Q_LOGGING_CATEGORY(lcMain, "k7v.main")

namespace {

// The folder --user-folder works in, or why it cannot.
struct UserFolder {
  QString folder;      // as named to the technician
  QString problem;     // in the system's words; empty when the program works there now
  bool noHome = false; // neither $XDG_CONFIG_HOME nor $HOME is set
  bool usable() const { return problem.isEmpty() && !noHome; }
};

// The system's words for the last failed call, else for fallback.
QString LastSystemError(std::errc fallback) {
  return QString::fromLocal8Bit(std::generic_category().message(errno ? errno : int(fallback)));
}

// Makes the folder the menu entry starts the program in and moves there.
UserFolder EnterUserFolder() {
  UserFolder result;
#ifdef Q_OS_WIN
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#else
  // As the XDG rules say: a relative $XDG_CONFIG_HOME counts as unset. Qt
  // would fall back to the root folder when $HOME is missing too.
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (QDir::isRelativePath(base)) base.clear();
  if (base.isEmpty() && !qEnvironmentVariable("HOME").isEmpty())
    base = qEnvironmentVariable("HOME") + QLatin1String("/.config");
#endif
  if (base.isEmpty()) {
    result.folder = QStringLiteral("$XDG_CONFIG_HOME/k7vconf");
    result.noHome = true;
    return result;
  }
  const QString folder = QDir::cleanPath(QDir(base).filePath(QStringLiteral("k7vconf")));
  result.folder = QDir::toNativeSeparators(folder);
  errno = 0;
  if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
    result.problem = LastSystemError(std::errc::not_a_directory);
    return result;
  }
  // A folder that exists but takes no files would lose parcfg.ini at exit.
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("XXXXXX.probe")));
  if (!probe.open()) {
    result.problem = probe.errorString();
    return result;
  }
  probe.close();
  errno = 0;
  if (!QDir::setCurrent(folder)) result.problem = LastSystemError(std::errc::permission_denied);
  return result;
}

// The line that says why the program works where it was started instead.
QString UserFolderLine(const UserFolder& folder) {
  const QString parcfg = QDir::toNativeSeparators(
      QDir::current().absoluteFilePath(QString::fromLatin1(kLinkSettingsFile)));
  const QString why =
      folder.noHome ? GetCaption(QStringLiteral("user_folder_no_home")) : folder.problem;
  return GetCaption(QStringLiteral("user_folder_unusable")).arg(folder.folder, why, parcfg);
}

// True when argv holds option (before a "--").
bool HasOption(int argc, char* argv[], std::initializer_list<const char*> options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    for (const char* option : options)
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

// The options that only print text need no display: the window's
// application object would abort without one.
bool OnlyPrintsText(int argc, char* argv[]) {
  return HasOption(argc, argv, {"-h", "--help", "-?", "--help-all", "-v", "--version"});
}

// True where no window can be shown and Qt, left to itself, would abort with
// "Reinstalling the application may fix this problem": a Unix session (an
// ssh login, a console) with no display named and no platform chosen.
bool NoDisplay(int argc, char* argv[]) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  if (HasOption(argc, argv, {"-platform", "--platform"})) return false;
  return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
         qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
  Q_UNUSED(argc);
  Q_UNUSED(argv);
  return false;
#endif
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

// The program's options; the caller processes them.
struct Options {
  QCommandLineParser parser;
  QCommandLineOption captions{QStringLiteral("captions"),
                              QStringLiteral("Take the control and message texts from <file> "
                                             "(e.g. caption-en.ini)."),
                              QStringLiteral("file")};
  QCommandLineOption userFolder{
      QStringLiteral("user-folder"),
      QStringLiteral(
          "Work in $XDG_CONFIG_HOME/k7vconf (created when missing): parcfg.ini is kept there.")};
  QCommandLineOption whichCaptions{
      QStringLiteral("which-captions"),
      QStringLiteral("Print which caption files the window takes its texts from, then quit.")};

  Options() {
    parser.setApplicationDescription(
        QStringLiteral("Configures a K7v cellular data terminal unit over a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({captions, userFolder, whichCaptions});
  }
};

void NameTheApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("K7v Conf tool"));
  QCoreApplication::setApplicationVersion(QStringLiteral(K7V_VERSION));
}

} // namespace

int main(int argc, char* argv[]) {
  if (OnlyPrintsText(argc, argv)) {
    QCoreApplication text(argc, argv);
    NameTheApplication();
    Options options;
    options.parser.process(text); // prints and ends the program
    return 0;
  }
  if (NoDisplay(argc, argv)) {
    if (HasOption(argc, argv, {"--which-captions"})) {
      // The window is built to read its texts, never shown: no display needed.
      qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
      QCoreApplication text(argc, argv);
      NameTheApplication();
      Options options;
      options.parser.process(text); // a wrong option is told as it would be with a display
      std::fputs("k7vconf: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "not set); k7vconf-cli works without one\n",
                 stderr);
      return 1;
    }
  }

  QApplication app(argc, argv);
  NameTheApplication();
  // The desktop entry the window belongs to, for docks and window lists.
  QGuiApplication::setDesktopFileName(QStringLiteral(K7V_APP_ID));
  Options options;
  options.parser.process(app);

  // Before any change of directory: a relative name means the caller's folder.
  if (options.parser.isSet(options.captions)) {
    const QString name = options.parser.value(options.captions);
    const QString file = FindCaptionFile(name);
    if (file.isEmpty()) {
      std::fprintf(stderr, "k7vconf: no caption file %s\n", qPrintable(name));
      return 2;
    }
    SetCaptionFileOverride(file);
  }
  UserFolder folder;
  if (options.parser.isSet(options.userFolder)) {
    folder = EnterUserFolder();
    if (!folder.usable())
      qCWarning(lcMain) << "cannot work in" << folder.folder << folder.problem << "staying in"
                        << QDir::currentPath();
  }

  InstallFontSubstitutions();
  ApplyStyle(app);

  TForm1 form;
  // What the technician must know before starting, each said once in black.
  if (!folder.usable()) form.LogStatus(UserFolderLine(folder), clBlack, 9);
  if (!HaveChineseFont())
    form.LogStatus(GetCaption(QStringLiteral("font_missing")) + QLatin1String(kChineseFontPackage),
                   clBlack, 9);

  if (options.parser.isSet(options.whichCaptions)) {
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
