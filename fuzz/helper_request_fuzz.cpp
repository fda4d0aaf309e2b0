// Records sent to pelorin-helper, as any member of its group may send them: the request decoder,
// the kernel filter expression the helper makes of a capture's filter, and the reply check of the
// window's side.
#include <cstddef>
#include <cstdint>

#include "capture/filter_rules.h"
#include "wire/helper_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HelperRequest request;
  if (DecodeHelperRequest(data, size, &request) == 0 && request.type == kHelperCapture) {
    (void)KernelFilterExpression(request.filter);
  }
  (void)CheckHelperReply(data, size);
  return 0;
}
