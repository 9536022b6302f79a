// The records of the install plan: which entry of which package goes where, and the
// dictionaries the host already has. The scan and the plan fill them; the install manager
// (install/InstallManager.h) owns them.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

enum EntryAction : uint32_t {
    ACTION_SKIP = 0,     // the installed file is at least as new
    ACTION_INSTALL = 1,  // no installed file of that name: written as a new file
    ACTION_UPGRADE = 2,  // an installed file of that name is replaced
};

// The version library's date: opaque to the wizard, which only zero-fills, stores and passes it.
struct DictDate {
    unsigned char bytes[16];
};

struct EntryItem {
    uint32_t index = 0;  // directory index in its package
    uint32_t size = 0;
    std::wstring dictId;   // lowercased
    std::wstring fileExt;  // lowercased, leading dot included
    std::wstring displayName;
    std::wstring dateText;
    std::wstring targetPath;  // empty until the plan decides
    EntryAction action = ACTION_SKIP;
};

struct PackageItem {
    std::wstring filePath;
    std::unique_ptr<std::vector<EntryItem>> entries;  // absent for an empty directory
};

struct InstalledDictItem {
    std::wstring fileName;  // lowercased, extension included
    std::wstring filePath;  // letter case as found
    DictDate fileDate{};    // all zero when the version library gave none
    // The host cannot see this file's bytes: a run was killed before it registered them, or the
    // host's configuration has no section naming the dictionary. An entry of its own date
    // installs it again, and so registers it.
    bool unregistered = false;
};
