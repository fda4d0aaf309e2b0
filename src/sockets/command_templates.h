#pragma once

#include <span>

// The protocol command templates of the send dialog's "Common Commands..." menu, in menu
// order: the HTTP, POP3 and SMTP submenus, each with its items.
struct CommandTemplate {
  const char* submenu;
  const char* item;
  int id;            // the menu command
  const char* text;  // replaces the dialog's whole text; "\r\n" is CR LF
};

std::span<const CommandTemplate> CommandTemplates();

// The template of a menu command, or nullptr for any other id (0: the menu was dismissed).
const char* CommandTemplateText(int id);
