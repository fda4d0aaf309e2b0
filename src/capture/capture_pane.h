#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "capture/capture_filter.h"
#include "capture/capture_service.h"
#include "shell/module_pane.h"
#include "shell/pane_run.h"

// Control ids of the Packet Capture pane.
inline constexpr int kCaptureStartId = 1;
inline constexpr int kCaptureInterfaceId = 1034;
inline constexpr int kCaptureShowInfoId = 1052;
inline constexpr int kCaptureEditFilterId = 1042;
inline constexpr int kCaptureFilterTextId = 1043;
// "File...": its menu saves the next capture to a file, or opens a capture file.
inline constexpr int kCaptureFileId = 1090;
inline constexpr int kCmdSaveToFile = 40090;
inline constexpr int kCmdOpenCaptureFile = 40091;

struct CaptureRun;
struct CaptureRequest;

// The Packet Capture module: the IPv4 and IPv6 traffic of the interface that holds a chosen
// local address, filtered by the current capture filter and shown in a display mode, on a worker
// of its own; the packets the filter passes can be saved to a file as they come. A capture file
// is read the same way. Button 1 toggles between "Start" and "Stop". The capture and the
// address list come from the host the window inspects (`host`); capture files are always this
// computer's.
class CapturePane : public ModulePane {
  Q_OBJECT

 public:
  CapturePane(QWidget* mainWindow, CaptureService& host);
  ~CapturePane() override;

  // Start / Stop, Edit Filter..., and the File... menu's Save To File... (choose the file the
  // next capture saves to, or choose none) and Open Capture File....
  void command(int id) override;
  void closeModule() override;

  // The Send To entry: stops a running capture, replaces the current filter with `filter`
  // (nullptr keeps it), clears the output and shows the pane; starts nothing.
  void sendTo(const CaptureFilter* filter);

  // A capture file from outside the window (the command line, the file manager): shows the pane
  // and the file as "Open Capture File..." does. Ignored while a capture runs.
  void showFile(const QString& path);

  // Shows the current filter in the "Current Filter :" box.
  void DescribeFilter();

  // From Start until the worker's end step.
  bool running() const { return run_.running(); }
  // While running, once the capture is open and no packet of the interface can be missed.
  bool capturing() const;
  // Until the host's address list has come and filled the interface list.
  bool fillingAddresses() const { return fillingAddresses_; }
  // The kernel's packet counts of the last run that ended.
  const CaptureCounts& lastRunCounts() const { return lastRunCounts_; }
  // The file the next capture saves to; empty for none.
  const QString& saveFile() const { return saveFile_; }

 protected:
  // The filter's description is broken into lines to the width of its box.
  void resizeEvent(QResizeEvent* event) override;

 private:
  void fillAddressList();
  void start();
  void openFile(const QString& path);
  void startRun(CaptureRequest request);
  void chooseSaveFile();
  void editFilter();
  void updateWidgets();

  CaptureService& host_;
  PaneRun<CaptureRun> run_;
  CaptureCounts lastRunCounts_;
  QString saveFile_;
  bool fillingAddresses_ = false;
};

// Asks for a file, to save a capture to (`save`) or to open; empty when none was chosen. The
// file dialog unless one is set (tests set their own; an empty one restores the dialog).
using CaptureFileChooser = std::function<QString(QWidget* owner, bool save)>;
void SetCaptureFileChooser(CaptureFileChooser chooser);

// The filter the capture uses: one for the program, replaced only whole and never during a run.
CaptureFilter& CurrentCaptureFilter();

// Netstat's "Send To" > "Packet Capture...": a whole filter built from an endpoint, or
// nullptr to keep the current one.
void SendToPacketCapture(const CaptureFilter* filter);

// The capture file the program was given to open: the capture pane's showFile.
void ShowCaptureFile(const QString& path);
