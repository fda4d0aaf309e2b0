// The NetInfo pane in a network namespace of the test's own, driven by control id, with what it
// shows checked against ip (iproute2). The test's UI thread enters the namespace, and the pane's
// calls run on threads it starts, so their netlink sockets and /proc reads are the namespace's;
// the namespace's sysfs is mounted where the pane's statistics reader is pointed, and its
// resolver configuration and lease files are the test's own. Through the agent, the host is an
// agent started in the namespace, with the test's files shown where it reads its host's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/agent_host.h"
#include "host/host.h"
#include "host/local_services.h"
#include "net_lab.h"
#include "netinfo/netinfo_pane.h"
#include "netinfo/netinfo_system.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "test_util.h"

namespace {

constexpr const char* kLabPrefix = "pelorin-netinfo-";

// A host name of the calling thread's own, in a UTS namespace it leaves when the object goes.
class HostNameScope {
 public:
  explicit HostNameScope(const std::string& name)
      : home_(open("/proc/thread-self/ns/uts", O_RDONLY | O_CLOEXEC)) {
    set_ = home_ >= 0 && unshare(CLONE_NEWUTS) == 0 && sethostname(name.data(), name.size()) == 0;
  }
  ~HostNameScope() {
    if (home_ < 0) return;
    setns(home_, CLONE_NEWUTS);
    close(home_);
  }
  HostNameScope(const HostNameScope&) = delete;
  HostNameScope& operator=(const HostNameScope&) = delete;
  bool set() const { return set_; }

 private:
  int home_;
  bool set_ = false;
};

// sysfs mounts of test processes that died before they could take them away.
void RemoveStaleMounts() {
  std::ifstream mounts("/proc/self/mounts");
  const std::string prefix = std::string("/tmp/") + kLabPrefix;
  for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);) {
    if (point.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(point.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
      umount2(point.c_str(), MNT_DETACH);
      rmdir(point.c_str());
    }
  }
}

// A namespace with loopback only, or with:
//   e0  veth, MAC 00:1a:2b:3c:4d:5e, 198.18.10.2/24 and 198.18.10.3/24, default route via
//       198.18.10.1 (its far end, in a namespace of its own); 2001:2:0:10::2/64 and
//       2001:2:0:11::2/56 beside its link-local address, IPv6 default route via 2001:2:0:10::1
//   d0  dummy (ifb where the kernel has no dummy driver: the same facts here), 198.18.20.2/28,
//       no IPv6 address
// and IPv4 forwarding on. Removed when the object goes.
class NetInfoLab {
 public:
  explicit NetInfoLab(bool withAdapters) {
    static std::atomic<int> labs{0};
    RemoveStaleNamespaces(kLabPrefix);
    RemoveStaleMounts();
    name_ = kLabPrefix + std::to_string(getpid()) + "-" + std::to_string(++labs);
    std::string script = "ip netns add " + name_ + "\nip netns add " + peer() + "\nip -n " + name_ +
                         " link set lo up\nip netns exec " + name_ +
                         " sysctl -qw net.ipv4.ip_forward=1\n";
    // Addresses usable at once, without duplicate address detection.
    for (const std::string& lab : {name_, peer()}) {
      script += "ip netns exec " + lab +
                " sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0\n";
    }
    if (withAdapters) {
      const std::string n = "ip -n " + name_ + " ";
      script += n + "link add e0 address 00:1a:2b:3c:4d:5e type veth peer name e1 netns " + peer() +
                "\n" + n + "link add d0 type dummy 2>/dev/null || " + n + "link add d0 type ifb\n" +
                n + "addr add 198.18.10.2/24 dev e0\n" + n + "addr add 198.18.10.3/24 dev e0\n" +
                n + "addr add 198.18.20.2/28 dev d0\n" + n + "addr add 2001:2:0:10::2/64 dev e0\n" +
                n + "addr add 2001:2:0:11::2/56 dev e0\n" + n + "link set d0 addrgenmode none\n" +
                n + "link set e0 up\n" + n + "link set d0 up\n" + "ip -n " + peer() +
                " addr add 198.18.10.1/24 dev e1\nip -n " + peer() + " link set e1 up\n" + n +
                "route add default via 198.18.10.1 dev e0\n" + n +
                "-6 route add default via 2001:2:0:10::1 dev e0\n";
    }
    ok_ = RunLabScript(script, &error_);
  }
  ~NetInfoLab() {
    std::string ignored;
    RunLabScript("ip netns del " + name_ + " 2>/dev/null || true\nip netns del " + peer() +
                     " 2>/dev/null || true\n",
                 &ignored);
  }

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }
  std::string peer() const { return name_ + "-peer"; }

 private:
  std::string name_;
  bool ok_ = false;
  std::string error_;
};

