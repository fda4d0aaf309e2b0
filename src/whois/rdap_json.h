#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

// JSON from outside (RDAP answers, the bootstrap file) goes through here: bounded in nesting
// before the parser sees it, and read afterwards only through checked getters, so a value of the
// wrong type is simply absent.

// Deeper than any real RDAP answer (about a dozen levels, entities within entities included).
inline constexpr int kRdapNestingLimit = 64;

// The document, or nothing when it is not JSON (strings must be valid UTF-8), or nests arrays and
// objects deeper than `nestingLimit`.
std::optional<nlohmann::json> ParseBoundedJson(std::string_view text,
                                               int nestingLimit = kRdapNestingLimit);

// Members of an object by type; null (or an empty view) when `value` is no object, the member is
// missing or it has another type.
const std::string* JsonString(const nlohmann::json& value, const char* key);
const nlohmann::json* JsonArray(const nlohmann::json& value, const char* key);
const nlohmann::json* JsonObject(const nlohmann::json& value, const char* key);
// A string element of an array (or nothing).
const std::string* JsonStringAt(const nlohmann::json& array, size_t index);
