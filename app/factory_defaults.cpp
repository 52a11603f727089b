// The factory parameter set, filled into the pages. Nothing is sent: the
// technician writes it to the DTU afterwards.

#include "app/app_texts.h"
#include "app/main_window.h"
#include "params/factory_set.h"

// Fills the pages with the factory set, leaving the device identifier as it
// is; cannot fail.
void TForm1::SpeedButton15Click() {
  PagesToConfig(); // the identifier as the technician left it
  config_.Load(FactoryParams(), LoadedFrom::Factory);
  ConfigToPages();
  LogStatus(GetCaption(QStringLiteral("default_par")), clBlack, 9);
}
