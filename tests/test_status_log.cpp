// The status log: every line keeps its own format, the line limit drops the
// oldest line, and the view follows the newest line.

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "app/status_log.h"

namespace {

// The character format of the first character of a block.
QTextCharFormat FormatOf(const QTextBlock& block) {
  for (auto it = block.begin(); !it.atEnd(); ++it) {
    const QTextFragment f = it.fragment();
    if (f.isValid() && f.length() > 0) return f.charFormat();
  }
  return block.charFormat();
}

// A read-only plain text edit with the log on it, as the main window has.
struct LogView {
  std::unique_ptr<QPlainTextEdit> widget = std::make_unique<QPlainTextEdit>();
  QTextDocument* doc = widget->document();
  std::unique_ptr<StatusLog> log;

  LogView() {
    widget->setReadOnly(true);
    log = std::make_unique<StatusLog>(widget.get());
  }
  QString plainText() const { return doc->toPlainText(); }
  QTextCursor caret() const { return widget->textCursor(); }
  void setCaret(const QTextCursor& c) { widget->setTextCursor(c); }
};

QColor Rgb(TColor c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

} // namespace

class TestStatusLog : public QObject {
  Q_OBJECT

private slots:
  void linesKeepTheirOwnFormat();
  void emptyTextAddsEmptyLine();
  void limitDropsOldestLine();
  void scrollsToNewestLine();
};

void TestStatusLog::linesKeepTheirOwnFormat() {
  struct Line {
    QString text;
    TColor colour;
    int size;
    FontStyles style;
  };
  // The texts look like markup on purpose: they must appear as written.
  const Line lines[] = {
      {QStringLiteral("正在打开串口：COM1,115200-8-N-1"), clBlack, 9, {}},
      {QStringLiteral("<b>connected</b> & ready"), clGreen, 10, {}},
      {QStringLiteral("pos:1024"), clRed, 10, FontStyle::Bold},
      {QStringLiteral("&amp; <br> italic"), 0xFF8000, 12, FontStyle::Italic},
  };

  LogView view;
  StatusLog& log = *view.log;
  for (const Line& l : lines) log.Append(l.text, l.colour, l.size, l.style);

  QCOMPARE(log.LineCount(), int(std::size(lines)));
  QTextBlock block = view.doc->firstBlock();
  for (const Line& l : lines) {
    QVERIFY(block.isValid());
    QCOMPARE(block.text(), l.text);
    const QTextCharFormat fmt = FormatOf(block);
    QCOMPARE(fmt.foreground().color(), Rgb(l.colour));
    QCOMPARE(fmt.fontPointSize(), qreal(l.size));
    QCOMPARE(fmt.fontWeight() >= QFont::Bold, l.style.has(FontStyle::Bold));
    QCOMPARE(fmt.fontItalic(), l.style.has(FontStyle::Italic));
    QVERIFY(!fmt.fontUnderline());
    block = block.next();
  }
  QVERIFY(!block.isValid());
  QCOMPARE(view.plainText(),
           QStringList({lines[0].text, lines[1].text, lines[2].text, lines[3].text}).join(u'\n'));
}

void TestStatusLog::emptyTextAddsEmptyLine() {
  LogView view;
  StatusLog& log = *view.log;
  QCOMPARE(log.LineCount(), 0);

  // An empty first report is a line of its own, not the "nothing yet" state.
  log.Append(QString(), clBlack, 9, {});
  QCOMPARE(log.LineCount(), 1);
  log.Append(QStringLiteral("COM3"), clRed, 9, {});
  log.Append(QString(), clGreen, 10, {});
  QCOMPARE(log.LineCount(), 3);
  QCOMPARE(view.plainText(), QStringLiteral("\nCOM3\n"));

  // A line break inside a text does not make a second line.
  log.Append(QStringLiteral("a\nb"), clBlack, 9, {});
  QCOMPARE(log.LineCount(), 4);
}

void TestStatusLog::limitDropsOldestLine() {
  LogView view;
  StatusLog& log = *view.log;
  const TColor colours[] = {clBlack, clGreen, clRed};
  const int sizes[] = {9, 10, 11};
  for (int i = 0; i < kStatusLogMaxLines; ++i)
    log.Append(QString::number(i), colours[i % 3], sizes[i % 3], {});
  QCOMPARE(log.LineCount(), kStatusLogMaxLines);
  QCOMPARE(view.doc->firstBlock().text(), QStringLiteral("0"));

  log.Append(QString::number(kStatusLogMaxLines), colours[kStatusLogMaxLines % 3],
             sizes[kStatusLogMaxLines % 3], {});
  QCOMPARE(log.LineCount(), kStatusLogMaxLines);

  // Line 0 is gone; every remaining line has its own text and format.
  QTextBlock block = view.doc->firstBlock();
  for (int i = 1; i <= kStatusLogMaxLines; ++i, block = block.next()) {
    QVERIFY(block.isValid());
    if (block.text() != QString::number(i))
      QFAIL(qPrintable(QStringLiteral("line %1 reads %2").arg(i).arg(block.text())));
    const QTextCharFormat fmt = FormatOf(block);
    if (fmt.foreground().color() != Rgb(colours[i % 3]) || fmt.fontPointSize() != sizes[i % 3])
      QFAIL(qPrintable(QStringLiteral("line %1 lost its format").arg(i)));
  }
  QVERIFY(!block.isValid());

  // One more report still drops exactly one line.
  log.Append(QStringLiteral("next"), clBlack, 9, {});
  QCOMPARE(log.LineCount(), kStatusLogMaxLines);
  QCOMPARE(view.doc->firstBlock().text(), QStringLiteral("2"));
}

void TestStatusLog::scrollsToNewestLine() {
  LogView view;
  StatusLog& log = *view.log;
  view.widget->resize(300, 80);
  view.widget->show();
  QVERIFY(QTest::qWaitForWindowExposed(view.widget.get()));
  for (int i = 0; i < 40; ++i) log.Append(QStringLiteral("line %1").arg(i), clBlack, 9, {});

  QScrollBar* bar = view.widget->verticalScrollBar();
  QVERIFY(bar->maximum() > 0);
  QCOMPARE(bar->value(), bar->maximum());

  // The user scrolls up and puts the caret on the first line.
  bar->setValue(0);
  QTextCursor first(view.doc);
  first.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
  view.setCaret(first);

  log.Append(QStringLiteral("newest"), clGreen, 10, {});
  QCOMPARE(bar->value(), bar->maximum());
  QCOMPARE(view.doc->lastBlock().text(), QStringLiteral("newest"));
  QVERIFY(!view.caret().hasSelection());
  QCOMPARE(view.caret().position(), view.doc->lastBlock().position());
  // The report went to the end, not to where the caret was.
  QCOMPARE(view.doc->firstBlock().text(), QStringLiteral("line 0"));
}

QTEST_MAIN(TestStatusLog)
#include "test_status_log.moc"
