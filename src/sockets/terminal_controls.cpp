#include "sockets/terminal_controls.h"

#include <QComboBox>

#include "shell/ipv4_text.h"
#include "sockets/local_addresses.h"

void FillLocalAddressBox(QComboBox* box) {
  for (int i = 0, n = LocalAddressCount(); i < n; ++i) {
    box->addItem(QString::fromStdString(DottedAddress(LocalAddressAt(i))));
  }
  box->setCurrentIndex(box->count() > 0 ? 0 : -1);
}
