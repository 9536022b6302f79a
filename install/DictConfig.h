// The host's local-query configuration. Every change to it is made on a copy: each profile
// write checked, the copy read back and proven (every key written holds its value, every
// section and key the file had before is still there with its value), and only then put in
// the file's place in one step that keeps the file's security, owner and attributes. A kill,
// a full disk or a host that holds the file never leaves it with fewer sections or keys.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One change to a section of the host's file: a key set to a value, or the whole section
// removed (removeSection, key and value unused).
struct CConfigEdit {
    std::wstring m_strSection;
    std::wstring m_strKey;
    std::wstring m_strValue;
    bool m_bRemoveSection = false;
};

// Applies the edits to a copy of the file, proves the copy, and replaces the file with it,
// trying again for a short while when another program holds the file. False with the Windows
// error code when any step failed: the file is then exactly as it was, and no copy is left.
bool ReplaceHostConfigVerified(const std::wstring& path, const std::vector<CConfigEdit>& edits, DWORD& error);

// Whether text survives a round trip through the code page (any code page, UTF-8 included).
bool TextFitsCodePage(const std::wstring& text, UINT codePage);

// False when the host's file would lose the id: it is kept in the system's ANSI code page
// (no UTF-16 or UTF-8 byte order mark) and the id has characters that code page cannot
// hold, which the profile functions would turn into '?', merging it with other sections.
bool HostConfigCanHold(const std::wstring& dictId);

// Removes the dictionary's section from the host's file through the same proven whole-file
// replacement. True when the section is gone (or was never there); false with the Windows
// error code when the file could not be replaced.
bool UnregisterDictionary(const std::wstring& dictId, DWORD& error);
