#pragma once

#include <atomic>
#include <cstdint>

// Network events of one socket, as bits of a selection mask.
inline constexpr uint32_t kNetRead = 0x01;     // data waits to be read (a datagram, a packet)
inline constexpr uint32_t kNetWrite = 0x02;    // the socket can send again
inline constexpr uint32_t kNetAccept = 0x08;   // a connection waits to be accepted
inline constexpr uint32_t kNetConnect = 0x10;  // an outgoing connect has completed
inline constexpr uint32_t kNetClose = 0x20;    // the peer has closed or reset the connection

// The events since the last NetEvent::take(), each with its own error code (errno, 0 for none).
struct NetEvents {
  uint32_t events = 0;
  int readError = 0;
  int writeError = 0;
  int acceptError = 0;
  int connectError = 0;
  int closeError = 0;

  bool has(uint32_t event) const { return (events & event) != 0; }
};

// The network event of a socket worker: it wakes the worker when a selected event of its socket
// is pending or when another thread signals it (the stop request), and reports each event once
// per occurrence (poll() alone would report a writable socket for ever):
//   read     while data waits (a stream socket: until it is drained; a datagram socket: once per
//            datagram still queued);
//   write    once when a connect completes or a connected socket is selected, and again only
//            after sendBlocked();
//   accept   while a connection waits on a listening socket;
//   connect  once, with the connect's outcome;
//   close    once, when the peer has shut down and no data is left, or the connection was reset.
// Owned by one worker, which selects, waits and takes; signal() and sendBlocked() may come from
// any thread. A capture worker selects its packet socket for read alone.
class NetEvent {
 public:
  NetEvent();
  ~NetEvent();
  NetEvent(const NetEvent&) = delete;
  NetEvent& operator=(const NetEvent&) = delete;

  // False when the event could not be made; createError() then holds the errno.
  bool valid() const { return wakeFd_ >= 0; }
  int createError() const { return createError_; }

  // Reports the `mask` events of `fd` from now on and makes the socket non-blocking. Selecting
  // another socket (the one accept() returned) replaces the first with the same rules.
  void select(int fd, uint32_t mask);

  // What the stream socket is, which poll() cannot tell: listen() succeeded; connect() was
  // started (`error` 0), or failed at once (`error` the errno, reported as the connect event's
  // error); the selected socket came from accept(), so it is connected whatever has become of
  // it since (a connection reset while it waited in the queue is reported as close).
  void listenStarted();
  void connectStarted(int error = 0);
  void accepted();

  // A send could not take all its data: report write again once the socket can send.
  void sendBlocked();

  // Wakes wait() (the stop request). It stays signalled until take().
  void signal();
  // Readable while the event is signalled, for a wait of the worker's outside wait().
  int signalFd() const { return wakeFd_; }

  // Waits until the event is signalled, a selected event is pending or `stopFd` (when not -1)
  // is readable; -1 waits without end. False on time-out or failure.
  bool wait(int timeoutMs = -1, int stopFd = -1);

  // The events pending now, each reported per the rules above; clears the signal.
  NetEvents take();

 private:
  enum class Role { None, Idle, Datagram, Listening, Connecting, Connected, Done };

  short interest() const;
  void takeConnecting(short revents, NetEvents& out);
  void takeConnected(short revents, NetEvents& out);
  void reportClose(int error, NetEvents& out);

  int wakeFd_ = -1;
  int createError_ = 0;
  int fd_ = -1;
  uint32_t mask_ = 0;
  Role role_ = Role::None;
  int refusedError_ = 0;
  std::atomic<bool> writeArmed_{false};
};
