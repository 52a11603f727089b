#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QTextBlock>
#include <QPlainTextEdit>
#include <QTest>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/message_box.h"
#include "link/serial_port.h"
#include "platform/profile_ini.h"

namespace {
QString ShippedCaptions() { return QStringLiteral(K7V_SOURCE_DIR "/resources/caption.ini"); }
} // namespace

WindowFixture::WindowFixture(std::unique_ptr<SerialPort> port, bool withCaptions, const Prepare& prepare) {
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
  ExeDir = dir_.path() + QLatin1Char('/'); // message texts from the copied caption.ini
  form_->show();
  if (!QTest::qWaitForWindowExposed(form_.get())) qWarning("window not exposed");
}

WindowFixture::~WindowFixture() {
  form_.reset();
  SetMessageBoxHandler({});
  SetFileDialogHandler({});
  QDir::setCurrent(oldCwd_);
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
  if (lines.size() == 1 && lines.front().text.isEmpty() && log->document()->characterCount() <= 1) lines.clear();
  return lines;
}

QStringList WindowFixture::logTexts() const {
  QStringList texts;
  for (const LogLine& l : logLines()) texts.append(l.text);
  return texts;
}

QString WindowFixture::caption(const char* key) {
  return QString::fromStdString(ReadProfileString(ShippedCaptions().toStdString(), "built_in", key, ""));
}

void WindowFixture::click(const char* name) { get<QAbstractButton>(name)->click(); }

void WindowFixture::closeWindow() {
  if (form_) form_->close();
  form_.reset();
}
