// The host's local-query configuration: every change to it is made on a copy that replaces
// the file only when complete, so a kill never leaves it with fewer sections or keys.
#pragma once

#include <string>

// False when the host's file would lose the id: it is kept in the system's ANSI code page
// (no UTF-16 or UTF-8 byte order mark) and the id has characters that code page cannot
// hold, which the profile functions would turn into '?', merging it with other sections.
bool HostConfigCanHold(const std::wstring& dictId);
