// The host's local-query configuration. Every change to it is made on a copy: the file's
// bytes edited in one pass (host/HostConfigFile.h), written and flushed under a work name,
// read back and proven (every key written holds its value, every section and key the file
// had before is still there with its value), given the file's security, owner and
// attributes, and only then renamed over the file in one step. A whole file answers to the
// name at every instant: a kill, a full disk or a host that holds the file never leaves it
// missing or with fewer sections or keys.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/HostConfigFile.h"

// Applies the edits to a copy of the file, proves the copy, and replaces the file with it,
// trying again for a short while when another program holds the file. False with the Windows
// error code when any step failed: the file is then exactly as it was, and no copy is left.
// A name or value the file's encoding cannot hold (an ANSI file and text its code page lacks)
// fails with ERROR_NO_UNICODE_TRANSLATION before anything is written.
bool ReplaceHostConfigVerified(const std::wstring& path, const std::vector<CConfigEdit>& edits, DWORD& error);

// False when the host's file would lose the id: it is kept in the system's ANSI code page
// (no UTF-16 or UTF-8 byte order mark) and the id has characters that code page cannot
// hold, which the profile functions would turn into '?', merging it with other sections.
bool HostConfigCanHold(const std::wstring& dictId);

// Removes the dictionary's section from the host's file through the same proven whole-file
// replacement. True when the section is gone (or was never there); false with the Windows
// error code when the file could not be replaced.
bool UnregisterDictionary(const std::wstring& dictId, DWORD& error);