// The calling thread's namespace's sysfs, mounted at a directory of its own while the object
// lives (sysfs shows the interfaces of the namespace it is mounted from).
class NamespaceSysfs {
 public:
  explicit NamespaceSysfs(const std::string& labName) : path_("/tmp/" + labName + "-sys") {
    mkdir(path_.c_str(), 0700);
    mounted_ = mount("sysfs", path_.c_str(), "sysfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
                     nullptr) == 0;
  }
  ~NamespaceSysfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    rmdir(path_.c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string interfaces() const { return path_ + "/class/net"; }

 private:
  std::string path_;
  bool mounted_ = false;
};

QJsonArray Ip(const std::string& arguments) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(RunCommand("ip -j " + arguments)))
      .array();
}

std::string Str(const QJsonValue& value) {
  return value.toString().toStdString();
}

std::string MaskText(int prefixLength) {
  in_addr mask{htonl(prefixLength == 0 ? 0 : ~0u << (32 - prefixLength))};
  return inet_ntoa(mask);
}

// The IPv6 lines of an adapter as ip tells its facts: global addresses, link-local ones, the
// first default gateway through it.
std::string Ipv6LinesFromIp(const std::string& name) {
  std::string lines;
  const QJsonArray addresses = Ip("-6 addr show dev " + name).at(0)["addr_info"].toArray();
  for (const QString scope : {"global", "link"}) {
    for (const QJsonValue a : addresses) {
      if (a["scope"].toString() != scope) continue;
      lines += "IPv6 Address\t: " + Str(a["local"]) + "/" + std::to_string(a["prefixlen"].toInt()) +
               "\r\n";
    }
  }
  for (const QJsonValue route : Ip("-6 route show table main default")) {
    if (Str(route["dev"]) == name && route["gateway"].isString()) {
      return lines + "IPv6 Gateway\t: " + Str(route["gateway"]) + "\r\n";
    }
  }
  return lines;
}

