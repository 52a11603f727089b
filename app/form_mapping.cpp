// Moving a parameter record onto the pages and building one from them.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/app_texts.h"
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/device_text.h"
#include "params/field_checks.h"
#include "params/hex_text.h"
#include "platform/ipv4.h"

namespace {

constexpr int kHexTextCapacity = 130;      // characters of the heartbeat text buffer
constexpr std::uint8_t kHeartbeatMax = 24; // bytes a heartbeat packet field holds
constexpr std::uint16_t kKtspMaxPacket = 992;
constexpr std::uint8_t kPtclKtsp = 1;
constexpr std::uint8_t kUdp = 1;

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

QString HeartbeatText(const TAppParams& p, AppField lenField, AppField bytesField) {
  // A length above the field's 24 bytes would show bytes of the next fields.
  const int count = std::min<std::uint32_t>(p.Get(lenField), kHeartbeatMax);
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
  void Heartbeat(AppField en, AppField len, AppField bytes, const QCheckBox* box,
                 const QString& text) {
    if (!box->isChecked()) return; // flag, length and bytes stay zero
    const QByteArray latin = text.toLatin1();
    const auto parsed = HexToBytes(std::string_view(latin.constData(), std::size_t(latin.size())),
                                   int(latin.size()));
    const std::size_t n = std::min<std::size_t>(parsed.size(), kHeartbeatMax);
    record.Set(en, 1);
    record.Set(len, std::uint32_t(n));
    std::copy_n(parsed.begin(), n, record.FieldBytes(bytes).begin());
  }

  TAppParams record;

private:
  QWidget* parent_;
};

} // namespace

void TForm1::DecodeParams(const TAppParams& p) {
  using F = AppField;
  auto text = [&](F f) { return DeviceBytesToText(p.GetText(f)); };
  auto ip = [&](F f) { return QString::fromStdString(Ipv4ToText(p.Get(f))); };

  SelectByPosition(cb_workmode, p.Get(F::run_mode));
  cb_workmodeChange(nullptr);

  SelectByText(cb_baudrate, p.Get(F::baudrate));
  SelectByText(cb_databit, p.Get(F::databit));
  SelectByText(cb_stopbit, p.Get(F::stopbit));
  SelectByPosition(cb_paritybit, p.Get(F::paritybit));
  SelectByPosition(cbdtuserialptcl, p.Get(F::com_ptcl));
  cbdtuserialptclClick(nullptr);

  ed_packet_length->setText(Decimal(p.Get(F::packet_len)));
  ed_delay->setText(Decimal(p.Get(F::delay)));
  SelectByPosition(cb_report, p.Get(F::debug));

  ed_apn->setText(text(F::apn));
  ed_pppname->setText(text(F::ppp_username));
  ed_pw->setText(text(F::ppp_pw));
  edprimaryDNS->setText(ip(F::main_dns));
  edSecondaryDNS->setText(ip(F::second_dns));
  edPingIP->setText(ip(F::ping_ip));
  edPinghost->setText(text(F::ping_host));
  edPingIvl->setText(Decimal(p.Get(F::ping_interval)));

  for (const DataCentre& c : DataCentres()) {
    c.ip->setText(ip(c.fip));
    c.port->setText(Decimal(p.Get(c.fport)));
    c.host->setText(text(c.fhost));
    SelectByPosition(c.type, p.Get(c.ftype));
  }

  ed_heart->setText(Decimal(p.Get(F::heart_interval)));
  ed_dtuid->setText(text(F::dtu_id));

  SelectByPosition(cbPtcl_select, p.Get(F::select_ptcl));
  cbPtcl_selectChange(nullptr);

  // Check boxes run their own rules when their tick changes.
  cb_insert_enable->setChecked(p.Get(F::dtuinsertid) == 1);
  ed_insert_pos->setText(Decimal(p.Get(F::dtuinsertid_pos)));
  ck_enable_heart->setChecked(p.Get(F::custom_heart_packet_en) == 1);
  m_heart->setText(HeartbeatText(p, F::custom_heart_packet_len, F::custom_heart_packet));
  ck_enable_heart_ack->setChecked(p.Get(F::custom_heart_packet_ack_en) == 1);
  m_heart_ack->setText(
      HeartbeatText(p, F::custom_heart_packet_ack_len, F::custom_heart_packet_ack));

  ed_idletime->setText(Decimal(p.Get(F::idle_interval)));
  ed_reconnecttime->setText(Decimal(p.Get(F::reconnect_interval)));
  ckbDropWakedata->setChecked(p.Get(F::drop_wakeup_data) == 1);
  ed_phone->setText(text(F::phone_number));
  ck_enable_recv_sms->setChecked(p.Get(F::recv_sms_en) != 0);

  edConf->setText(text(F::switch_cmd));

  edAuto_cnt_interval->setText(Decimal(p.Get(F::auto_interval)));
  edMasterIP->setText(ip(F::master_ip));
  edMasterPort->setText(Decimal(p.Get(F::master_port)));
  edMasterHostName->setText(text(F::master_host));
  SelectByPosition(cbPconlinemode, p.Get(F::run_type));
  cbPconlinemodeChange(nullptr);
  ePcreconnectinterval->setText(Decimal(p.Get(F::master_reconnect_interval)));
  edPincode->setText(text(F::pin_code));
  RememberFilledPages(&p);

  // A list left without a selection, or a box for a value that is neither
  // 0 nor 1, hides what the record holds: name it, with the raw value.
  const struct {
    QWidget* control;
    QLabel* label; // null: the check box's own text
    F field;
  } shown[] = {
      {cb_baudrate, Label74, F::baudrate},
      {cb_databit, Label103, F::databit},
      {cb_stopbit, Label91, F::stopbit},
      {cb_paritybit, Label104, F::paritybit},
      {cbdtuserialptcl, Label109, F::com_ptcl},
      {cb_report, Label18, F::debug},
      {cb_connecttype1, Label85, F::connection_type1},
      {cb_connecttype2, Label86, F::connection_type2},
      {cb_connecttype3, Label87, F::connection_type3},
      {cbPtcl_select, Label32, F::select_ptcl},
      {cb_insert_enable, nullptr, F::dtuinsertid},
      {ck_enable_heart, nullptr, F::custom_heart_packet_en},
      {ck_enable_heart_ack, nullptr, F::custom_heart_packet_ack_en},
      {cb_workmode, Label49, F::run_mode},
      {ckbDropWakedata, nullptr, F::drop_wakeup_data},
      {ck_enable_recv_sms, nullptr, F::recv_sms_en},
      {cbPconlinemode, Label48, F::run_type},
  };
  for (const auto& s : shown) {
    const auto* list = qobject_cast<const QComboBox*>(s.control);
    const bool hidden = list ? list->currentIndex() < 0 : p.Get(s.field) > 1;
    if (!hidden) continue;
    const QString name =
        s.label ? s.label->text() : static_cast<const QCheckBox*>(s.control)->text();
    LogStatus(GetCaption(QStringLiteral("value_not_shown")) + FieldName(name) + u' ' +
                  Decimal(p.Get(s.field)),
              clBlack, 9);
  }
}

