// Texts read from /proc: directory names, descriptor links, status files, command lines,
// executable paths.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "netstat/endpoint_table.h"
#include "netstat/proc_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ProcessIdOfName(text);
  (void)SocketInodeOfLink(text);
  (void)ResidentBytesOfStatus(text);
  (void)CommandLineText(text);
  char small[7];
  (void)CopyBounded(text, small, sizeof small);
  EndpointRecord record{};
  SetProcessName(record, FileNameOfPath(text));
  (void)EndpointCellText(record, kColumnProcess);
  return 0;
}