// The information text of an adapter, each fact as ip tells it.
std::string InfoFromIp(const std::string& name, const std::string& dhcpLines,
                       const std::string& adapterType) {
  const QJsonObject link = Ip("link show dev " + name).at(0).toObject();
  const QJsonObject inet = Ip("-4 addr show dev " + name).at(0)["addr_info"][0].toObject();
  std::string gateway;
  for (const QJsonValue route : Ip("-4 route show table main default")) {
    if (Str(route["dev"]) == name && gateway.empty()) gateway = Str(route["gateway"]);
  }
  unsigned mac[6] = {};
  std::sscanf(Str(link["address"]).c_str(), "%x:%x:%x:%x:%x:%x", &mac[0], &mac[1], &mac[2], &mac[3],
              &mac[4], &mac[5]);
  char macText[18];
  std::snprintf(macText, sizeof macText, "%02X-%02x-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  return "Adapter Index\t: " + std::to_string(link["ifindex"].toInt()) +
         "\r\nDescription\t: " + name + "\r\nMAC Address\t: " + macText +
         "\r\nDHCP Enabled\t: " + (dhcpLines.empty() ? "NO" : "YES") +
         "\r\nAdapter Type\t: " + adapterType + "\r\nIP Address\t: " + Str(inet["local"]) +
         "\r\nSubnet Mask\t: " + MaskText(inet["prefixlen"].toInt()) +
         "\r\nDefault Gateway\t: " + gateway +
         "\r\nDHCP Server\t: " + (dhcpLines.empty() ? "" : "198.18.10.1") +
         "\r\nPreferred DNS\t: 198.51.100.53\r\nAlternate DNS\t: 2001:db8::53\r\n" +
         (dhcpLines.empty() ? "Lease Obtained\t: \nLease Expires\t: \n" : dhcpLines) +
         Ipv6LinesFromIp(name);
}

// Bytes received and sent as ip tells them.
std::pair<uint64_t, uint64_t> CountersFromIp(const std::string& name) {
  const QJsonObject stats = Ip("-s link show dev " + name).at(0)["stats64"].toObject();
  return {uint64_t(stats["rx"]["bytes"].toDouble()), uint64_t(stats["tx"]["bytes"].toDouble())};
}

// UDP datagrams from the calling thread's namespace to the discard port of e0's far end.
void SendDatagrams(int count) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = inet_addr("198.18.10.1");
  const char payload[100] = {};
  for (int i = 0; i < count; ++i) {
    sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  close(fd);
}

// The neighbour table as ip lists it, sorted.
// Every IPv4 entry, NOARP ones too; the IPv6 entries but the kernel's own multicast ones.
std::vector<std::string> Neighbours() {
  std::istringstream lines(RunCommand("ip -4 neigh show nud all; ip -6 neigh show"));
  std::vector<std::string> list;
  for (std::string line; std::getline(lines, line);) list.push_back(line);
  std::sort(list.begin(), list.end());
  return list;
}

const char* kResolverConfig =
    "search lab.example other.example\nnameserver 198.51.100.53\nnameserver 2001:db8::53\n"
    "nameserver 203.0.113.53\nnameserver 198.51.100.54\n";

// The current lease of e0, and one of d0 for an address it does not hold.
const char* kLeases =
    "lease {\n  interface \"e0\";\n  fixed-address 198.18.10.2;\n  option dhcp-lease-time 7200;\n"
    "  option dhcp-server-identifier 198.18.10.1;\n  expire 6 2024/01/06 06:00:00;\n}\n"
    "lease {\n  interface \"d0\";\n  fixed-address 198.18.20.5;\n"
    "  option dhcp-server-identifier 198.18.20.1;\n  expire 6 2024/01/06 06:00:00;\n}\n";

// Where an agent's host keeps its lease files: the first of the usual directories that this
// machine has, empty when it has none.
std::string HostLeaseDirectory() {
  for (const std::string& directory : NetInfoSources().leaseDirectories) {
    struct stat info {};
    if (stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return directory;
  }
  return {};
}

// While it lives, no helper can be started, neither by this process nor by an agent it started,
// which looks for its helper beside itself, where an empty file is shown meanwhile.
class NoHelper {
 public:
  explicit NoHelper(const TempDir& dir) {
    if (!ThroughAgent()) return;
    std::ofstream(dir.file("no-helper")).flush();
    shown_ = std::make_unique<FileShownAt>(dir.file("no-helper"), PELORIN_HELPER_PATH);
  }
  bool ok() const { return !shown_ || shown_->shown(); }

 private:
  WithoutHelper window_;
  std::unique_ptr<FileShownAt> shown_;
};

class NetInfoPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "network namespaces need root";
    if (ThroughAgent() && HostLeaseDirectory().empty()) {
      GTEST_SKIP() << "this machine has no lease directory to show the agent the test's leases in";
    }
    if (const char* zone = std::getenv("TZ")) savedZone_ = zone;
    setenv("TZ", "UTC", 1);  // lease times below are UTC
    tzset();
  }
  void TearDown() override {
    if (pane_) {
      EXPECT_TRUE(WaitUntil([&] { return !pane_->busy() && !pane_->readingStatistics(); }));
    }
    pane_.reset();  // its files first, then the mount, then the namespace
    service_.reset();
    agent_.reset();  // the agent ends with its input
    shown_.clear();
    sysfs_.reset();
    scope_.reset();
    lab_.reset();
    savedZone_.empty() ? unsetenv("TZ") : setenv("TZ", savedZone_.c_str(), 1);
    tzset();
  }

  // The lab, this thread in its namespace, and the pane reading the test's files.
  bool openLab(bool withAdapters) {
    lab_ = std::make_unique<NetInfoLab>(withAdapters);
    EXPECT_TRUE(lab_->ok()) << lab_->error();
    if (!lab_->ok()) return false;
    scope_ = std::make_unique<NetnsScope>(lab_->name());
    EXPECT_TRUE(scope_->entered());
    sysfs_ = std::make_unique<NamespaceSysfs>(lab_->name());
    EXPECT_TRUE(sysfs_->mounted());
    std::ofstream(dir_.file("resolv.conf")) << kResolverConfig;
    mkdir(dir_.file("leases").c_str(), 0700);
    std::ofstream(dir_.file("leases/dhclient.leases")) << kLeases;
    NetInfoSources sources;
    sources.resolverConfig = dir_.file("resolv.conf");
    sources.leaseDirectories = {dir_.file("missing"), dir_.file("leases")};
    sources.interfaceDirectory = sysfs_->interfaces();
    if (ThroughAgent()) {
      if (!showTheAgent()) return false;
      pane_ = std::make_unique<NetInfoPane>(nullptr, agent_->netinfo());
    } else {
      service_ = NewLocalNetInfoService(sources);
      pane_ = std::make_unique<NetInfoPane>(nullptr, *service_);
    }
    settle();
    return scope_->entered() && sysfs_->mounted();
  }

  // The agent reads its host's own files: the test's resolver configuration, leases and the
  // namespace's sysfs are shown where it reads them, and the host is an agent of the lab's
  // namespaces (started from this thread, which is in them), not the window's, which is not.
  bool showTheAgent() {
    for (const auto& [source, target] :
         {std::pair{dir_.file("resolv.conf"), std::string(kResolverConfigPath)},
          std::pair{dir_.file("leases"), HostLeaseDirectory()},
          std::pair{sysfs_->path(), std::string("/sys")}}) {
      shown_.push_back(std::make_unique<FileShownAt>(source, target));
      EXPECT_TRUE(shown_.back()->shown()) << target;
      if (!shown_.back()->shown()) return false;
    }
    std::string failure;
    agent_ = ConnectAgent({PELORIN_AGENT_PATH}, &failure);
    EXPECT_NE(agent_, nullptr) << failure;
    return agent_ != nullptr;
  }

  // The pane's answers come off the UI thread: these wait for them.
  void settle() {
    EXPECT_TRUE(WaitUntil([&] { return !pane_->busy(); }));
  }
  void click(int id) {
    ClickControl(pane_.get(), id);
    settle();
  }
  void updateStatistics() {
    pane_->UpdateStatistics();
    EXPECT_TRUE(WaitUntil([&] { return !pane_->readingStatistics(); }));
  }

  QComboBox* adapters() const { return FindControl<QComboBox>(pane_.get(), kAdapterListId); }
  std::string text(int id) const {
    return FindControl<QLabel>(pane_.get(), id)->text().toStdString();
  }
  std::string info() const { return GetOutputText(pane_.get(), kOutputPaneId); }
  void choose(int item) {
    adapters()->setCurrentIndex(item);
    settle();
  }

  std::string savedZone_;
  RecordingPresenter presenter_;
  TempDir dir_;
  std::unique_ptr<NetInfoLab> lab_;
  std::unique_ptr<NetnsScope> scope_;
  std::unique_ptr<NamespaceSysfs> sysfs_;
  std::unique_ptr<NetInfoService> service_;
  std::vector<std::unique_ptr<FileShownAt>> shown_;
  std::unique_ptr<Host> agent_;
  std::unique_ptr<NetInfoPane> pane_;
};

