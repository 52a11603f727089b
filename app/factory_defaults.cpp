// The factory parameter set, filled into the pages. Nothing is sent: the
// technician writes it to the DTU afterwards.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "app/app_texts.h"
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "params/factory_set.h"

// Fills the pages with the factory set; cannot fail.
void TForm1::SpeedButton15Click() {
  const QString zero = QStringLiteral("0.0.0.0");
  SelectListIndex(cb_baudrate, 1); // 57600
  SelectListIndex(cb_databit, 0);  // 8
  SelectListIndex(cb_stopbit, 0);  // 1
  SelectListIndex(cb_paritybit, 0);
  SelectListIndex(cbdtuserialptcl, 0);
  cbdtuserialptclClick(nullptr);
  ed_packet_length->setText(QStringLiteral("1024"));
  ed_delay->setText(QStringLiteral("300"));
  SelectListIndex(cb_report, 2);
  ed_apn->setText(QStringLiteral("cmnet"));
  ed_pppname->clear();
  ed_pw->clear();
  edprimaryDNS->setText(zero);
  edSecondaryDNS->setText(zero);
  edPingIP->setText(zero);
  edPinghost->clear();
  edPingIvl->setText(QStringLiteral("0"));
  ed_ip1->setText(zero);
  ed_port1->setText(QStringLiteral("51001"));
  ed_hostname1->setText(QString::fromLatin1(kFactoryHostname1));
  SelectListIndex(cb_connecttype1, 1); // UDP
  ed_ip2->setText(zero);
  ed_port2->setText(QStringLiteral("40002"));
  ed_hostname2->clear();
  SelectListIndex(cb_connecttype2, 0);
  ed_ip3->setText(zero);
  ed_port3->setText(QStringLiteral("40003"));
  ed_hostname3->clear();
  SelectListIndex(cb_connecttype3, 0);
  ed_heart->setText(QStringLiteral("0"));
  SelectListIndex(cbPtcl_select, 0);
  cbPtcl_selectChange(nullptr);
  cb_insert_enable->setChecked(false); // check boxes run their own rules
  ed_insert_pos->setText(QStringLiteral("0"));
  ck_enable_heart->setChecked(false);
  m_heart->setText(QString());
  ck_enable_heart_ack->setChecked(false);
  m_heart_ack->setText(QString());
  SelectListIndex(cb_workmode, 0);
  cb_workmodeChange(nullptr);
  ed_idletime->setText(QStringLiteral("300"));
  ed_reconnecttime->setText(QStringLiteral("10"));
  ckbDropWakedata->setChecked(false);
  ed_phone->clear();
  ck_enable_recv_sms->setChecked(false);
  edConf->setText(QStringLiteral("######"));
  edAuto_cnt_interval->setText(QStringLiteral("1440"));
  edMasterIP->setText(zero);
  edMasterPort->setText(QStringLiteral("6000"));
  edMasterHostName->setText(QString::fromLatin1(kFactoryMasterHost));
  SelectListIndex(cbPconlinemode, 1); // timed
  cbPconlinemodeChange(nullptr);
  ePcreconnectinterval->setText(QStringLiteral("300"));
  edPincode->clear();
  RememberFilledPages(nullptr);
  LogStatus(GetCaption(QStringLiteral("default_par")), clBlack, 9);
}
