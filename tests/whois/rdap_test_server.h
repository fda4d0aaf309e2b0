#pragma once

#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

// The RDAP tests' peers: an HTTPS server of the test's own (Python's http.server with ssl) on
// 127.0.80.1 port 443, behind the real names of kRdapTestNames mapped there by a hosts file shown
// at /etc/hosts, with a certificate from a test CA shown at the system's certificate store.
// Names outside the certificate (rdap.wrongname.example) are mapped too, so a name mismatch can be
// tried. Needs root (port 443, the private mount namespace); ready() is false otherwise.
//
// Routes: a JSON object, "host/path" -> list of answers, the n-th request getting the n-th
// answer ({"status", "headers", "body" or "file", "holdSeconds"}; see rdap_test_server.py).
class RdapPeers {
 public:
  explicit RdapPeers(const std::string& routesJson);
  ~RdapPeers();
  RdapPeers(const RdapPeers&) = delete;
  RdapPeers& operator=(const RdapPeers&) = delete;

  bool ready() const { return ready_; }
  // Every request so far as "host/path", and "gone host/path" for a client that left a held
  // answer.
  std::vector<std::string> requests() const;
  const std::string& folder() const { return dir_.path(); }

 private:
  TempDir dir_;
  bool ready_ = false;
  size_t threads_ = 0;  // of the process, when the view began
  std::unique_ptr<HostsFileShown> hosts_;
  std::unique_ptr<FileShownAt> store_;
  std::unique_ptr<ChildProcess> server_;
};

// The test data folder (tests/whois/rdap) of the source tree.
std::string RdapTestData(const std::string& file);
