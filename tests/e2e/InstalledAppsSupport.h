// What an install leaves for Windows' list of installed apps, read from outside: the entry
// in the registry's 32-bit view (the plain view in the tests' 32-bit prefix), the removal
// record's folder under C:\ProgramData, and their clean-up between tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "install/UninstallEntry.h"
#include "tests/support/TestSupport.h"

namespace e2e {

inline std::wstring SetupsRoot() { return L"C:\\ProgramData\\Quillbox\\Setups"; }
inline std::wstring RecordFolder(const std::wstring& id) { return SetupsRoot() + L"\\" + id; }

// The setup ids that have an entry.
inline std::vector<std::wstring> UninstallEntries() {
    std::vector<std::wstring> ids;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_ROOT_KEY, 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_32KEY, &raw) !=
        ERROR_SUCCESS)
        return ids;
    qb::ScopedRegKey root(raw);
    const std::wstring prefix = UNINSTALL_KEY_PREFIX;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::wstring(name).compare(0, prefix.size(), prefix) == 0) ids.push_back(name + prefix.size());
    }
    return ids;
}

// A value of the entry (subKey: beneath it); empty when missing. DWORDs as decimal text.
inline std::wstring EntryValue(const std::wstring& id, const wchar_t* name, const wchar_t* subKey = nullptr) {
    std::wstring path = UninstallKeyOf(id);
    if (subKey != nullptr) path += std::wstring(L"\\") + subKey;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS)
        return std::wstring();
    qb::ScopedRegKey key(raw);
    BYTE data[4096] = {};
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) return std::wstring();
    if (type == REG_DWORD) return std::to_wstring(*reinterpret_cast<DWORD*>(data));
    return reinterpret_cast<const wchar_t*>(data);
}

inline bool EntryExists(const std::wstring& id) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyOf(id).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(raw);
    return true;
}

// The files Windows deletes at its next start (MOVEFILE_DELAY_UNTIL_REBOOT), as one text.
inline std::wstring PendingDeletes() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      &raw) != ERROR_SUCCESS)
        return std::wstring();
    qb::ScopedRegKey key(raw);
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring text(data.data(), size / sizeof(wchar_t));
    for (wchar_t& c : text)
        if (c == 0) c = L'|';
    return text;
}

// Every entry and record folder of ours, gone.
inline void RemoveInstalledApps() {
    for (const std::wstring& id : UninstallEntries()) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_ROOT_KEY, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &raw) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(raw, (UNINSTALL_KEY_PREFIX + id).c_str());
            RegCloseKey(raw);
        }
    }
    test::RemoveTree(L"C:\\ProgramData\\Quillbox");
}

// The program and its arguments of a command line such as UninstallString.
inline bool SplitCommand(const std::wstring& command, std::wstring& exe, std::wstring& arguments) {
    if (command.size() < 2 || command[0] != L'"') return false;
    const size_t close = command.find(L'"', 1);
    if (close == std::wstring::npos) return false;
    exe = command.substr(1, close - 1);
    arguments = close + 2 <= command.size() ? command.substr(close + 2) : std::wstring();
    return true;
}

}  // namespace e2e