std::optional<TAppParams> TForm1::EncodeParams() {
  using F = AppField;
  RecordBuilder b(this);
  if (!b.ListByText(F::baudrate, cb_baudrate) || !b.ListByText(F::databit, cb_databit) ||
      !b.ListByText(F::stopbit, cb_stopbit))
    return std::nullopt;
  b.ListByPosition(F::paritybit, cb_paritybit);
  b.ListByPosition(F::com_ptcl, cbdtuserialptcl);
  if (!b.Decimal(F::packet_len, ed_packet_length->text()) || !b.Decimal(F::delay, ed_delay->text()))
    return std::nullopt;
  b.ListByPosition(F::debug, cb_report);
  b.Text(F::apn, ed_apn->text());
  b.Text(F::ppp_username, ed_pppname->text());
  b.Text(F::ppp_pw, ed_pw->text());
  b.Ipv4(F::main_dns, edprimaryDNS->text());
  b.Ipv4(F::second_dns, edSecondaryDNS->text());
  b.Ipv4(F::ping_ip, edPingIP->text());
  if (!b.Decimal(F::ping_interval, edPingIvl->text())) return std::nullopt;
  b.Text(F::ping_host, edPinghost->text());

  for (const DataCentre& c : DataCentres()) {
    b.Ipv4(c.fip, c.ip->text());
    b.Text(c.fhost, c.host->text());
    if (!b.Decimal(c.fport, c.port->text())) return std::nullopt;
    b.ListByPosition(c.ftype, c.type);
  }

  if (!b.Decimal(F::heart_interval, ed_heart->text())) return std::nullopt;
  b.Text(F::dtu_id, ed_dtuid->text());
  b.ListByPosition(F::select_ptcl, cbPtcl_select);
  if (b.record.Get(F::select_ptcl) == kPtclKtsp) {
    // KTSP runs over UDP and carries at most 992 bytes a packet, whatever the pages show.
    for (F f : {F::connection_type1, F::connection_type2, F::connection_type3})
      b.record.Set(f, kUdp);
    if (b.record.Get(F::packet_len) > kKtspMaxPacket) b.record.Set(F::packet_len, kKtspMaxPacket);
  }
  b.Flag(F::dtuinsertid, cb_insert_enable);
  if (!b.Decimal(F::dtuinsertid_pos, ed_insert_pos->text())) return std::nullopt;
  b.Heartbeat(F::custom_heart_packet_en, F::custom_heart_packet_len, F::custom_heart_packet,
              ck_enable_heart, m_heart->text());
  b.Heartbeat(F::custom_heart_packet_ack_en, F::custom_heart_packet_ack_len,
              F::custom_heart_packet_ack, ck_enable_heart_ack, m_heart_ack->text());

  b.ListByPosition(F::run_mode, cb_workmode);
  if (!b.Decimal(F::idle_interval, ed_idletime->text()) ||
      !b.Decimal(F::reconnect_interval, ed_reconnecttime->text()))
    return std::nullopt;
  b.Flag(F::drop_wakeup_data, ckbDropWakedata);
  b.Text(F::phone_number, ed_phone->text());
  b.Flag(F::recv_sms_en, ck_enable_recv_sms);
  b.Text(F::switch_cmd, edConf->text());
  if (!b.Decimal(F::auto_interval, edAuto_cnt_interval->text())) return std::nullopt;
  b.Ipv4(F::master_ip, edMasterIP->text());
  b.Text(F::master_host, edMasterHostName->text());
  if (!b.Decimal(F::master_port, edMasterPort->text())) return std::nullopt;
  b.ListByPosition(F::run_type, cbPconlinemode);
  if (!b.Decimal(F::master_reconnect_interval, ePcreconnectinterval->text())) return std::nullopt;
  b.Text(F::pin_code, edPincode->text());
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

std::array<TForm1::DataCentre, 3> TForm1::DataCentres() const {
  using F = AppField;
  return {{
      {ed_ip1, ed_port1, ed_hostname1, cb_connecttype1, F::ip1, F::port1, F::hostname1,
       F::connection_type1},
      {ed_ip2, ed_port2, ed_hostname2, cb_connecttype2, F::ip2, F::port2, F::hostname2,
       F::connection_type2},
      {ed_ip3, ed_port3, ed_hostname3, cb_connecttype3, F::ip3, F::port3, F::hostname3,
       F::connection_type3},
  }};
}

std::vector<TForm1::PageField> TForm1::PageFields() const {
  using F = AppField;
  using T = TForm1;
  std::vector<PageField> fields{
      {F::packet_len, ed_packet_length, Label105, &T::SpeedButton1Click},
      {F::delay, ed_delay, Label106, &T::SpeedButton1Click},
      {F::apn, ed_apn, Label2, &T::SpeedButton2Click},
      {F::ppp_username, ed_pppname, Label3, &T::SpeedButton2Click},
      {F::ppp_pw, ed_pw, Label5, &T::SpeedButton2Click},
      {F::ping_ip, edPingIP, Label81, &T::SpeedButton2Click},
      {F::ping_host, edPinghost, Label82, &T::SpeedButton2Click},
      {F::ping_interval, edPingIvl, Label83, &T::SpeedButton2Click},
      {F::main_dns, edprimaryDNS, Label24, &T::SpeedButton2Click},
      {F::second_dns, edSecondaryDNS, Label6, &T::SpeedButton2Click},
      {F::pin_code, edPincode, Label7, &T::SpeedButton2Click},
      {F::ip1, ed_ip1, Label20, &T::SpeedButton3Click},
      {F::port1, ed_port1, Label26, &T::SpeedButton3Click},
      {F::hostname1, ed_hostname1, Label21, &T::SpeedButton3Click},
      {F::ip2, ed_ip2, Label27, &T::SpeedButton3Click},
      {F::port2, ed_port2, Label43, &T::SpeedButton3Click},
      {F::hostname2, ed_hostname2, Label40, &T::SpeedButton3Click},
      {F::ip3, ed_ip3, Label44, &T::SpeedButton3Click},
      {F::port3, ed_port3, Label46, &T::SpeedButton3Click},
      {F::hostname3, ed_hostname3, Label45, &T::SpeedButton3Click},
      {F::dtu_id, ed_dtuid, Label99, &T::SpeedButton4Click},
      {F::heart_interval, ed_heart, Label29, &T::SpeedButton4Click},
      {F::dtuinsertid_pos, ed_insert_pos, Label96, &T::SpeedButton4Click},
      {F::reconnect_interval, ed_reconnecttime, Label39, &T::SpeedButton5Click},
      {F::idle_interval, ed_idletime, Label42, &T::SpeedButton5Click},
      {F::phone_number, ed_phone, Label51, &T::SpeedButton5Click},
      {F::switch_cmd, edConf, Label16, &T::SpeedButton5Click},
      {F::master_reconnect_interval, ePcreconnectinterval, Label67, &T::SpeedButton6Click},
      {F::auto_interval, edAuto_cnt_interval, Label53, &T::SpeedButton6Click},
      {F::master_ip, edMasterIP, Label55, &T::SpeedButton6Click},
      {F::master_port, edMasterPort, Label56, &T::SpeedButton6Click},
      {F::master_host, edMasterHostName, Label57, &T::SpeedButton6Click},
  };
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
  const std::string primaryNameServer = edprimaryDNS->text().toStdString();
  for (const PageField& pf : PageFields()) {
    const QString text = pf.edit->text();
    const auto filled = filledTexts_.constFind(pf.edit);
    const bool changed = filled == filledTexts_.constEnd() || *filled != text;
    // An untouched text goes back with the bytes it came with.
    if (!changed && deviceTexts_.contains(pf.edit)) continue;
    const std::string value = text.toStdString();
    FieldCheck check = CheckStorable(pf.field, value);
    if (check.accepted() && changed)
      if (const auto rule = ExitRuleOf(pf.field))
        check = CheckExitRule(*rule, value, primaryNameServer);
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
