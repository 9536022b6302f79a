#include "host/HostPaths.h"

#include <shlwapi.h>

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
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
    qb::ScopedRegKey key(raw);
    wchar_t buffer[REGISTRY_VALUE_UNITS] = {};
    DWORD bytes = sizeof buffer;
    if (RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS)
        return false;
    const DWORD end = bytes / sizeof(wchar_t);
    if (end >= REGISTRY_VALUE_UNITS) {
        // Data that fills the whole buffer is usable only when it carries its own terminator.
        if (buffer[REGISTRY_VALUE_UNITS - 1] != L'\0') return false;
    } else {
        buffer[end] = L'\0';
    }
    out.assign(buffer);
    return true;
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
