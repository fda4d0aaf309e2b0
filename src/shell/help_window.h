#pragma once

// Shows the help page stored in the program, in the program's own help window; silent when
// the page cannot be shown.
void OpenHelp();
