#include "whois/rdap_json.h"

namespace {

// Whether arrays and objects nest at most `limit` deep, counted outside strings. A scan of its
// own, so the parser never meets a document deeper than that.
bool NestsWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

}  // namespace

std::optional<nlohmann::json> ParseBoundedJson(std::string_view text, int nestingLimit) {
  if (!NestsWithin(text, nestingLimit)) return std::nullopt;
  nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

const std::string* JsonString(const nlohmann::json& value, const char* key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  if (found == value.end() || !found->is_string()) return nullptr;
  return &found->get_ref<const std::string&>();
}

const nlohmann::json* JsonArray(const nlohmann::json& value, const char* key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  return found != value.end() && found->is_array() ? &*found : nullptr;
}

const nlohmann::json* JsonObject(const nlohmann::json& value, const char* key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  return found != value.end() && found->is_object() ? &*found : nullptr;
}

const std::string* JsonStringAt(const nlohmann::json& array, size_t index) {
  if (!array.is_array() || index >= array.size() || !array[index].is_string()) return nullptr;
  return &array[index].get_ref<const std::string&>();
}
