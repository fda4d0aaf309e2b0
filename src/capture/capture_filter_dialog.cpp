#include "capture/capture_filter_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "capture/filter_rules.h"
#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/ui_thread.h"
#include "sys/socket_io.h"

namespace {

constexpr int kDialogWidth = 220;
constexpr int kDialogHeight = 202;
constexpr int kPortsTextLimit = 80;
// Room for ten of the longest IPv6 texts ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255") and
// the commas between them; ten dotted addresses need 159 of the 200 characters made for them.
constexpr int kAddressesTextLimit = 10 * 45 + 9;

const char* const kPortModes[] = {"Allow ALL ports", "Only Show ports in list",
                                  "Only Show source ports in list",
                                  "Only Show destination ports in list"};
const char* const kAddressModes[] = {"Allow ALL addresses", "Only Show addresses in list",
                                     "Only Show source addresses in list",
                                     "Only Show destination addresses in list"};

// Places a control at dialog units; id 0 for one that is not addressed.
template <typename T>
T* Add(T* control, int id, int x, int y, int width, int height) {
  if (id != 0) SetControlId(control, id);
  control->setGeometry(Dlu().rect(x, y, width, height));
  return control;
}

// One list's group: its mode list, its text field and the hint below it, from `top`.
void AddListGroup(QDialog* dialog, const char* title, int top, int modeId, const char* const* modes,
                  int textId, int textLimit, const char* hint) {
  auto* group = Add(new QGroupBox(QString::fromLatin1(title), dialog), 0, 7, top, 206, 66);
  auto* mode = Add(new QComboBox(dialog), modeId, 15, top + 12, 190, 12);
  for (int i = 0; i < 4; ++i) mode->addItem(QString::fromLatin1(modes[i]));
  mode->setCurrentIndex(-1);
  PutInGroup(mode, group);
  auto* text = Add(new QLineEdit(dialog), textId, 15, top + 27, 190, 12);
  text->setMaxLength(textLimit);
  PutInGroup(text, group);
  // Two lines' room: the address example is wider than the group at the usual fonts.
  auto* label = Add(new QLabel(QString::fromLatin1(hint), dialog), 0, 15, top + 41, 190, 20);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

bool Ticked(const QDialog* dialog, int id) {
  const auto* box = FindControl<QCheckBox>(dialog, id);
  return box != nullptr && box->isChecked();
}

int Selection(const QDialog* dialog, int id) {
  const auto* box = FindControl<QComboBox>(dialog, id);
  return box != nullptr ? box->currentIndex() : -1;
}

std::string FieldText(const QDialog* dialog, int id) {
  const auto* edit = FindControl<QLineEdit>(dialog, id);
  return edit != nullptr ? edit->text().toStdString() : std::string();
}

// The port list of the field; false after "Zero Is NOT allowed at a Port Number!".
bool ReadPorts(QDialog* dialog, CaptureFilter& filter) {
  int i = 0;
  for (const std::string& piece : FilterListPieces(FieldText(dialog, kFilterPortsId))) {
    // Checked after the cut to 16 bits, so 65536 cannot slip in as the list's end marker.
    const uint16_t port = PortPieceValue(piece);
    if (port == 0) {
      ShowError(dialog, "Zero Is NOT allowed at a Port Number!");
      return false;
    }
    filter.ports[i++] = NetworkPort(port);
  }
  return true;
}

// The address list of the field; false after "0.0.0.0 Is NOT allowed as an Address!" (for :: as
// well). A piece is an IPv6 address, or a dotted one; a piece that is neither is kept as
// 255.255.255.255; an empty piece counts as 0.0.0.0.
bool ReadAddresses(QDialog* dialog, CaptureFilter& filter) {
  int i = 0;
  for (const std::string& piece : FilterListPieces(FieldText(dialog, kFilterAddressesId))) {
    IpAddress address;
    if (std::optional<IpAddress> ipv6 = ParseIpv6Address(piece)) {
      address = *ipv6;
    } else if (!piece.empty()) {
      address = IpAddress::Ipv4(ParseDottedAddress(piece).value_or(0xFFFFFFFF));
    }
    if (address.isUnspecified()) {
      ShowError(dialog, "0.0.0.0 Is NOT allowed as an Address!");
      return false;
    }
    filter.addresses[i++] = address;
  }
  return true;
}

}  // namespace

CaptureFilterDialog::CaptureFilterDialog(QWidget* owner, CaptureFilter& current)
    : QDialog(owner), current_(current) {
  setWindowTitle(QStringLiteral("Packet Capture Filter :"));
  setFont(DialogFont());
  setModal(true);
  setFixedSize(Dlu().x(kDialogWidth), Dlu().y(kDialogHeight));

  Add(new QGroupBox(QStringLiteral("Protocol :"), this), 0, 7, 4, 206, 28);
  Add(new QCheckBox(QStringLiteral("Include TCP"), this), kFilterTcpId, 15, 16, 80, 10);
  Add(new QCheckBox(QStringLiteral("Include UDP"), this), kFilterUdpId, 105, 16, 80, 10);
  AddListGroup(this, "Ports :", 36, kFilterPortModeId, kPortModes, kFilterPortsId, kPortsTextLimit,
               "Seperate Ports with commas. EG 139,80");
  AddListGroup(this, "Addresses :", 106, kFilterAddressModeId, kAddressModes, kFilterAddressesId,
               kAddressesTextLimit,
               "Seperate IP Addresses with commas. EG 123.123.123.123,127.0.0.1");

  auto* ok = Add(new QPushButton(QStringLiteral("OK"), this), kFilterOkId, 109, 180, 50, 14);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { StoreFilterDialog(this, current_); });
  auto* cancel =
      Add(new QPushButton(QStringLiteral("Cancel"), this), kFilterCancelId, 163, 180, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  LoadFilterDialog(this, current_);
}

void LoadFilterDialog(QDialog* dialog, const CaptureFilter& filter) {
  if (filter.includeTcp) FindControl<QCheckBox>(dialog, kFilterTcpId)->setChecked(true);
  if (filter.includeUdp) FindControl<QCheckBox>(dialog, kFilterUdpId)->setChecked(true);
  FindControl<QComboBox>(dialog, kFilterPortModeId)->setCurrentIndex(filter.portMode);
  FindControl<QComboBox>(dialog, kFilterAddressModeId)->setCurrentIndex(filter.addressMode);
  SetControlText(dialog, kFilterPortsId, QString::fromStdString(FilterPortsText(filter)));
  SetControlText(dialog, kFilterAddressesId, QString::fromStdString(FilterAddressesText(filter)));
}

bool StoreFilterDialog(QDialog* dialog, CaptureFilter& current) {
  CaptureFilter filter;
  filter.includeTcp = Ticked(dialog, kFilterTcpId) ? 1 : 0;
  filter.includeUdp = Ticked(dialog, kFilterUdpId) ? 1 : 0;
  filter.portMode = Selection(dialog, kFilterPortModeId);
  if (!ReadPorts(dialog, filter)) return false;
  filter.addressMode = Selection(dialog, kFilterAddressModeId);
  if (!ReadAddresses(dialog, filter)) return false;

  current = filter;
  LoadFilterDialog(dialog, current);
  dialog->repaint();
  PauseUi(100);
  dialog->done(1);
  return true;
}
