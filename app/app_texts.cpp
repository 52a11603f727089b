#include "app/app_texts.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QWidget>

#include "app/caption_table.h"
#include "app/message_texts.h"
#include "k7v_build_info.h"
#include "platform/ini_text.h"

Q_LOGGING_CATEGORY(lcTexts, "k7v.texts")

QString ExeDir;

namespace {

constexpr const char* kCaptionFile = "caption.ini";
constexpr const char* kEnglishCaptionFile = "caption-en.ini";

QString& CaptionFileOverride() {
  static QString path;
  return path;
}

QString WorkingCaptionFile() { return QDir::current().filePath(QLatin1String(kCaptionFile)); }

// The caption file the package installs for the user's language, seen from
// the program's directory. A caption.ini of the technician's own in the
// working directory says Chinese texts are wanted, whatever the language.
QString SharedCaptionFile() {
  const QString dir = QDir::cleanPath(QDir::fromNativeSeparators(ExeDir) +
                                      QLatin1String("/" K7V_SHARED_TEXTS_FROM_PROGRAM)) +
                      QLatin1Char('/');
  const QString chinese = dir + QLatin1String(kCaptionFile);
  if (UserLanguageIsChinese() || QFileInfo(WorkingCaptionFile()).isFile()) return chinese;
  const QString english = dir + QLatin1String(kEnglishCaptionFile);
  return QFileInfo(english).isFile() ? english : chinese;
}

// The first of the candidates that exists; empty when none does.
QString FirstExisting(std::initializer_list<QString> candidates) {
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return path;
  return {};
}

// The first descendant of root with the name that does not lie inside
// exclude. The link settings dialog is a child of the main window and shares
// label names with it (Label1, Label16, ...), so main-window lookups must not
// wander into it.
template <class T>
T* FindNamed(QWidget& root, const QString& name, const QWidget* exclude) {
  const QList<T*> found = root.findChildren<T*>(name);
  for (T* candidate : found) {
    bool inside = false;
    for (const QObject* p = candidate; p && p != &root; p = p->parent()) {
      if (p == exclude) {
        inside = true;
        break;
      }
    }
    if (!inside) return candidate;
  }
  return nullptr;
}

// Gives a label, button or check box its text; false when there is no such control.
bool SetControlText(QWidget& root, const QString& name, const QString& text,
                    const QWidget* exclude) {
  QWidget* w = FindNamed<QWidget>(root, name, exclude);
  if (auto* label = qobject_cast<QLabel*>(w)) {
    // Caption texts are shown as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return true;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
    return true;
  }
  return false;
}

bool IsItem(CaptionKind kind) {
  return kind == CaptionKind::Item || kind == CaptionKind::DialogItem;
}

bool IsDialog(CaptionKind kind) {
  return kind == CaptionKind::DialogText || kind == CaptionKind::DialogItem ||
         kind == CaptionKind::DialogTitle;
}

} // namespace

void SetCaptionFileOverride(const QString& path) { CaptionFileOverride() = path; }

// Empty when no candidate exists.
QString ControlCaptionFile() {
  if (!CaptionFileOverride().isEmpty()) return FirstExisting({CaptionFileOverride()});
  return FirstExisting({WorkingCaptionFile(), SharedCaptionFile()});
}

// Empty when no candidate exists.
QString MessageCaptionFile() {
  if (!CaptionFileOverride().isEmpty()) return FirstExisting({CaptionFileOverride()});
  return FirstExisting({ExeDir + QLatin1String(kCaptionFile), SharedCaptionFile()});
}

QStringList CaptionFileCandidates() {
  if (!CaptionFileOverride().isEmpty()) return {CaptionFileOverride()};
  return {WorkingCaptionFile(), ExeDir + QLatin1String(kCaptionFile), SharedCaptionFile()};
}

bool UserLanguageIsChinese() {
#ifdef Q_OS_WIN
  return QLocale::system().language() == QLocale::Chinese;
#else
  // The first of these that is set decides, as for every program's messages.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty()) return value.startsWith(QLatin1String("zh"));
  }
  return false;
#endif
}

// A key missing from the file gives its built-in text when it was added
// after the first version, else an empty text, as the first version's file
// rules had it; no file at all gives every built-in text.
QString GetCaption(const QString& key) {
  // Looked up and read afresh every time: the file may be edited, or put in
  // place, while the program runs.
  const QString path = MessageCaptionFile();
  if (path.isEmpty()) return BuiltInMessage(key);
  const IniTextFile file(path);
  return file.GetString(QStringLiteral("built_in"), key,
                        IsAddedMessage(key) ? BuiltInMessage(key) : QString());
}

// Never fails: a missing or unreadable file gives the built-in texts, a
// missing control is skipped.
void LoadCaptions(QWidget& form1, QWidget& form3) {
  // A missing or unreadable file reads as an empty one: every default applies.
  const QString path = ControlCaptionFile();
  qCDebug(lcTexts) << "control texts from" << (path.isEmpty() ? QStringLiteral("built-in") : path);
  const IniTextFile file(path);

  const int lang = file.GetInt(QStringLiteral("lang"), QStringLiteral("lang")).value_or(0);
  if ((lang & 0xFF) != 0) return;

  const CaptionEntry* previous = nullptr;
  for (std::size_t i = 0; i < kCaptionTable.size(); ++i) {
    const CaptionEntry& entry = kCaptionTable[i];
    const CaptionEntry* next = i + 1 < kCaptionTable.size() ? &kCaptionTable[i + 1] : nullptr;
    QWidget& root = IsDialog(entry.kind) ? form3 : form1;
    const QWidget* exclude = IsDialog(entry.kind) ? nullptr : &form3;
    const QString name = QString::fromLatin1(entry.receiver);

    const bool firstItem =
        IsItem(entry.kind) &&
        !(previous && IsItem(previous->kind) && qstrcmp(previous->receiver, entry.receiver) == 0);
    QComboBox* list = IsItem(entry.kind) ? FindNamed<QComboBox>(root, name, exclude) : nullptr;
    if (firstItem && list) {
      const QSignalBlocker quiet(list);
      list->clear();
    }

    const QString text =
        file.GetString(QString::fromLatin1(entry.section), QString::fromLatin1(entry.key),
                       QString::fromUtf8(entry.def));
    bool applied = true;
    switch (entry.kind) {
    case CaptionKind::Text:
    case CaptionKind::DialogText:
      applied = SetControlText(root, name, text, exclude);
      break;
    case CaptionKind::DialogTitle:
      form3.setWindowTitle(text);
      break;
    case CaptionKind::Item:
    case CaptionKind::DialogItem: {
      applied = list != nullptr;
      if (!list) break;
      // Selecting from code must not run the list's change rule.
      const QSignalBlocker quiet(list);
      list->addItem(text);
      const bool lastItem =
          !(next && IsItem(next->kind) && qstrcmp(next->receiver, entry.receiver) == 0);
      if (lastItem) list->setCurrentIndex(0);
      break;
    }
    }
    if (!applied)
      qCWarning(lcTexts) << "caption" << entry.section << entry.key << "has no receiver"
                         << entry.receiver;
    previous = &entry;
  }
}
