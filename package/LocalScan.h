// Where the scans look: packages beside the wizard, dictionary files in the host's data
// directory. Dictionary names are compared after lowering the ASCII letters only.
#pragma once

#include <string>

#define PACKAGE_SEARCH_PIECE L"\\*.dir"
#define INSTALLED_SEARCH_PIECE L"\\*.*"
#define DICT_EXT_DIC L".dic"
#define DICT_EXT_DIP L".dip"

// 'A' to 'Z' become 'a' to 'z'; every other unit, accented and Chinese letters included,
// stays as it is.
std::wstring LowerAscii(std::wstring text);
// A name as the file system compares it: every letter in one case, not only A-Z.
std::wstring FoldedName(std::wstring name);
