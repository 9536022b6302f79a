#include "host/HostPaths.h"

#include <shlwapi.h>

#include <algorithm>

#include "base/ScopedWin.h"

namespace {

constexpr DWORD REGISTRY_VALUE_UNITS = 260;
// The directory part of the wizard's path, its terminator not counted.
constexpr size_t MODULE_DIR_UNITS = 255;

// Filled on first use and kept for the rest of the run, so the registry is read once.
std::wstring& HostLocationCache() {
    static std::wstring cache;
    return cache;
}

std::wstring& HostExecutableNameCache() {
    static std::wstring cache;
    return cache;
}

// The value as text, or why it cannot be read: the key or the value missing
// (ERROR_FILE_NOT_FOUND), too long for the buffer (ERROR_MORE_DATA), or another registry error.
LONG ReadRegistryValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, std::wstring& out) {
    HKEY raw = nullptr;
    const LONG opened = RegOpenKeyExW(root, subKey, 0, KEY_READ, &raw);
    if (opened != ERROR_SUCCESS) return opened;
    qb::ScopedRegKey key(raw);
    wchar_t buffer[REGISTRY_VALUE_UNITS] = {};
    DWORD bytes = sizeof buffer;
    const LONG queried =
        RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (queried != ERROR_SUCCESS) return queried;
    const DWORD end = bytes / sizeof(wchar_t);
    if (end >= REGISTRY_VALUE_UNITS) {
        // Data that fills the whole buffer is usable only when it carries its own terminator.
        if (buffer[REGISTRY_VALUE_UNITS - 1] != L'\0') return ERROR_MORE_DATA;
    } else {
        buffer[end] = L'\0';
    }
    out.assign(buffer);
    return ERROR_SUCCESS;
}

// The key as an administrator finds it in the registry editor: a 32-bit program on 64-bit
// Windows reads the 32-bit view.
std::wstring HostKeyText() {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        return L"HKLM\\" HOST_REGISTRY_KEY_WOW64 L" (the registry's 32-bit view)";
    return L"HKLM\\" HOST_REGISTRY_KEY L" (32-bit Windows: the registry's only view)";
}

// The names of the key's values, so that a misspelt one shows beside the one looked for.
std::wstring ValueNamesOfHostKey() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, KEY_READ, &raw) != ERROR_SUCCESS) return L"none";
    qb::ScopedRegKey key(raw);
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    if (names.empty()) return L"none";
    std::sort(names.begin(), names.end());
    std::wstring list;
    for (const std::wstring& name : names) list += (list.empty() ? L"" : L", ") + name;
    return list;
}

// Why one of the two values could not be used, or empty when it can.
std::wstring DescribeValue(const wchar_t* valueName, std::wstring& value) {
    const LONG read = ReadRegistryValue(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, valueName, value);
    const std::wstring key = HostKeyText();
    if (read == ERROR_FILE_NOT_FOUND)
        return key + L" has no value " + valueName + L" (its values: " + ValueNamesOfHostKey() + L")";
    if (read == ERROR_MORE_DATA)
        return key + L": the value " + valueName + L" is too long (259 characters at most)";
    if (read != ERROR_SUCCESS)
        return key + L": the value " + valueName + L" cannot be read (error " + std::to_wstring(read) + L")";
    if (value.empty()) return key + L": the value " + valueName + L" is empty";
    return L"";
}

bool LookUpCached(std::wstring& cache, const wchar_t* valueName) {
    if (!cache.empty()) return true;
    return ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, valueName, cache);
}

bool LookUpLocation(std::wstring& location) {
    if (!LookUpCached(HostLocationCache(), HOST_VALUE_LOCATION)) return false;
    location = HostLocationCache();
    return true;
}

bool LocationPlus(const wchar_t* piece, std::wstring& out) {
    std::wstring location;
    if (!LookUpLocation(location)) return false;
    out = location + piece;
    return true;
}

}  // namespace

bool ReadRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* valueName, std::wstring& out) {
    return ReadRegistryValue(root, subKey, valueName, out) == ERROR_SUCCESS;
}

