// The real window on an X display (ctest runs it under Xvfb): connected to the
// simulated DTU and after a read, every page is grabbed from the X server and
// saved as a PNG, and the window's client area as the server has it must be
// 984 x 690.
//
// Usage: screenshots [--shots DIR] [--captions FILE] [Qt Test options]
// The pictures go to DIR, else $K7V_SCREENSHOT_DIR, else <build dir>/screenshots.
// FILE (e.g. resources/caption-en.ini) gives the window its texts, control and
// message texts alike, instead of the shipped caption.ini.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QtTest>
#include <memory>

#include "app/fonts.h"
#include "app/style.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

namespace {

// Green, as the status log writes a success.
const QColor kSuccess(0x00, 0x80, 0x00);

// A picture of one colour means the grab caught an unpainted window.
bool HasContent(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 7)
    for (int x = 0; x < image.width(); x += 7)
      if (image.pixel(x, y) != first) return true;
  return false;
}

} // namespace

class TestScreenshots : public QObject {
  Q_OBJECT
public:
  TestScreenshots(QString outDir, QString captions)
      : outDir_(std::move(outDir)), captions_(std::move(captions)) {}

private slots:
  void initTestCase();
  void clientAreaOnTheServer();
  void everyPage_data();
  void everyPage();
  void cleanupTestCase();

private:
  // Paints the window now and grabs it as the X server shows it.
  QImage grab();
  void save(const QImage& image, const QString& name);

  QString outDir_;
  QString captions_;
  DtuSimProcess sim_;
  std::unique_ptr<WindowFixture> fx_;
};

void TestScreenshots::initTestCase() {
  if (QGuiApplication::platformName() != u"xcb")
    QSKIP("needs an X display (QT_QPA_PLATFORM=xcb); ctest runs it under xvfb-run");
  QVERIFY2(QDir().mkpath(outDir_), qPrintable(outDir_));

  QString port;
  if (QByteArray(K7V_DTU_SIM).isEmpty()) {
    qWarning("no simulated DTU on this platform: the pictures show a window that is not connected");
  } else {
    QVERIFY2(sim_.start({QStringLiteral("--sn"), QStringLiteral("K7V23A0001")}),
             qPrintable(sim_.errorString()));
    port = sim_.devicePath();
  }
  fx_ = std::make_unique<WindowFixture>(nullptr, true, [&](const QDir& dir) {
    if (!port.isEmpty())
      WriteFile(dir.filePath(QStringLiteral("parcfg.ini")),
                "[serial]\r\ncom=" + port.toUtf8() + "\r\n");
    if (!captions_.isEmpty()) {
      // The window's working directory and message folder are both this one.
      const QString target = dir.filePath(QStringLiteral("caption.ini"));
      QFile::remove(target);
      if (!QFile::copy(captions_, target)) qWarning("cannot copy %s", qPrintable(captions_));
    }
  });
  TForm1& form = fx_->form();
  form.move(form.screen()->availableGeometry().center() - form.rect().center());
  QVERIFY(QTest::qWaitForWindowExposed(&form));

  if (!port.isEmpty()) {
    fx_->click("sb_com_open"); // returns once the unit has answered or the wait timed out
    QVERIFY2(form.link().LinkConnected, qPrintable(fx_->logTexts().join(u'\n')));
    fx_->click("sb_getpar");
    const QList<LogLine> lines = fx_->logLines();
    QVERIFY(!lines.isEmpty());
    QVERIFY2(lines.back().colour == kSuccess, qPrintable(fx_->logTexts().join(u'\n')));
    QVERIFY(!fx_->get<QLineEdit>("edsn")->text().isEmpty());
  }
}

