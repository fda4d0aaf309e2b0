#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/ip_address.h"
#include "capture/capture_filter.h"
#include "capture/captured_packet.h"
#include "sys/name_service.h"
#include "sys/run_token.h"

// What the Packet Capture pane asks of the host it inspects: the addresses it can capture on,
// and captures. Capture files are not the host's but this computer's (capture/capture_file.h).

// Frames read at once from a capture, valid until the session's next read. A session whose
// frames come from elsewhere (a byte stream) copies their bytes into `bytes`, which the frames
// then point into.
struct CaptureBatch {
  std::vector<CaptureFrame> frames;
  std::vector<uint8_t> bytes;
};

// How a capture ended: the kernel's counts (all 0 when the host did not tell them), and 0 after
// a stop, else the errno of the capture that failed (its interface went away...).
struct CaptureEnd {
  CaptureCounts counts;
  int error = 0;
};

// One capture, running from its opening until close() or the destructor, which stop it.
class CaptureSession {
 public:
  virtual ~CaptureSession() = default;

  // The frames' link type (as the capture library numbers them) and snapshot length, as a file
  // saved from the capture gets them.
  virtual int linkType() const = 0;
  virtual int snapLength() const = 0;

  // Waits for frames: true with 1 to `limit` frames in `batch`, in the order captured; false
  // when the capture has ended: `token` was cancelled (at once), the capture failed, or the host
  // went. Frames that wait need no wait: a session hands over at once what it holds.
  virtual bool read(CaptureBatch& batch, size_t limit, const RunToken& token) = 0;

  // Stops the capture and tells how it ended; the first call only, later ones give nothing.
  virtual CaptureEnd close() = 0;
};

// A capture opened, or why not.
struct CaptureOpening {
  std::unique_ptr<CaptureSession> session;
  // Without a session: an errno (EPERM without the privilege, ENODEV when no interface holds the
  // address, ENETDOWN, EIO...), or 0 when the token was cancelled first.
  int error = 0;
};

class CaptureService : public NameService {
 public:
  // The local address list of the host as the pane offers it: the IPv4 addresses of the
  // interfaces that are up, then their IPv6 ones, each in interface order, loopback last.
  virtual std::vector<IpAddress> captureAddresses() = 0;

  // Opens a capture of the interface that holds `address`, its packets in and out. The host
  // applies a kernel filter made from `filter` (the caller still judges every packet); a
  // cancelled token ends the wait at once.
  virtual CaptureOpening open(const IpAddress& address, const CaptureFilter& filter,
                              const RunToken& token) = 0;
};
