#pragma once

#include "shell/module_pane.h"

// The pane of a module that is not built yet: its name and nothing else.
ModulePane* CreatePlaceholderPane(QWidget* mainWindow, const char* moduleName);
