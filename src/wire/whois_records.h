#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "whois/whois_service.h"

// WhoisService over the agent's stream. Each operation: its request in kFrameOpen, the reply
// record in one or more messages (an answer may be longer than a message), then the channel's
// end; the receiver joins the messages, at most kWhoisReplyLimit bytes, and reads the record once
// the channel has ended.
inline constexpr uint16_t kWhoisExchangeQuery = 1;   // WhoisAsked -> WhoisExchangeResult
inline constexpr uint16_t kWhoisExchangeRdap = 2;    // text (URL) -> RdapReply
inline constexpr uint16_t kWhoisRdapServiceFor = 3;  // text (name) -> optional text (base URL)

// Longest server, query, name or URL either side takes.
inline constexpr size_t kWhoisRecordTextLimit = 64 * 1024;
// Longest reply record: the longest answer with room for its other fields.
inline constexpr size_t kWhoisReplyLimit =
    (kRdapAnswerLimit > kWhoisAnswerLimit ? kRdapAnswerLimit : kWhoisAnswerLimit) +
    2 * kWhoisRecordTextLimit;

struct WhoisAsked {
  std::string server;
  std::string query;
};

std::vector<uint8_t> EncodeWhoisAsked(const WhoisAsked& asked);
std::optional<WhoisAsked> DecodeWhoisAsked(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeWhoisExchangeResult(const WhoisExchangeResult& result);
std::optional<WhoisExchangeResult> DecodeWhoisExchangeResult(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeRdapReply(const RdapReply& reply);
std::optional<RdapReply> DecodeRdapReply(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> EncodeWhoisText(const std::string& text);
std::optional<std::string> DecodeWhoisText(const std::vector<uint8_t>& bytes);

// The outer optional: whether the record could be read.
std::vector<uint8_t> EncodeWhoisMaybeText(const std::optional<std::string>& text);
std::optional<std::optional<std::string>> DecodeWhoisMaybeText(const std::vector<uint8_t>& bytes);
