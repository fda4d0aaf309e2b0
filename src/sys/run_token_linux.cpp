#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sys/run_token.h"

RunToken::RunToken() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeFd_ < 0) createError_ = errno;
}

RunToken::~RunToken() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void RunToken::cancel() {
  cancelled_.store(true, std::memory_order_release);
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}
