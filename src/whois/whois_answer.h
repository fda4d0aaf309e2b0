#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "shell/output_limits.h"

// Whois over TCP: the query text and CR LF to port 43, the answer until the server closes.
inline constexpr unsigned short kWhoisPort = 43;
// Longest query text (a 300-character input buffer with its terminator).
inline constexpr size_t kWhoisQueryMax = 299;
// Bytes taken from the connection per receive.
inline constexpr size_t kWhoisChunkSize = 1000;
// No real answer comes near this; a server that sends more is treated as if the answer could
// not be grown, so an endless sender cannot exhaust memory. Shown, an answer has at most one
// character per byte, so any answer within the limit fits the output pane from its start.
inline constexpr size_t kWhoisAnswerLimit = kOutputTextRoom;
// Longest referral server name kept; a longer value is cut to this.
inline constexpr size_t kWhoisReferralMax = 299;

// Appends one received chunk as text, that is up to its first zero byte. Returns false, leaving
// the answer as it was, when the answer would grow past `limit` or memory runs out.
bool AppendAnswerChunk(std::string& answer, std::string_view chunk,
                       size_t limit = kWhoisAnswerLimit);

// An answer without any CR LF gets a CR before every LF; one that has a CR LF anywhere stays as
// it is, bare LFs included.
void NormalizeLineEnds(std::string& text);

// The server named by the first "\r\nReferralServer: " line of an answer, if a CR ends that line:
// a scheme prefix ("whois://") is dropped, and so is a ":" with the port and anything after it
// (queries always go to port 43); an IPv6 address in brackets ("whois://[2001:db8::43]:43") is
// taken from between them. The name is cut to kWhoisReferralMax characters; it may be empty when
// the value holds no host.
std::optional<std::string> FindReferralServer(std::string_view answer);

// The answer as UTF-8 for display, decided line by line: a line that is valid UTF-8 as it is,
// any other read as Latin-1, so no byte of a line in a legacy encoding is lost.
std::string WhoisTextForDisplay(std::string_view answer);
