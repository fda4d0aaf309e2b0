#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture_socket.h"
#include "sys/socket_address.h"

struct CaptureSocket {
  pcap_t* handle = nullptr;
  pcap_dumper_t* stream = nullptr;
  std::unique_ptr<char[]> streamBuffer;  // outlives the stream's file
  int linkType = 0;
  // Room for the largest frame past its link header, so no captured frame is too long for it.
  std::vector<uint8_t> packet = std::vector<uint8_t>(kCaptureSnapLength);
};

namespace {

// The most instructions the kernel takes in a classic filter program.
constexpr unsigned kKernelFilterLimit = 4096;

// The capture library's failure codes as errno values; the library's own text is never shown.
int ErrnoOfActivate(int status) {
  switch (status) {
    case PCAP_ERROR_PERM_DENIED:
    case PCAP_ERROR_PROMISC_PERM_DENIED:
      return EPERM;
    case PCAP_ERROR_NO_SUCH_DEVICE:
      return ENODEV;
    case PCAP_ERROR_IFACE_NOT_UP:
      return ENETDOWN;
    default:
      return errno != 0 ? errno : EIO;
  }
}

// Whether an instruction of the program may read a scratch memory word that not every path to it
// has written: the kernel refuses such a program.
bool ReadsUnwrittenScratch(const bpf_program& program) {
  const size_t length = program.bf_len;
  std::vector<uint32_t> written(length, ~0u);  // words written on every path to the instruction
  std::vector<bool> reached(length, false);
  if (length > 0) {
    written[0] = 0;
    reached[0] = true;
  }
  for (size_t pc = 0; pc < length; ++pc) {
    if (!reached[pc]) continue;
    const bpf_insn& insn = program.bf_insns[pc];
    const uint16_t kind = BPF_CLASS(insn.code);
    uint32_t after = written[pc];
    if (kind == BPF_ST || kind == BPF_STX) after |= 1u << (insn.k % BPF_MEMWORDS);
    if ((kind == BPF_LD || kind == BPF_LDX) && BPF_MODE(insn.code) == BPF_MEM &&
        (written[pc] & (1u << (insn.k % BPF_MEMWORDS))) == 0) {
      return true;
    }
    const auto flowsTo = [&](size_t target) {
      if (target >= length) return;
      written[target] = reached[target] ? written[target] & after : after;
      reached[target] = true;
    };
    if (kind == BPF_RET) continue;
    if (kind != BPF_JMP) {
      flowsTo(pc + 1);
    } else if (BPF_OP(insn.code) == BPF_JA) {
      flowsTo(pc + 1 + insn.k);
    } else {
      flowsTo(pc + 1 + insn.jt);
      flowsTo(pc + 1 + insn.jf);
    }
  }
  return false;
}

bool InstallFilter(pcap_t* handle, const std::string& expression) {
  bpf_program program{};
  if (!CompileKernelFilter(handle, expression, &program)) return false;
  const bool installed = pcap_setfilter(handle, &program) == 0;
  pcap_freecode(&program);
  return installed;
}

// Sets up and starts the handle; 0 or an errno value.
int Activate(pcap_t* handle, const CaptureOptions& options) {
  pcap_set_snaplen(handle, kCaptureSnapLength);
  pcap_set_promisc(handle, 0);
  pcap_set_buffer_size(handle, options.bufferBytes);
  if (options.immediate) {
    pcap_set_immediate_mode(handle, 1);
  } else {
    pcap_set_timeout(handle, kCaptureBlockTimeoutMs);
  }
  errno = 0;
  const int status = pcap_activate(handle);
  if (status < 0) return ErrnoOfActivate(status);
  if (!options.kernelFilter.empty() && !InstallFilter(handle, options.kernelFilter)) {
    return EINVAL;
  }
  char errorText[PCAP_ERRBUF_SIZE];
  if (pcap_setnonblock(handle, 1, errorText) != 0) return errno != 0 ? errno : EIO;
  return pcap_get_selectable_fd(handle) < 0 ? EOPNOTSUPP : 0;
}

}  // namespace

bool CompileKernelFilter(pcap_t* handle, const std::string& expression, bpf_program* program) {
  for (const int optimise : {1, 0}) {
    if (pcap_compile(handle, program, expression.c_str(), optimise, PCAP_NETMASK_UNKNOWN) != 0) {
      return false;
    }
    if (!ReadsUnwrittenScratch(*program) && program->bf_len <= kKernelFilterLimit) return true;
    pcap_freecode(program);
  }
  return false;
}

std::string InterfaceOfAddress(const IpAddress& address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::string name;
  for (const ifaddrs* entry = list; entry != nullptr && name.empty(); entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    sockaddr_storage storage{};
    std::memcpy(&storage, entry->ifa_addr, length);
    const std::optional<AddressAndPort> read = ReadSocketAddress(storage, length);
    if (read && read->address == address) name = entry->ifa_name;
  }
  freeifaddrs(list);
  return name;
}

