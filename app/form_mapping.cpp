// Moving a parameter record onto the pages and building one from them.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/app_texts.h"
#include "app/device_text.h"
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "params/field_checks.h"
#include "params/field_model.h"
#include "params/hex_text.h"
#include "platform/ipv4.h"

namespace {

constexpr int kHexTextCapacity = 130; // characters of the heartbeat text buffer

QString Decimal(std::uint32_t value) { return QString::number(value); }

// A label's text as the name of its field: without the colon some captions end in.
QString FieldName(QString label) {
  label = label.trimmed();
  while (label.endsWith(QLatin1Char(':')) || label.endsWith(QChar(0xFF1A))) label.chop(1);
  return label;
}

void SelectByText(QComboBox* list, std::uint32_t value) {
  const int index = list->findText(QString::number(value), Qt::MatchExactly);
  QSignalBlocker block(list);
  list->setCurrentIndex(index); // -1 when no item spells the value
}

void SelectByPosition(QComboBox* list, std::uint32_t value) {
  QSignalBlocker block(list);
  list->setCurrentIndex(value < std::uint32_t(list->count()) ? int(value) : -1);
}

QString HeartbeatText(const TAppParams& p, AppField bytesField) {
  // A length above the field's 24 bytes would show bytes of the next fields.
  const int count =
      int(std::min<std::size_t>(p.Get(ByteCountFieldOf(bytesField)), FieldInfo(bytesField).size));
  return QString::fromLatin1(
      BytesToHex(p.FieldBytes(bytesField).data(), count, kHexTextCapacity).c_str());
}

// Builds the record field by field; the first text that is not a number ends it.
class RecordBuilder {
public:
  explicit RecordBuilder(QWidget* parent) : parent_(parent) {}

  bool Decimal(AppField f, const QString& text) {
    const auto value = ConvertInt32OrComplain(parent_, text);
    if (!value) return false;
    record.Set(f, std::uint32_t(*value)); // low bits, as wide as the field
    return true;
  }
  bool ListByText(AppField f, const QComboBox* list) {
    return Decimal(f, list->currentIndex() < 0 ? QString() : list->currentText());
  }
  void ListByPosition(AppField f, const QComboBox* list) {
    record.Set(f, std::uint32_t(list->currentIndex()) & 0xFF); // no selection: 0xFF
  }
  void Text(AppField f, const QString& text) {
    record.SetText(f, TextToDeviceBytes(text, FieldInfo(f).size));
  }
  void Ipv4(AppField f, const QString& text) { record.Set(f, Ipv4FromText(text.toStdString())); }
  void Flag(AppField f, const QCheckBox* box) { record.Set(f, box->isChecked() ? 1 : 0); }
  // The packet's bytes and their count; the store rules clear both while
  // the packet is off.
  void Packet(AppField bytes, const QString& text) {
    const QByteArray latin = text.toLatin1();
    const auto parsed = HexToBytes(std::string_view(latin.constData(), std::size_t(latin.size())),
                                   int(latin.size()));
    const std::size_t n = std::min<std::size_t>(parsed.size(), FieldInfo(bytes).size);
    record.Set(ByteCountFieldOf(bytes), std::uint32_t(n));
    std::copy_n(parsed.begin(), n, record.FieldBytes(bytes).begin());
  }

  TAppParams record;

private:
  QWidget* parent_;
};

} // namespace

void TForm1::FillPages(const TAppParams& p, AppField leave) {
  for (const FieldRow& row : kFieldRows) {
    QWidget* control = WidgetsOf(row.field).control;
    if (!control || row.field == leave) continue;
    const std::uint32_t value = p.Get(row.field);
    auto* list = qobject_cast<QComboBox*>(control);
    auto* edit = qobject_cast<QLineEdit*>(control);
    switch (row.kind) {
    case FieldKind::List:
      SelectByPosition(list, value);
      break;
    case FieldKind::Number:
      if (list)
        SelectByText(list, value);
      else
        edit->setText(Decimal(value));
      break;
    case FieldKind::Ipv4:
      edit->setText(QString::fromStdString(Ipv4ToText(value)));
      break;
    case FieldKind::Text:
      edit->setText(DeviceBytesToText(p.GetText(row.field)));
      break;
    case FieldKind::HexPacket:
      static_cast<TMemo*>(control)->setText(HeartbeatText(p, row.field));
      break;
    case FieldKind::Check:
      break; // last, below
    }
  }
  // Selecting from code runs no list rule: each is applied here, so every
  // row that depends on a list matches its new selection.
  for (const FieldRow& row : kFieldRows)
    if (row.kind == FieldKind::List && row.field != leave) ApplySelectorRules(row.field);
  // Each box from its own field, after the rules that could change it, in
  // record order (the heartbeat before its answer, whose tick it clears); a
  // box that changes runs its rule as a click would.
  for (const AppFieldInfo& info : kAppFields) {
    const FieldRow& row = FieldRowOf(info.id);
    auto* box = qobject_cast<QCheckBox*>(WidgetsOf(info.id).control);
    if (!box || row.kind != FieldKind::Check || info.id == leave) continue;
    const std::uint32_t value = p.Get(info.id);
    box->setChecked(row.onWhenNonZero ? value != 0 : value == 1);
  }
}

