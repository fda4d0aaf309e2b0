#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class QWidget;

// Serves the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
// Every wait in a test is bounded this way, so a deadlock fails the test instead of hanging.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Serves the event loop for a while.
void ServeEvents(int milliseconds);

// Clicks the control with this id inside `parent` (a button or check box).
void ClickControl(QWidget* parent, int id);

// A program the test starts (a DNS server, socat...), ended by its process id when the object
// goes, never by name.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv, bool quiet = true);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  bool running();
  // Sends SIGTERM and waits up to `timeoutMs`, then SIGKILL.
  void stop(int timeoutMs = 3000);
  // Waits for it to end by itself; returns its exit status or -1 on time-out.
  int wait(int timeoutMs);

 private:
  int pid_ = -1;
  int status_ = -1;
};

// Runs a shell command line and returns its standard output (the test's own tools only).
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

// A fresh directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool IsRoot();

// Points the window's helper client at the pelorin-helper this build made.
void UseBuiltHelper();

// Whether this run inspects its machine through the pelorin-agent this build made, over pipes,
// as a window inspects a remote host (PELORIN_TEST_AGENT=1), or over ssh from an sshd of the
// test's own on 127.0.0.1 (PELORIN_TEST_AGENT=ssh); one CTest variant each per pane test.
bool ThroughAgent();
bool ThroughSsh();
// Makes the window's host that agent, in the calling thread's network namespace; false when it
// does not answer.
bool UseBuiltAgent();
// An sshd of a test's own in the foreground: the host key `keys`/hostkey, the keys it lets in
// in `keys`/authorized_keys, listening at `listen` (ADDRESS:PORT), its sessions' environment
// (NAME=VALUE ...) set.
std::vector<std::string> SshdCommand(const std::string& keys, const std::string& listen,
                                     const std::string& environment);
// Kills the children of an sshd the test started (the sessions it serves; the listener stays);
// how many there were.
int KillSessionsOf(pid_t sshd);
// The ssh variant: kills the sshd processes serving the window's session (the test's own
// sshd's children), so the connection is lost as a host that went away loses it.
void KillSshSessions();
// The id of the running descendant of this process started last from the executable `path`
// (an agent, also one an sshd of the test's started), or -1.
pid_t ChildStartedFrom(const std::string& path);
// In such a run the whole test process has a mount namespace of its own, shared with the agent
// it starts, so files shown by FileShownAt are shown to both (see FileShownAt).
void ShowFilesToTheWholeProcess();

// While it lives, no helper can be started: what a user sees whom the helper does not serve.
class WithoutHelper {
 public:
  WithoutHelper();
  ~WithoutHelper();
  WithoutHelper(const WithoutHelper&) = delete;
  WithoutHelper& operator=(const WithoutHelper&) = delete;
};

// Shows the file `source` at the path `target` (such as /etc/resolv.conf) to the calling thread
// and to the threads it starts from now on, in a mount namespace of their own; the host's view
// never changes. The thread returns to its own namespace when the object goes. Needs root.
// After ShowFilesToTheWholeProcess the file is shown to the whole process and its agent instead,
// in the process's own namespace, until the object goes.
class FileShownAt {
 public:
  FileShownAt(const std::string& source, const std::string& target);
  ~FileShownAt();
  FileShownAt(const FileShownAt&) = delete;
  FileShownAt& operator=(const FileShownAt&) = delete;
  bool shown() const { return shown_; }

 private:
  int home_ = -1;  // the thread's own mount namespace
  int cwd_ = -1;   // its working directory, which entering a namespace resets
  bool left_ = false;
  bool shown_ = false;
  std::string target_;  // unmounted at the end where the whole process sees it
};

// The threads of the process now.
size_t ThreadCount();

// A hosts file of the test's own with these lines, shown at /etc/hosts as FileShownAt does: the
// system resolver then answers its names (IPv6-only ones among them) and never asks a server.
// Threads started meanwhile share the view, so at its end it waits (serving events) for them to
// end first: the calling thread cannot leave a view it shares.
class HostsFileShown {
 public:
  explicit HostsFileShown(const std::string& lines);
  ~HostsFileShown();
  HostsFileShown(const HostsFileShown&) = delete;
  HostsFileShown& operator=(const HostsFileShown&) = delete;
  bool shown() const { return shown_.shown(); }

 private:
  TempDir dir_;
  size_t threads_;  // of the process, when the view began
  FileShownAt shown_;
};