const std::string kE0Lease =
    "Lease Obtained\t: Sat Jan 06 04:00:00 2024\nLease Expires\t: Sat Jan 06 06:00:00 2024\n";

TEST_F(NetInfoPaneTest, ShowsTheParametersAndEveryAdapterAsIpSeesThem) {
  const HostNameScope host("<i>lab</i>");  // shown as it is, never as markup
  ASSERT_TRUE(host.set());
  ASSERT_TRUE(openLab(true));
  const std::string params =
      "Host Name\t\t: <i>lab</i>\nDomain\t\t\t: lab.example\nNode Type\t\t: Unknown\n"
      "IP Routing Enabled\t: YES\nWins Proxy Enabled\t: NO\n";
  EXPECT_EQ(text(kNetworkParamsId), params);
  QAccessibleInterface* shown =
      QAccessible::queryAccessibleInterface(FindControlWidget(pane_.get(), kNetworkParamsId));
  EXPECT_EQ(shown->text(QAccessible::Name).toStdString(), params);

  // Every link but loopback, in index order: the name as text, the index as data.
  std::vector<std::pair<int, std::string>> links;
  for (const QJsonValue link : Ip("link show")) {
    if (!link["flags"].toArray().contains("LOOPBACK")) {
      links.emplace_back(link["ifindex"].toInt(), Str(link["ifname"]));
    }
  }
  std::sort(links.begin(), links.end());
  ASSERT_EQ(links.size(), 2u);
  ASSERT_EQ(adapters()->count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(adapters()->itemText(i).toStdString(), links[size_t(i)].second);
    EXPECT_EQ(adapters()->itemData(i).toInt(), links[size_t(i)].first);
  }

  EXPECT_EQ(adapters()->currentIndex(), 0);
  const std::string e0 = InfoFromIp("e0", kE0Lease, "Ethernet");
  EXPECT_NE(e0.find("MAC Address\t: 00-1a-2B-3C-4D-5E\r\nDHCP Enabled\t: YES\r\n"), e0.npos);
  EXPECT_NE(e0.find("IP Address\t: 198.18.10.2\r\nSubnet Mask\t: 255.255.255.0\r\n"
                    "Default Gateway\t: 198.18.10.1\r\n"),
            e0.npos);
  EXPECT_NE(e0.find("\nIPv6 Address\t: 2001:2:0:11::2/56\r\nIPv6 Address\t: 2001:2:0:10::2/64\r\n"
                    "IPv6 Address\t: fe80::21a:2bff:fe3c:4d5e/64\r\n"
                    "IPv6 Gateway\t: 2001:2:0:10::1\r\n"),
            e0.npos)
      << e0;
  EXPECT_EQ(info(), e0);
  choose(1);
  // Its lease is for another address; it has no IPv6 line.
  EXPECT_EQ(info(), InfoFromIp("d0", "", "Ethernet"));
  EXPECT_EQ(info().find("IPv6"), std::string::npos);

  // Refresh goes back to the first adapter; the parameters are not read again.
  std::ofstream(dir_.file("resolv.conf")) << kResolverConfig << "domain changed.example\n";
  click(kNetInfoRefreshId);
  EXPECT_EQ(adapters()->currentIndex(), 0);
  EXPECT_EQ(info(), e0);
  EXPECT_NE(text(kNetworkParamsId).find("lab.example"), std::string::npos);
  EXPECT_EQ(presenter_.count(), 0u);
}

