#include <cstring>

#include "host/remote_services.h"
#include "wire/names_records.h"
#include "wire/services.h"

int ResolveHostThere(Link& link, const char* name, char* destination, size_t capacity,
                     const RunToken* token) {
  if (destination == nullptr || capacity == 0 || name == nullptr) return 0;
  const size_t asked = std::min(capacity, kNameTextLimit);
  std::optional<ResolveHostFound> found;
  const int error = CallOverLink(
      link, kServiceNames, kNamesResolveHost,
      EncodeResolveHostAsked({std::string(name, strnlen(name, kNameTextLimit)), uint32_t(asked)}),
      token, [&](const std::vector<uint8_t>& message) {
        found = DecodeResolveHostFound(message);
        return found.has_value() && found->text.size() < asked;
      });
  if (error != 0 || !found || !found->found) return 0;
  std::memcpy(destination, found->text.c_str(), found->text.size() + 1);
  return 1;
}
