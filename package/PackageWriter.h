// Lays out dictionary packages: the header, the directory, then every entry's bytes back
// to back in directory order. Used by the publishers' tool and by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageFormat.h"

struct PackageEntrySpec {
    std::wstring dictId;
    std::wstring fileExt;  // with its leading dot
    std::wstring dateText;
    std::wstring displayName;
    uint32_t size = 0;
};

// The header and directory for entries whose data follows the directory in order.
// Texts longer than their field are cut to leave room for the NUL.
std::string BuildPackageDirectory(const std::vector<PackageEntrySpec>& entries);

// A whole package held in memory: entries[i].size is taken from data[i].
std::string BuildPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data);

// The same package followed by its seal (package/PackageSeal.h).
std::string BuildSealedPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data);
// The same package followed by a seal of the first version, which covers the entries only.
std::string BuildEntriesOnlySealedPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data);