TEST_F(NetInfoPaneTest, StatisticsFollowTheKernelsCountersTenTimesASecond) {
  ASSERT_TRUE(openLab(true));
  SendDatagrams(20);
  // The counters move by themselves now and then: compare at a moment they stood still.
  std::pair<uint64_t, uint64_t> counters;
  for (int attempt = 0; attempt < 50; ++attempt) {
    counters = CountersFromIp("e0");
    updateStatistics();
    if (CountersFromIp("e0") == counters) break;
  }
  EXPECT_GT(counters.second, 2000u);
  EXPECT_EQ(text(kAdapterReceivedId), std::to_string(counters.first) + " Bytes ");
  EXPECT_EQ(text(kAdapterSentId), std::to_string(counters.second) + " Bytes ");
  EXPECT_EQ(text(kAdapterStatusId), "Operational");
  EXPECT_EQ(text(kAdapterSpeedId), "10000000 Kbs ");  // a veth says 10 Gbit/s

  // The timer alone shows what is sent next.
  const std::string sent = text(kAdapterSentId);
  SendDatagrams(5);
  EXPECT_TRUE(WaitUntil([&] { return text(kAdapterSentId) != sent; }, 10000));

  // A virtual adapter knows neither its speed nor whether its link is up.
  choose(1);
  updateStatistics();
  EXPECT_EQ(text(kAdapterStatusId), "Unknown");
  EXPECT_EQ(text(kAdapterSpeedId), "0 Kbs ");
  RunCommand("ip link set d0 down");
  updateStatistics();
  EXPECT_EQ(text(kAdapterStatusId), "Disabled");
  // A veth whose far end is down has no carrier (the kernel tells a moment later).
  RunCommand("ip -n " + lab_->peer() + " link set e1 down");
  choose(0);
  EXPECT_TRUE(WaitUntil([&] { return text(kAdapterStatusId) == "Disconnected"; }, 10000))
      << text(kAdapterStatusId);
}