void TForm1::DecodeParams(const TAppParams& p) {
  FillPages(p);
  RememberFilledPages(&p);

  // A list left without a selection, or a box for a value that is neither
  // 0 nor 1, hides what the record holds: name it, with the raw value.
  for (const AppFieldInfo& info : kAppFields) {
    const FieldWidgets& w = WidgetsOf(info.id);
    const auto* list = qobject_cast<const QComboBox*>(w.control);
    const auto* box = qobject_cast<const QCheckBox*>(w.control);
    const bool hidden = list ? list->currentIndex() < 0 : box && p.Get(info.id) > 1;
    if (!hidden) continue;
    const QString name = w.label ? w.label->text() : box->text();
    LogStatus(GetCaption(QStringLiteral("value_not_shown")) + FieldName(name) + u' ' +
                  Decimal(p.Get(info.id)),
              clBlack, 9);
  }
}

std::optional<TAppParams> TForm1::EncodeParams() {
  RecordBuilder b(this);
  // Record order: with several fields that are not numbers, the first one
  // in the record is the one reported.
  for (const AppFieldInfo& info : kAppFields) {
    const FieldRow& row = FieldRowOf(info.id);
    QWidget* control = WidgetsOf(info.id).control;
    if (!control) continue; // stored from another field
    auto* list = qobject_cast<QComboBox*>(control);
    auto* edit = qobject_cast<QLineEdit*>(control);
    switch (row.kind) {
    case FieldKind::List:
      b.ListByPosition(info.id, list);
      break;
    case FieldKind::Number:
      if (list ? !b.ListByText(info.id, list) : !b.Decimal(info.id, edit->text()))
        return std::nullopt;
      break;
    case FieldKind::Text:
      b.Text(info.id, edit->text());
      break;
    case FieldKind::Ipv4:
      b.Ipv4(info.id, edit->text());
      break;
    case FieldKind::Check:
      b.Flag(info.id, static_cast<QCheckBox*>(control));
      break;
    case FieldKind::HexPacket:
      b.Packet(info.id, static_cast<TMemo*>(control)->text());
      break;
    }
  }
  // What the pages show is not all the record holds: KTSP runs over UDP
  // whatever the transport lists show, a packet that is off is nothing.
  ApplyStoreRules(b.record);
  // A text nobody touched goes back byte for byte, even where its bytes are
  // not clean GBK and would not survive decoding and encoding again.
  for (const PageField& pf : PageFields()) {
    const auto kept = deviceTexts_.constFind(pf.edit);
    if (kept == deviceTexts_.constEnd() || filledTexts_.value(pf.edit) != pf.edit->text()) continue;
    const auto field = b.record.FieldBytes(pf.field);
    if (std::size_t(kept->size()) == field.size())
      std::copy_n(kept->constData(), field.size(), field.begin());
  }
  return b.record;
}

std::vector<TForm1::PageField> TForm1::PageFields() const {
  // The navigation handlers of the model's pages, in the same order.
  using T = TForm1;
  static constexpr void (T::*kShowPage[])() = {&T::SpeedButton1Click, &T::SpeedButton2Click,
                                               &T::SpeedButton3Click, &T::SpeedButton4Click,
                                               &T::SpeedButton5Click, &T::SpeedButton6Click};
  static_assert(std::size(kShowPage) == kFieldPages.size());
  std::vector<PageField> fields;
  for (const FieldRow& row : kFieldRows)
    if (auto* edit = qobject_cast<QLineEdit*>(WidgetsOf(row.field).control))
      fields.push_back({row.field, edit, WidgetsOf(row.field).label, kShowPage[GroupOf(row).page]});
  return fields;
}

void TForm1::RememberFilledPages(const TAppParams* record) {
  for (const PageField& pf : PageFields()) {
    const QString text = pf.edit->text();
    if (record && FieldInfo(pf.field).encoding == FieldEncoding::Text) {
      const auto bytes = record->FieldBytes(pf.field);
      deviceTexts_.insert(pf.edit, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                              qsizetype(bytes.size())));
    } else if (filledTexts_.value(pf.edit) != text) {
      // The factory set leaves the identifier alone: a text it did not
      // change keeps the bytes it came with; the others are its own now.
      deviceTexts_.remove(pf.edit);
    }
    filledTexts_.insert(pf.edit, text);
  }
}

bool TForm1::CheckPagesBeforeEncode() {
  const TAppParams selectors = SelectorStates();
  for (const PageField& pf : PageFields()) {
    const QString text = pf.edit->text();
    const auto filled = filledTexts_.constFind(pf.edit);
    const bool changed = filled == filledTexts_.constEnd() || *filled != text;
    // An untouched text goes back with the bytes it came with.
    if (!changed && deviceTexts_.contains(pf.edit)) continue;
    const std::string value = text.toStdString();
    FieldCheck check = CheckStorable(pf.field, value);
    // A text the technician changed leaves the unit its zero byte.
    if (check.accepted() && changed) check = CheckGivenText(pf.field, value);
    // A field hidden or disabled in this mode is held only to what the
    // record can store: the unit ignores it there, and the technician could
    // not reach it to mend it.
    const AppField other = FieldRowOf(pf.field).zeroWhileZero;
    if (check.accepted() && changed && HasExitRule(pf.field) && FieldReachable(pf.field, selectors))
      check = CheckExitRule(
          pf.field, value,
          other == AppField::Count
              ? std::string()
              : static_cast<QLineEdit*>(WidgetsOf(other).control)->text().toStdString());
    // A text that is not a number is EncodeParams' to report, with its box.
    if (check.accepted() || check.outcome == FieldCheck::Outcome::NotANumber) continue;
    // Bringing the page up moves the focus; that is no exit of the field
    // the technician is in, so no exit rule may run on the way.
    refusing_ = true;
    (this->*pf.showPage)();
    refusing_ = false;
    RefuseField(pf.edit);
    LogStatus(QStringLiteral("%1: %2 (%3)")
                  .arg(FieldName(pf.label->text()), text, QString::fromStdString(check.allowed)),
              clRed, 9);
    return false;
  }
  return true;
}
