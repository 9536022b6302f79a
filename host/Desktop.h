// Whether anyone can see a window of this process: not a service's session 0, not a window
// station without a display (a scheduled task run whether or not a user is logged on, a
// deployment agent). There the wizard runs as /S would, since no one could close its dialog.
#pragma once

#include <string>

// Test seam, documented for that use only: set to 1, the wizard takes its window station to
// be one that no one sees. Wine's only station is the interactive one.
#define WIZ_ENV_ASSUME_NO_DESKTOP L"QUILLBOX_TEST_ASSUME_NO_DESKTOP"

// True when no one can see a window; why says what showed it.
bool NoOneCanSeeWindows(std::wstring& why);