// As `ip neigh flush dev` does: the administrator's PERMANENT and NOARP entries are
// configuration, not cache, and stay.
TEST_F(NetInfoPaneTest, FlushDeletesTheDynamicIpv4NeighboursOfTheChosenAdapter) {
  ASSERT_TRUE(openLab(true));
  SendDatagrams(1);  // a learned entry for the far end
  RunCommand(
      "ip neigh add 198.18.10.7 lladdr 02:00:00:00:00:07 dev e0 nud permanent;"
      "ip neigh add 198.18.10.8 lladdr 02:00:00:00:00:08 dev e0 nud stale;"
      "ip neigh add 198.18.10.6 lladdr 02:00:00:00:00:06 dev e0 nud noarp;"
      "ip neigh add 2001:db8::7 lladdr 02:00:00:00:00:07 dev e0 nud permanent;"
      "ip neigh add 198.18.20.9 lladdr 02:00:00:00:00:09 dev d0 nud permanent");
  const std::vector<std::string> before = Neighbours();
  ASSERT_EQ(before.size(), 6u) << RunCommand("ip neigh show nud all");

  presenter_.answerNext(MessageAnswer::No);
  click(kFlushCacheId);
  EXPECT_EQ(Neighbours(), before);
  {
    const NoHelper unprivileged(dir_);
    ASSERT_TRUE(unprivileged.ok());
    click(kFlushCacheId);
  }
  EXPECT_EQ(Neighbours(), before);
  click(kFlushCacheId);
  EXPECT_EQ(Neighbours(),
            (std::vector<std::string>{"198.18.10.6 dev e0 lladdr 02:00:00:00:00:06 NOARP ",
                                      "198.18.10.7 dev e0 lladdr 02:00:00:00:00:07 PERMANENT ",
                                      "198.18.20.9 dev d0 lladdr 02:00:00:00:00:09 PERMANENT ",
                                      "2001:db8::7 dev e0 lladdr 02:00:00:00:00:07 PERMANENT "}));

  const std::vector<MessageRequest> boxes = presenter_.boxes();
  ASSERT_EQ(boxes.size(), 5u);
  for (size_t i : {0u, 1u, 3u}) {
    EXPECT_EQ(boxes[i].caption, "Pelorin - FlushDns");
    EXPECT_EQ(boxes[i].text, "Flush The Local DNS Cache For This Adapter?");
    EXPECT_EQ(boxes[i].icon, MessageIcon::Question);
    EXPECT_EQ(boxes[i].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes[i].owner, pane_.get());
  }
  EXPECT_EQ(boxes[2].caption, kErrorCaption);
  EXPECT_EQ(boxes[2].text, "Failed To Flush DNS Cache!");
  EXPECT_EQ(boxes[4].caption, "Pelorin - FlushDNS");
  EXPECT_EQ(boxes[4].text, "DNS Cache Successfully Flushed!");
  EXPECT_EQ(boxes[4].icon, MessageIcon::Information);
  EXPECT_EQ(boxes[4].buttons, MessageButtons::Ok);
}

