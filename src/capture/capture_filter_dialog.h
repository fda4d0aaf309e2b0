#pragma once

#include <QDialog>

#include "capture/capture_filter.h"

// Control ids of the filter dialog.
inline constexpr int kFilterTcpId = 1038;
inline constexpr int kFilterUdpId = 1039;
inline constexpr int kFilterPortModeId = 1040;
inline constexpr int kFilterPortsId = 1041;
inline constexpr int kFilterAddressModeId = 1042;
inline constexpr int kFilterAddressesId = 1043;
inline constexpr int kFilterOkId = 1;
inline constexpr int kFilterCancelId = 2;

// The modal "Packet Capture Filter :" dialog: protocols, a port list and an address list, each
// list with its mode. OK replaces `current` whole, or shows why not and stays open; Cancel,
// Escape and the close box leave it untouched.
class CaptureFilterDialog : public QDialog {
  Q_OBJECT

 public:
  CaptureFilterDialog(QWidget* owner, CaptureFilter& current);

 private:
  CaptureFilter& current_;
};

// Shows the filter in the dialog's controls. A protocol box is ticked here, never unticked.
void LoadFilterDialog(QDialog* dialog, const CaptureFilter& filter);

// The dialog's OK: reads and checks the controls; on success replaces `current`, shows it again,
// waits 100 ms and closes the dialog with result 1. On a zero port or address it shows the
// message, stores nothing and leaves the dialog open; returns whether it stored.
bool StoreFilterDialog(QDialog* dialog, CaptureFilter& current);
