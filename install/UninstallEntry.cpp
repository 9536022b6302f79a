#include "install/UninstallEntry.h"

#include <algorithm>
#include <cwchar>
#include <set>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"

namespace {

#define VALUE_DISPLAY_NAME L"DisplayName"
#define VALUE_DISPLAY_VERSION L"DisplayVersion"
#define VALUE_PUBLISHER L"Publisher"
#define VALUE_DISPLAY_ICON L"DisplayIcon"
#define VALUE_INSTALL_DATE L"InstallDate"
#define VALUE_ESTIMATED_SIZE L"EstimatedSize"
#define VALUE_UNINSTALL_STRING L"UninstallString"
#define VALUE_QUIET_UNINSTALL_STRING L"QuietUninstallString"
#define VALUE_NO_MODIFY L"NoModify"
#define VALUE_NO_REPAIR L"NoRepair"

constexpr REGSAM VIEW = KEY_WOW64_32KEY;

LSTATUS SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS SetNumber(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The dictionaries' values: one per dictionary of the record, and no other.
LSTATUS WriteDictionaryValues(HKEY entry, const RemovalRecord& record) {
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(entry, UNINSTALL_DICTIONARIES_KEY, 0, nullptr, 0,
                                     KEY_SET_VALUE | KEY_QUERY_VALUE | VIEW, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    qb::ScopedRegKey key(raw);
    std::set<std::wstring> ids;
    for (const RecordedEntry& recorded : record.entries) ids.insert(recorded.dictId);
    std::vector<std::wstring> stale;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (!ids.count(name)) stale.push_back(name);
    }
    for (const std::wstring& name : stale) RegDeleteValueW(key.get(), name.c_str());
    for (const std::wstring& id : ids) {
        std::wstring newest;
        for (const RecordedEntry& recorded : record.entries)
            if (recorded.dictId == id && recorded.dateText > newest) newest = recorded.dateText;
        status = SetText(key.get(), id.c_str(), newest);
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

std::wstring Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t text[16];
    swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

}  // namespace

std::wstring UninstallKeyOf(const std::wstring& setupId) {
    return std::wstring(UNINSTALL_ROOT_KEY) + L"\\" UNINSTALL_KEY_PREFIX + setupId;
}

std::wstring UninstallDisplayName(const std::wstring& publisherName, const std::vector<std::wstring>& dictionaryNames) {
    std::wstring name = publisherName;
    if (name.empty()) {
        std::vector<std::wstring> seen;
        for (const std::wstring& dictionary : dictionaryNames) {
            if (dictionary.empty() || std::find(seen.begin(), seen.end(), dictionary) != seen.end()) continue;
            seen.push_back(dictionary);
            name += (name.empty() ? L"" : UNINSTALL_NAME_SEPARATOR) + dictionary;
        }
    }
    if (name.empty()) name = UNINSTALL_NAME_FALLBACK;
    if (name.size() > UNINSTALL_NAME_MAX_UNITS) name = name.substr(0, UNINSTALL_NAME_MAX_UNITS - 1) + L"…";
    return name;
}

std::wstring UninstallDisplayVersion(const RemovalRecord& record) {
    std::wstring newest;
    for (const RecordedEntry& entry : record.entries)
        if (entry.dateText > newest) newest = entry.dateText;
    return newest;
}

bool WriteUninstallEntry(const RemovalRecord& record, const std::wstring& keptExe, bool installedNow, DWORD& error) {
    HKEY raw = nullptr;
    error = static_cast<DWORD>(RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyOf(record.setupId).c_str(), 0, nullptr,
                                               0, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | VIEW, nullptr,
                                               &raw, nullptr));
    if (error != ERROR_SUCCESS) return false;
    qb::ScopedRegKey key(raw);
    uint64_t bytes = 0;
    std::vector<std::wstring> names;
    for (const RecordedEntry& entry : record.entries) {
        bytes += entry.size;
        names.push_back(entry.displayName);
    }
    const std::wstring quoted = L"\"" + keptExe + L"\"";
    const DWORD kilobytes = static_cast<DWORD>(std::min<uint64_t>((bytes + 1023) / 1024, 0xFFFFFFFFu));
    LSTATUS status = WriteDictionaryValues(key.get(), record);
    QB_CRASH_POINT();
    if (status == ERROR_SUCCESS) status = SetText(key.get(), VALUE_UNINSTALL_STRING, quoted + L" " UNINSTALL_SWITCH);
    if (status == ERROR_SUCCESS)
        status = SetText(key.get(), VALUE_QUIET_UNINSTALL_STRING, quoted + L" " UNINSTALL_QUIET_SWITCHES);
    if (status == ERROR_SUCCESS) status = SetText(key.get(), VALUE_DISPLAY_ICON, keptExe + L",0");
    if (status == ERROR_SUCCESS) status = SetText(key.get(), VALUE_DISPLAY_VERSION, UninstallDisplayVersion(record));
    if (status == ERROR_SUCCESS &&
        (installedNow || RegQueryValueExW(key.get(), VALUE_INSTALL_DATE, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS))
        status = SetText(key.get(), VALUE_INSTALL_DATE, Today());
    if (status == ERROR_SUCCESS) status = SetNumber(key.get(), VALUE_ESTIMATED_SIZE, kilobytes);
    if (status == ERROR_SUCCESS) status = SetNumber(key.get(), VALUE_NO_MODIFY, 1);
    if (status == ERROR_SUCCESS) status = SetNumber(key.get(), VALUE_NO_REPAIR, 1);
    if (status == ERROR_SUCCESS) {
        status = record.publisher.empty() ? RegDeleteValueW(key.get(), VALUE_PUBLISHER)
                                          : SetText(key.get(), VALUE_PUBLISHER, record.publisher);
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    }
    // Listed from here on.
    if (status == ERROR_SUCCESS)
        status = SetText(key.get(), VALUE_DISPLAY_NAME, UninstallDisplayName(record.displayName, names));
    error = static_cast<DWORD>(status);
    return status == ERROR_SUCCESS;
}

bool RemoveUninstallEntry(const std::wstring& setupId, DWORD& error) {
    const std::wstring path = UninstallKeyOf(setupId);
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                   DELETE | KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | VIEW, &raw);
    if (status == ERROR_FILE_NOT_FOUND) {
        error = ERROR_SUCCESS;
        return true;
    }
    if (status == ERROR_SUCCESS) {
        qb::ScopedRegKey key(raw);
        // Off the list first; the detection values and the rest follow.
        RegDeleteValueW(key.get(), VALUE_DISPLAY_NAME);
        QB_CRASH_POINT();
        status = RegDeleteTreeW(key.get(), nullptr);
    }
    if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), VIEW, 0);
    error = static_cast<DWORD>(status);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
