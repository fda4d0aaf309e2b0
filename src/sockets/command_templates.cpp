#include "sockets/command_templates.h"

#include <array>

namespace {

// The HTTP templates name a placeholder host that the user replaces with the real one.
constexpr std::array<CommandTemplate, 23> kTemplates = {{
    {"HTTP", "GET", 40059,
     "GET / HTTP/1.1\r\nAccept: */*\r\nHost: www.example.com\r\nUser-Agent: Opera\r\n"
     "Connection: close\r\n\r\n"},
    {"HTTP", "HEAD", 40060,
     "HEAD / HTTP/1.1\r\nAccept: */*\r\nHost: www.example.com\r\nUser-Agent: Opera\r\n"
     "Connection: close\r\n\r\n"},
    {"POP3", "USER", 40063, "USER \r\n"},
    {"POP3", "PASS", 40064, "PASS \r\n"},
    {"POP3", "APOP", 40067, "APOP \r\n"},
    {"POP3", "STAT", 40068, "STAT \r\n"},
    {"POP3", "LIST", 40069, "LIST\r\n"},
    {"POP3", "UIDL", 40083, "UIDL 0\r\n"},
    {"POP3", "TOP", 40070, "TOP 0 0\r\n"},
    {"POP3", "RETR", 40071, "RETR 0\r\n"},
    {"POP3", "DELE", 40072, "DELE 0\r\n"},
    {"POP3", "NOOP", 40073, "NOOP\r\n"},
    {"POP3", "RSET", 40074, "RSET\r\n"},
    {"POP3", "QUIT", 40075, "QUIT\r\n"},
    {"SMTP", "USER", 40065, "USER \r\n"},
    {"SMTP", "PASS", 40066, "PASS \r\n"},
    {"SMTP", "HELO", 40076, "HELO \r\n"},
    {"SMTP", "MAIL FROM", 40077, "MAIL FROM:<>\r\n"},
    {"SMTP", "RCPT TO", 40078, "RCPT TO:<>\r\n"},
    {"SMTP", "DATA", 40079, "DATA\r\n"},
    {"SMTP", "RSET", 40080, "RSET\r\n"},
    {"SMTP", "NOOP", 40081, "NOOP\r\n"},
    {"SMTP", "QUIT", 40082, "QUIT\r\n"},
}};

}  // namespace

std::span<const CommandTemplate> CommandTemplates() {
  return kTemplates;
}

const char* CommandTemplateText(int id) {
  for (const CommandTemplate& t : kTemplates) {
    if (t.id == id) return t.text;
  }
  return nullptr;
}
