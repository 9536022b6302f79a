// The host's configuration file (localquerydictcfg.ini) read as the profile functions read it,
// once and whole: to prove a rewritten copy against the file it replaces, and to learn which
// dictionaries the host can see.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

// The file's text: UTF-16 or UTF-8 after a byte order mark, the ANSI code page without one.
bool ReadProfileText(const std::wstring& path, std::wstring& text, DWORD& error);

// What a profile file holds, line by line as the profile functions see it, in a form two
// files can be compared by: one item per section header ("S\1") and one per key line
// ("S\1K\1V"), section and key folded; the profile functions rewrite a file whole, so
// spaces around names and values and blank lines do not count.
struct CProfileItems {
    std::unordered_map<std::wstring, int> counts;
    std::unordered_set<std::wstring> sections;  // folded names
};

// One key line's item: section and key folded, the value as written.
std::wstring ItemOf(const std::wstring& section, const std::wstring& key, const std::wstring& value);
CProfileItems ParseProfile(const std::wstring& text);

// The dictionaries the host can see: every section that names itself with its "id" key (the
// id as the section is named, letters folded). False when the file cannot be read.
bool ReadRegisteredIds(const std::wstring& path, std::unordered_set<std::wstring>& ids);
