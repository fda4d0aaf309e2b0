#pragma once

// "v<major>.<minor>.<build>.<revision>" of the version compiled into the program. The text lives
// in one process-wide buffer that each call overwrites.
const char* GetVersionString();