void TestScreenshots::clientAreaOnTheServer() {
  TForm1& form = fx_->form();
  QProcess xwininfo;
  xwininfo.start(QStringLiteral("xwininfo"),
                 {QStringLiteral("-id"), QString::number(form.winId())});
  QVERIFY2(xwininfo.waitForFinished(10000) && xwininfo.exitCode() == 0,
           "xwininfo failed or is missing (it comes with x11-utils; run scripts/setup)");
  const QString info = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
  const auto width = QRegularExpression(QStringLiteral(R"(Width:\s*(\d+))")).match(info);
  const auto height = QRegularExpression(QStringLiteral(R"(Height:\s*(\d+))")).match(info);
  QVERIFY2(width.hasMatch() && height.hasMatch(), qPrintable(info));
  QCOMPARE(QSize(width.captured(1).toInt(), height.captured(1).toInt()), QSize(984, 690));
}

void TestScreenshots::everyPage_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("page");
  for (const auto& [button, page] : kPageButtons)
    QTest::newRow(page) << QString::fromLatin1(button) << QString::fromLatin1(page);
}

void TestScreenshots::everyPage() {
  QFETCH(QString, button);
  QFETCH(QString, page);
  fx_->click(qPrintable(button));
  QWidget* front = fx_->get<QStackedWidget>("PageStack")->currentWidget();
  QCOMPARE(front->objectName(), page);

  const int position =
      fx_->get<QStackedWidget>("PageStack")->currentIndex() + 1; // navigation order
  const QString stem = QStringLiteral("%1-%2").arg(position, 2, 10, QLatin1Char('0')).arg(page);
  save(grab(), stem);
  if (QTest::currentTestFailed()) return;

  // The scroll-box pages reach below the page area: their lower part too.
  if (auto* scroll = qobject_cast<QScrollArea*>(front)) {
    QScrollBar* bar = scroll->verticalScrollBar();
    QVERIFY2(bar->maximum() > 0, "the page does not scroll");
    bar->setValue(bar->maximum());
    save(grab(), stem + QStringLiteral("-bottom"));
    bar->setValue(0);
  }
}

void TestScreenshots::cleanupTestCase() {
  if (fx_) fx_->closeWindow();
  fx_.reset();
  sim_.stop();
  qInfo("screenshots in %s", qPrintable(QDir::toNativeSeparators(outDir_)));
}

QImage TestScreenshots::grab() {
  TForm1& form = fx_->form();
  // Pending layout first (a log's scroll bar appears that way), then a paint
  // that is flushed to the server before the grab asks for the picture.
  QCoreApplication::processEvents();
  form.repaint();
  QImage image = form.screen()->grabWindow(form.winId()).toImage();
  if (image.size() != QSize(984, 690))
    qWarning("grabbed %dx%d instead of the client area 984x690", image.width(), image.height());
  return image;
}

void TestScreenshots::save(const QImage& image, const QString& name) {
  QCOMPARE(image.size(), QSize(984, 690));
  QVERIFY2(HasContent(image), qPrintable(name + " is blank"));
  const QString path = QDir(outDir_).filePath(name + QStringLiteral(".png"));
  QVERIFY2(image.save(path), qPrintable(path));
}

int main(int argc, char* argv[]) {
  QString outDir =
      qEnvironmentVariable("K7V_SCREENSHOT_DIR", QStringLiteral(K7V_SCREENSHOT_DEFAULT_DIR));
  QString captions;
  // Our own option is taken out; the rest goes to Qt Test.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--shots" && i + 1 < argc) {
      outDir = QString::fromLocal8Bit(argv[++i]);
      continue;
    }
    if (std::string_view(argv[i]) == "--captions" && i + 1 < argc) {
      captions = QFileInfo(QString::fromLocal8Bit(argv[++i])).absoluteFilePath();
      continue;
    }
    args.push_back(argv[i]);
  }
  int qtArgc = int(args.size());
  args.push_back(nullptr);

  QApplication app(qtArgc, args.data());
  InstallFontSubstitutions(); // as the program itself starts
  ApplyStyle(app);
  TestScreenshots test(QDir(outDir).absolutePath(), captions);
  return QTest::qExec(&test, qtArgc, args.data());
}

#include "screenshot_main.moc"