TEST_F(NetInfoPaneTest, AnAdapterGoneSinceTheListWasFilledShowsNoOthersFacts) {
  ASSERT_TRUE(openLab(true));
  updateStatistics();
  const std::string e0 = info();
  const std::vector<int> statistics = {kAdapterStatusId, kAdapterSpeedId, kAdapterReceivedId,
                                       kAdapterSentId};
  RunCommand("ip link del d0");
  choose(1);
  updateStatistics();
  EXPECT_EQ(info(), "");
  for (int id : statistics) EXPECT_EQ(text(id), "") << id;
  click(kFlushCacheId);
  EXPECT_EQ(presenter_.texts(),
            (std::vector<std::string>{"Flush The Local DNS Cache For This Adapter?",
                                      "Failed To Flush DNS Cache!"}));

  // The adapter shown keeps its last facts while it cannot be read.
  choose(0);
  updateStatistics();
  EXPECT_EQ(info(), e0);
  std::vector<std::string> last;
  for (int id : statistics) last.push_back(text(id));
  RunCommand("ip link del e0");
  updateStatistics();
  for (size_t i = 0; i < statistics.size(); ++i) EXPECT_EQ(text(statistics[i]), last[i]);
}

TEST_F(NetInfoPaneTest, AMachineWithOnlyLoopbackShowsNoAdapter) {
  ASSERT_TRUE(openLab(false));
  EXPECT_NE(text(kNetworkParamsId).find("IP Routing Enabled\t: YES\n"), std::string::npos);
  click(kNetInfoRefreshId);
  ServeEvents(250);  // timer ticks
  click(kFlushCacheId);
  EXPECT_EQ(adapters()->count(), 0);
  EXPECT_EQ(info(), "");
  for (int id : {kAdapterStatusId, kAdapterSpeedId, kAdapterReceivedId, kAdapterSentId}) {
    EXPECT_EQ(text(id), "") << id;
  }
  EXPECT_EQ(presenter_.count(), 0u);
}

// A host whose adapter list comes at once and whose every other answer waits until it is let
// go: what a stalled agent or helper is to the pane.
class StalledHost : public NetInfoService {
 public:
  int resolveHost(const char*, char*, size_t, const RunToken*) override { return stall(0); }
  NetworkParams networkParams() override { return stall(NetworkParams()); }
  std::optional<std::vector<AdapterRecord>> adapters() override {
    AdapterRecord adapter;
    adapter.index = 2;
    adapter.name = "e0";
    return std::vector<AdapterRecord>{adapter};
  }
  std::optional<std::vector<std::string>> dnsServers() override { return stall(std::nullopt); }
  std::optional<DhcpLease> dhcpLease(const AdapterRecord&) override { return stall(std::nullopt); }
  std::optional<InterfaceStatistics> statistics(int, const std::string&) override {
    return stall(std::nullopt);
  }
  void endStatistics() override { stall(0); }
  int flushNeighbours(int) override { return stall(0); }

  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    letGo_.notify_all();
  }
  int waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }

 private:
  template <typename T>
  T stall(T value) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    letGo_.wait(lock, [&] { return released_; });
    --waiting_;
    return value;
  }

  std::mutex mutex_;
  std::condition_variable letGo_;
  bool released_ = false;
  int waiting_ = 0;
};

TEST(NetInfoPaneStalledTest, AHostThatDoesNotAnswerNeverHoldsThePane) {
  StalledHost host;
  auto pane = std::make_unique<NetInfoPane>(nullptr, host);
  // The parameters, then the adapter's facts, wait; the list came.
  EXPECT_TRUE(WaitUntil([&] { return host.waiting() == 2; }));
  EXPECT_EQ(FindControl<QComboBox>(pane.get(), kAdapterListId)->count(), 1);
  EXPECT_TRUE(pane->busy());
  // Ten timer ticks: one reading waits, and no other is started beside it.
  ServeEvents(1000);
  EXPECT_EQ(host.waiting(), 3);
  EXPECT_TRUE(pane->readingStatistics());
  // A pane closed while its calls wait; their answers come to no pane.
  pane.reset();
  host.release();
  EXPECT_TRUE(WaitUntil([&] { return host.waiting() == 0; }));
  ServeEvents(100);
}

}  // namespace
