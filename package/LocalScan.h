// Where the scans look: packages beside the wizard, dictionary files in the host's data
// directory. Dictionary names are compared after lowering the ASCII letters only.
#pragma once

#include <list>
#include <string>

#include "base/NameFolding.h"

#define PACKAGE_SEARCH_PIECE L"\\*.dir"
#define INSTALLED_SEARCH_PIECE L"\\*.*"
#define DICT_EXT_DIC L".dic"
#define DICT_EXT_DIP L".dip"

struct PackageItem;
struct InstalledDictItem;

// The packages beside the wizard, each with its directory's entries (none for an empty
// directory). False when the wizard's folder is unknown or a package cannot be read.
bool ScanPackageFiles(std::list<PackageItem>& packages);
bool ReadPackageEntries(PackageItem& package);
// The dictionaries in the host's data folder, dated by the version library. False only when
// the folder's path cannot be formed.
bool ScanInstalledFiles(std::list<InstalledDictItem>& installed);