bool CheckHostEnvironment() {
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, HOST_VALUE_LOCATION, HostLocationCache()))
        return false;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, HOST_VALUE_EXECUTABLE, HostExecutableNameCache()))
        return false;
    // Empty values would name the root of the current drive, which exists everywhere.
    if (HostLocationCache().empty() || HostExecutableNameCache().empty()) return false;
    return PathExists(HostLocationCache() + L"\\" + HostExecutableNameCache());
}

bool GetDictDataDir(std::wstring& out) { return LocationPlus(HOST_DICT_DATA_PIECE, out); }

bool GetLocalQueryCfgPath(std::wstring& out) { return LocationPlus(HOST_LOCAL_QUERY_CFG_PIECE, out); }

bool GetHostImagePath(const wchar_t* fileName, std::wstring& out) {
    std::wstring path;
    if (!LocationPlus(HOST_IMAGE_PIECE, path)) return false;
    out = path + fileName;
    return true;
}

bool GetPackageImagePath(const wchar_t* fileName, std::wstring& out) {
    std::wstring dir;
    if (!GetModuleDir(dir)) return false;
    out = dir + PACKAGE_IMAGE_PIECE + fileName;
    return true;
}

bool GetHostFolder(std::wstring& out) { return LookUpLocation(out); }

bool GetRepairToolPath(std::wstring& out) { return LocationPlus(L"\\" REPAIR_TOOL_NAME, out); }

bool GetHostExecutablePath(std::wstring& out) {
    std::wstring location;
    if (!LookUpLocation(location)) return false;
    if (!LookUpCached(HostExecutableNameCache(), HOST_VALUE_EXECUTABLE)) return false;
    out = location + L"\\" + HostExecutableNameCache();
    return true;
}

bool GetModuleDir(std::wstring& out) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;  // MAX_PATH means it was cut
    // Drive ("X:"), then the directory with the separator that ends it; a network path has
    // no drive and keeps its leading separators in the directory.
    const std::wstring full(path, length);
    const size_t driveLength = (length >= 2 && full[1] == L':') ? 2 : 0;
    const size_t lastSeparator = full.find_last_of(L"\\/");
    const size_t dirLength =
        (lastSeparator == std::wstring::npos || lastSeparator < driveLength) ? 0 : lastSeparator + 1 - driveLength;
    if (dirLength > MODULE_DIR_UNITS) return false;
    out = full.substr(0, driveLength + dirLength);
    return true;
}

bool PathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

std::wstring DescribeMissingHost() {
    HKEY raw = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, KEY_READ, &raw);
    qb::ScopedRegKey key(opened == ERROR_SUCCESS ? raw : nullptr);
    if (opened == ERROR_FILE_NOT_FOUND) return L"the registry key " + HostKeyText() + L" is missing";
    if (opened != ERROR_SUCCESS)
        return L"the registry key " + HostKeyText() + L" cannot be read (error " + std::to_wstring(opened) + L")";
    std::wstring location, executable;
    std::wstring why = DescribeValue(HOST_VALUE_LOCATION, location);
    if (why.empty()) why = DescribeValue(HOST_VALUE_EXECUTABLE, executable);
    if (!why.empty()) return why;
    const std::wstring exe = location + L"\\" + executable;
    if (!PathExists(exe))
        return L"the host's executable " + exe + L" (" HOST_VALUE_LOCATION L" and " HOST_VALUE_EXECUTABLE
               L" under " + HostKeyText() + L") is missing";
    return L"";
}

std::vector<std::wstring> DescribeMissingHostParts() {
    std::vector<std::wstring> missing;
    std::wstring path;
    if (GetDictDataDir(path) && !PathExists(path))
        missing.push_back(L"the host's dictionary folder " + path + L" is missing: no dictionary can be put in place");
    if (GetLocalQueryCfgPath(path) && !PathExists(path))
        missing.push_back(L"the host's configuration file " + path + L" is missing: no dictionary can be registered");
    if (GetHostImagePath(L"", path) && !PathExists(path)) {
        path.pop_back();  // the separator a file name would follow
        missing.push_back(L"the host's picture folder " + path + L" is missing: no picture can be copied");
    }
    return missing;
}