CaptureSocket* OpenCaptureSocket(const IpAddress& address, const CaptureOptions& options,
                                 int* error) {
  int ignored = 0;
  int& code = error != nullptr ? *error : ignored;
  const std::string interface = InterfaceOfAddress(address);
  if (interface.empty()) {
    code = ENODEV;
    return nullptr;
  }
  char errorText[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_create(interface.c_str(), errorText);
  if (handle == nullptr) {
    code = ENOMEM;
    return nullptr;
  }
  code = Activate(handle, options);
  if (code != 0) {
    pcap_close(handle);
    return nullptr;
  }
  auto* socket = new CaptureSocket;
  socket->handle = handle;
  socket->linkType = pcap_datalink(handle);
  return socket;
}

void CloseCaptureSocket(CaptureSocket* socket) {
  if (socket == nullptr) return;
  if (socket->stream != nullptr) pcap_dump_close(socket->stream);
  pcap_close(socket->handle);
  delete socket;
}

int CaptureWaitFd(const CaptureSocket* socket) {
  return socket != nullptr ? pcap_get_selectable_fd(socket->handle) : -1;
}

int CaptureWaitLimitMs(CaptureSocket* socket) {
  const timeval* limit =
      socket != nullptr ? pcap_get_required_select_timeout(socket->handle) : nullptr;
  if (limit == nullptr) return -1;
  return int(limit->tv_sec * 1000 + (limit->tv_usec + 999) / 1000);
}

int ReceivePacket(CaptureSocket* socket, uint8_t* buffer, size_t capacity) {
  if (socket == nullptr || buffer == nullptr) {
    errno = EFAULT;
    return -1;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  const int status = pcap_next_ex(socket->handle, &header, &frame);
  if (status == 0) return kNoPacketWaiting;
  if (status != 1) {
    if (errno == 0) errno = ENETDOWN;
    return -1;
  }
  int version = 0;
  const int at = IpHeaderOffset(socket->linkType, frame, header->caplen, &version);
  if (at < 0 || size_t(at) >= header->caplen) return 0;
  // Of the IP version the link header announces.
  if (version != 0 && frame[at] >> 4 != version) return 0;
  const size_t length = header->caplen - static_cast<size_t>(at);
  if (length > capacity) {
    errno = EFAULT;
    return -1;
  }
  std::memcpy(buffer, frame + at, length);
  return static_cast<int>(length);
}

int ReadCapturedPacket(CaptureSocket* socket, CapturedPacket* record) {
  if (socket == nullptr || record == nullptr) {
    errno = EFAULT;
    return -1;
  }
  const int length = ReceivePacket(socket, socket->packet.data(), socket->packet.size());
  if (length <= 0) return length;
  return DecodeIpPacket(socket->packet.data(), size_t(length), record) ? length : 0;
}

CaptureCounts CaptureStatistics(CaptureSocket* socket) {
  CaptureCounts counts;
  pcap_stat stats{};
  if (socket != nullptr && pcap_stats(socket->handle, &stats) == 0) {
    counts.received = stats.ps_recv;
    counts.dropped = stats.ps_drop;
  }
  return counts;
}

namespace {

// The stream's buffer: a flood's frames go out in large writes.
constexpr size_t kStreamBufferBytes = 256 * 1024;
// The pipe's own room, so that the reader's short pauses cost no stall here.
constexpr int kStreamPipeBytes = 1024 * 1024;

}  // namespace

bool StreamCaptureTo(CaptureSocket* socket, int fd) {
  if (socket == nullptr || socket->stream != nullptr) {
    close(fd);
    return false;
  }
  fcntl(fd, F_SETPIPE_SZ, kStreamPipeBytes);  // a smaller pipe only means more writes
  FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    close(fd);
    return false;
  }
  // The C library takes a size only with a buffer of the caller's.
  socket->streamBuffer.reset(new char[kStreamBufferBytes]);
  setvbuf(file, socket->streamBuffer.get(), _IOFBF, kStreamBufferBytes);
  socket->stream = pcap_dump_fopen(socket->handle, file);
  if (socket->stream == nullptr) {
    fclose(file);
    return false;
  }
  return pcap_dump_flush(socket->stream) == 0;
}

int CaptureStreamFd(const CaptureSocket* socket) {
  if (socket == nullptr || socket->stream == nullptr) return -1;
  return fileno(pcap_dump_file(socket->stream));
}

int StreamWaitingFrames(CaptureSocket* socket, int limit) {
  if (socket == nullptr || socket->stream == nullptr) {
    errno = EFAULT;
    return -1;
  }
  errno = 0;
  const int frames =
      pcap_dispatch(socket->handle, limit, pcap_dump, reinterpret_cast<u_char*>(socket->stream));
  if (frames < 0) {
    if (errno == 0) errno = ENETDOWN;
    return -1;
  }
  if (pcap_dump_flush(socket->stream) != 0) {
    if (errno == 0) errno = EPIPE;
    return -1;
  }
  return frames;
}
