#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/limited_edit.h"
#include "app/message_box.h"
#include "link/serial_port.h"
#include "platform/profile_ini.h"

namespace {
QString ShippedCaptions() { return QStringLiteral(K7V_SOURCE_DIR "/resources/caption.ini"); }
} // namespace

ExpectedLine Progress(const char* key, const QString& suffix) {
  return {WindowFixture::caption(key) + suffix, kLogBlack, 9};
}
ExpectedLine Success(const char* key) { return {WindowFixture::caption(key), kLogGreen, 10}; }
ExpectedLine Failure(const char* key, const QString& suffix) {
  return {WindowFixture::caption(key) + suffix, kLogRed, 10};
}
ExpectedLine Refusal(const char* key) { return {WindowFixture::caption(key), kLogRed, 9}; }

QString ConversionError(const QString& text) {
  return QStringLiteral("'%1' is not a valid integer value.").arg(text);
}

SessionTimings WindowTimings() {
  SessionTimings t;
  t.connect = t.params = t.downloadStall = std::chrono::milliseconds(1000);
  return t;
}

SessionTimings SilentUnitTimings() {
  SessionTimings t;
  t.connect = t.params = t.downloadStall = std::chrono::milliseconds(100);
  return t;
}

void AddCloseRows() {
  QTest::addColumn<bool>("destroy");
  QTest::newRow("closed") << false;
  QTest::newRow("closed and destroyed") << true;
}

QStringList TestMachinePorts() { return {QStringLiteral("ttyS0")}; }

WindowFixture::WindowFixture(std::unique_ptr<SerialPort> port, bool withCaptions,
                             const Prepare& prepare) {
  previousListing_ = SetPortListing({});
  SetPortListing(previousListing_ ? previousListing_ : PortListing(TestMachinePorts));
  oldCwd_ = QDir::currentPath();
  if (withCaptions) QFile::copy(ShippedCaptions(), dir_.filePath(QStringLiteral("caption.ini")));
  if (prepare) prepare(QDir(dir_.path()));
  QDir::setCurrent(dir_.path());
  SetMessageBoxHandler([this](QWidget*, QMessageBox::Icon, const QString&, const QString& text) {
    boxes.append(text);
  });
  SetFileDialogHandler([this](const FileDialogSetup&) {
    if (dialogAnswers.empty()) return QString();
    QString answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  });
  form_ = std::make_unique<TForm1>(std::move(port));
  form_->SetSessionTimings(WindowTimings());
  ExeDir = dir_.path() + QLatin1Char('/'); // message texts from the copied caption.ini
  form_->show();
  if (!QTest::qWaitForWindowExposed(form_.get())) qWarning("window not exposed");
}

WindowFixture::~WindowFixture() {
  form_.reset();
  SetMessageBoxHandler({});
  SetFileDialogHandler({});
  QDir::setCurrent(oldCwd_);
  SetPortListing(previousListing_);
}

QList<LogLine> WindowFixture::logLines() const {
  QList<LogLine> lines;
  const auto* log = get<QPlainTextEdit>("RichEdit1");
  for (QTextBlock b = log->document()->firstBlock(); b.isValid(); b = b.next()) {
    LogLine line;
    line.text = b.text();
    QTextCharFormat fmt = b.charFormat();
    const auto it = b.begin();
    if (!it.atEnd()) fmt = it.fragment().charFormat();
    line.colour = fmt.foreground().color();
    line.pointSize = fmt.fontPointSize();
    lines.append(line);
  }
  // The document always holds one block; an empty log has no lines.
  if (lines.size() == 1 && lines.front().text.isEmpty() && log->document()->characterCount() <= 1)
    lines.clear();
  return lines;
}

QStringList WindowFixture::logTexts() const {
  QStringList texts;
  for (const LogLine& l : logLines()) texts.append(l.text);
  return texts;
}

QString WindowFixture::caption(const char* key) {
  return QString::fromStdString(
      ReadProfileString(ShippedCaptions().toStdString(), "built_in", key, ""));
}

