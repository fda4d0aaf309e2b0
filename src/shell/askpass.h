#pragma once

#include <QString>

// The program as ssh's askpass: ssh's question in a dialog, the answer on standard output. A
// yes/no question (an unknown host key) gets Yes and No and answers "yes" or "no"; a
// confirmation (SSH_ASKPASS_PROMPT=confirm) answers by the exit status; a message
// (SSH_ASKPASS_PROMPT=none) is shown; anything else (a password, a passphrase) gets a hidden
// field. The prompt may come from the remote server: it is shown as plain text. Exit status 0,
// or 1 when the user cancelled. The answer is handed to ssh and kept nowhere.
int RunAskpass(const QString& prompt);
