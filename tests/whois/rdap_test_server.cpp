#include "rdap_test_server.h"

#include <QThreadPool>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kAddress = "127.0.80.1";
// In the server's certificate.
constexpr const char* kCertifiedNames[] = {"www.registry.google", "rdap.registrar.example",
                                           "rdap.identitydigital.services", "data.iana.org"};
// Mapped to the server but not in its certificate.
constexpr const char* kUncertifiedName = "rdap.wrongname.example";
// Mapped to an address where nothing listens.
constexpr const char* kUnreachedName = "rdap.unreached.example";
constexpr const char* kUnreachedAddress = "127.0.80.2";
// Where Debian's libcurl finds the trusted CAs.
constexpr const char* kSystemStore = "/etc/ssl/certs/ca-certificates.crt";

std::string SourceDir() {
  const char* dir = std::getenv("PELORIN_SOURCE_DIR");
  return dir ? dir : PELORIN_SOURCE_TREE;  // the tests' environment names it; a benchmark's not
}

// A CA and a server certificate for the certified names, made once per test program.
class Certificates {
 public:
  Certificates() {
    std::ofstream(dir_.file("server.ext"))
        << "basicConstraints=CA:FALSE\nsubjectAltName=" << AltNames() << "\n";
    const std::string at = "cd " + dir_.path() + " && ";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    int code = 0;
    RunCommand(at + "openssl req -x509" + ec +
                   "-keyout ca.key -out ca.pem -days 2 -subj '/CN=Pelorin Test CA' 2>&1 && "
                   "openssl req" +
                   ec +
                   "-keyout server.key -out server.csr -subj '/CN=rdap' 2>&1 && "
                   "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                   "-days 2 -extfile server.ext -out server.pem 2>&1",
               &code);
    made_ = code == 0;
  }
  bool made() const { return made_; }
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  static std::string AltNames() {
    std::string names;
    for (const char* name : kCertifiedNames)
      names += std::string(names.empty() ? "" : ",") + "DNS:" + name;
    return names;
  }
  TempDir dir_;
  bool made_ = false;
};

const Certificates& TestCertificates() {
  static const Certificates certificates;
  return certificates;
}

std::string HostsLines() {
  std::string lines = "127.0.0.1 localhost\n";
  for (const char* name : kCertifiedNames) lines += std::string(kAddress) + " " + name + "\n";
  lines += std::string(kAddress) + " " + kUncertifiedName + "\n";
  lines += std::string(kUnreachedAddress) + " " + kUnreachedName + "\n";
  return lines;
}

}  // namespace

std::string RdapTestData(const std::string& file) {
  return SourceDir() + "/tests/whois/rdap/" + file;
}

RdapPeers::RdapPeers(const std::string& routesJson) {
  if (!IsRoot() || !TestCertificates().made()) return;
  threads_ = ThreadCount();
  std::ofstream(dir_.file("routes.json")) << routesJson;
  std::ofstream(dir_.file("requests.log"));
  hosts_ = std::make_unique<HostsFileShown>(HostsLines());
  store_ = std::make_unique<FileShownAt>(TestCertificates().file("ca.pem"), kSystemStore);
  if (!hosts_->shown() || !store_->shown()) return;
  const Certificates& c = TestCertificates();
  server_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "python3", SourceDir() + "/tests/whois/rdap_test_server.py", kAddress, "443",
      c.file("server.pem"), c.file("server.key"), dir_.file("routes.json"),
      dir_.file("requests.log"), dir_.file("ready")});
  const std::string ready = dir_.file("ready");
  ready_ = WaitUntil([&] { return std::ifstream(ready).good() || !server_->running(); }, 10000) &&
           server_->running();
}

RdapPeers::~RdapPeers() {
  if (server_) server_->stop();
  // Threads started meanwhile share this view of the files: the calling thread cannot leave it
  // before they end; Qt's pool (which paints large areas on threads) is emptied for that.
  QThreadPool::globalInstance()->waitForDone(5000);
  WaitUntil([this] { return ThreadCount() <= threads_; }, 10000);
  store_.reset();
  hosts_.reset();
}

std::vector<std::string> RdapPeers::requests() const {
  std::vector<std::string> lines;
  std::ifstream log(dir_.file("requests.log"));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}
