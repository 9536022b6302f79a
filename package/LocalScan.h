// Where the scans look: packages beside the wizard, dictionary files in the host's data
// directory. Dictionary names are compared after lowering the ASCII letters only.
#pragma once

#include <string>

#include "base/NameFolding.h"

#define PACKAGE_SEARCH_PIECE L"\\*.dir"
#define INSTALLED_SEARCH_PIECE L"\\*.*"
#define DICT_EXT_DIC L".dic"
#define DICT_EXT_DIP L".dip"