bool WindowFixture::logTailIs(qsizetype from, const QList<ExpectedLine>& expected) const {
  const QList<LogLine> all = logLines();
  const QList<LogLine> lines = from >= 0 && from <= all.size() ? all.mid(from) : all;
  bool same = from >= 0 && lines.size() == expected.size();
  for (qsizetype i = 0; same && i < lines.size(); ++i)
    same = lines[i].text == expected[i].text && lines[i].colour == expected[i].colour &&
           qRound(lines[i].pointSize) == expected[i].size;
  if (!same) {
    for (const ExpectedLine& e : expected)
      qWarning().noquote() << "expected:" << e.text << e.colour.name() << e.size;
    for (const LogLine& l : all)
      qWarning().noquote() << "log:" << l.text << l.colour.name() << l.pointSize;
  }
  return same;
}

bool WindowFixture::lastLineIs(const ExpectedLine& expected) const {
  return logTailIs(logSize() - 1, {expected});
}

QString WindowFixture::text(const char* name) const {
  if (auto* memo = qobject_cast<TMemo*>(get<QWidget>(name))) return memo->text();
  return get<QLineEdit>(name)->text();
}

void WindowFixture::setText(const char* name, const QString& text) {
  if (auto* memo = qobject_cast<TMemo*>(get<QWidget>(name)))
    memo->setText(text);
  else
    get<QLineEdit>(name)->setText(text);
}

void WindowFixture::choose(const char* list, int index) {
  auto* box = get<QComboBox>(list);
  box->setCurrentIndex(index);
  emit box->activated(index);
}

void WindowFixture::click(const char* name) { get<QAbstractButton>(name)->click(); }

int WindowFixture::clickSampling(const char* name, const std::function<void()>& sample,
                                 int everyMs) {
  QObject context;
  bool active = true;
  int runs = 0;
  const auto run = [&] {
    if (!active) return;
    ++runs;
    sample();
  };
  QObject::connect(&form_->link().CommHandle(), &SerialPort::bytesArrived, &context, run);
  QTimer timer;
  timer.setInterval(everyMs);
  QObject::connect(&timer, &QTimer::timeout, &context, run);
  timer.start();
  click(name);
  active = false;
  return runs;
}

void WindowFixture::shortenWaitsFrom(const char* key) {
  // Taken at the line, not from the event loop: the next operation may start
  // right after it.
  whenLine(key, [this] { form_->SetSessionTimings(SilentUnitTimings()); });
}

void WindowFixture::onLine(const char* key, const std::function<void()>& action) {
  // Once; and the action may destroy the window, so the timer does not hang on it.
  whenLine(key, [form = QPointer<TForm1>(form_.get()), action, done = false]() mutable {
    if (!std::exchange(done, true))
      QTimer::singleShot(0, QCoreApplication::instance(), [form, action] {
        if (form) action();
      });
  });
}

void WindowFixture::whenLine(const char* key, const std::function<void()>& run) {
  if (!key) return run();
  QObject::connect(get<QPlainTextEdit>("RichEdit1"), &QPlainTextEdit::textChanged, form_.get(),
                   [this, line = caption(key), run] {
                     if (logTexts().value(logSize() - 1) == line) run();
                   });
}

void WindowFixture::closeWindow() {
  if (form_) form_->close();
  form_.reset();
}

void WindowFixture::closeOrDestroy(bool destroy) {
  if (destroy)
    closeWindow();
  else
    form_->close();
}

void WindowFixture::setPort(const QString& devicePath, const QString& switchCommand) {
  form_->Form3()->cb_com->setEditText(devicePath);
  if (!switchCommand.isEmpty()) form_->Form3()->edSwitchChr->setText(switchCommand);
}

bool WindowFixture::connectTo(const QString& devicePath, const QString& switchCommand) {
  setPort(devicePath, switchCommand);
  click("sb_com_open"); // returns once the DTU has answered or the wait has ended
  if (!form_->link().LinkConnected)
    qWarning().noquote() << "not connected:" << logTexts().join(u'\n');
  return form_->link().LinkConnected;
}

QString WindowFixture::linkButtons() const {
  QString s;
  for (const char* name : {"sb_com_open", "sb_com_close", "sb_getpar", "sb_setpar", "bStart"})
    s += get<QAbstractButton>(name)->isEnabled() ? u'1' : u'0';
  return s;
}

bool WindowFixture::waitCursor() const { return form_->cursor().shape() == Qt::WaitCursor; }

TAppParams WindowFixture::encoded() {
  const auto record = form_->EncodeParams();
  if (!record) qFatal("encoding failed: %s", qPrintable(boxes.join(u'|')));
  return *record;
}
