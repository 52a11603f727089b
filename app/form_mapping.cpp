// The pages' controls bound to the configuration being edited
// (params/edited_config.h): values move between the two here; what they may
// be and what a unit receives is the configuration's to decide.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/app_texts.h"
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "params/field_model.h"

namespace {

// A label's text as the name of its field: without the colon some captions end in.
QString FieldName(QString label) {
  label = label.trimmed();
  while (label.endsWith(QLatin1Char(':')) || label.endsWith(QChar(0xFF1A))) label.chop(1);
  return label;
}

QString Utf8(const std::string& s) { return QString::fromStdString(s); }

} // namespace

std::string TForm1::ControlValue(AppField field) const {
  QWidget* control = WidgetsOf(field).control;
  if (auto* list = qobject_cast<QComboBox*>(control)) {
    if (list->currentIndex() < 0) return {};
    return FieldRowOf(field).kind == FieldKind::List ? std::to_string(list->currentIndex())
                                                     : list->currentText().toStdString();
  }
  if (auto* box = qobject_cast<QCheckBox*>(control)) return box->isChecked() ? "1" : "0";
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text().toStdString();
  if (auto* memo = qobject_cast<TMemo*>(control)) return memo->text().toStdString();
  return {};
}

void TForm1::PagesToConfig() {
  for (const FieldRow& row : kFieldRows)
    if (WidgetsOf(row.field).control) config_.SetValue(row.field, ControlValue(row.field));
}

void TForm1::ConfigToPages() {
  // The rules that run on the way read the pages as they are half filled:
  // the values to show are taken first.
  const EditedConfig::Values values = config_.values();
  for (const FieldRow& row : kFieldRows) {
    QWidget* control = WidgetsOf(row.field).control;
    if (!control) continue;
    const QString value = Utf8(values[std::size_t(row.field)]);
    if (auto* list = qobject_cast<QComboBox*>(control)) {
      SelectListIndex(list, value.isEmpty() ? -1
                            : row.kind == FieldKind::List
                                ? value.toInt()
                                : list->findText(value, Qt::MatchExactly));
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      edit->setText(value);
    } else if (auto* memo = qobject_cast<TMemo*>(control)) {
      memo->setText(value);
    }
  }
  // Selecting from code runs no list rule: each is applied here, so every
  // row that depends on a list matches its new selection.
  for (const FieldRow& row : kFieldRows)
    if (row.kind == FieldKind::List) ApplySelectorRules(row.field);
  // Each box last, after the rules that could change it, in record order
  // (the heartbeat before its answer, whose tick it clears); a box that
  // changes runs its rule as a click would.
  for (const AppFieldInfo& info : kAppFields)
    if (auto* box = qobject_cast<QCheckBox*>(WidgetsOf(info.id).control))
      box->setChecked(values[std::size_t(info.id)] == "1");
  PagesToConfig();
}

QString TForm1::FieldLabel(AppField field) const {
  const FieldWidgets& w = WidgetsOf(field);
  if (w.label) return FieldName(w.label->text());
  if (auto* box = qobject_cast<const QCheckBox*>(w.control)) return FieldName(box->text());
  return QString::fromLatin1(FieldInfo(field).name);
}

void TForm1::ShowLoaded(const EditedConfig::Loaded& loaded) {
  ConfigToPages();
  // A list left without a selection, or a box for a value that is neither
  // 0 nor 1, hides what the record holds: name it, with the raw value.
  for (AppField f : loaded.notShown)
    LogStatus(GetCaption(QStringLiteral("value_not_shown")) + FieldLabel(f) + u' ' +
                  QString::number(config_.loaded().Get(f)),
              clBlack, 9);
  for (AppField f : loaded.fullTexts)
    LogStatus(GetCaption(QStringLiteral("text_fills_field")) + FieldLabel(f), clBlack, 9);
}

void TForm1::DecodeParams(const TAppParams& p) { ShowLoaded(config_.Load(p, LoadedFrom::Unit)); }

std::optional<TAppParams> TForm1::EncodeParams() {
  PagesToConfig();
  const EditedConfig::Encoded encoded = config_.Encode();
  if (!encoded.record) {
    ShowErrorBox(this, InvalidIntegerMessage(Utf8(config_.value(encoded.notANumber))));
    return std::nullopt;
  }
  for (const StoredNote& note : encoded.notes)
    LogStatus(GetCaption(QStringLiteral("value_stored_as")) +
                  QStringLiteral("%1: %2 → %3 (%4)")
                      .arg(FieldLabel(note.field), Utf8(note.from), Utf8(note.to), Utf8(note.why)),
              clBlack, 9);
  return encoded.record;
}

bool TForm1::CheckPagesBeforeEncode() {
  PagesToConfig();
  const std::vector<ConfigRefusal> refusals = config_.Check();
  if (refusals.empty()) return true;
  const ConfigRefusal& first = refusals.front();
  // Bringing the page up moves the focus; that is no exit of the field
  // the technician is in, so no exit rule may run on the way.
  static constexpr void (TForm1::*kShowPage[])() = {
      &TForm1::SpeedButton1Click, &TForm1::SpeedButton2Click, &TForm1::SpeedButton3Click,
      &TForm1::SpeedButton4Click, &TForm1::SpeedButton5Click, &TForm1::SpeedButton6Click};
  static_assert(std::size(kShowPage) == kFieldPages.size());
  refusing_ = true;
  (this->*kShowPage[GroupOf(FieldRowOf(first.field)).page])();
  refusing_ = false;
  RefuseField(WidgetsOf(first.field).control);
  LogStatus(
      QStringLiteral("%1: %2 (%3)")
          .arg(FieldLabel(first.field), Utf8(config_.value(first.field)), Utf8(first.Detail())),
      clRed, 9);
  return false;
}
