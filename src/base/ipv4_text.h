#pragma once

#include <cstdint>
#include <string>

// Dotted-decimal text of an IPv4 address held in network byte order.
std::string DottedAddress(uint32_t networkOrder);
