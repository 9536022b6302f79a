#include "install/SetupIdentity.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "base/NameFolding.h"
#include "package/EntryNames.h"
#include "package/PackageSeal.h"

namespace {

std::wstring ProfileText(const std::wstring& path, const wchar_t* key) {
    wchar_t value[SETUP_TEXT_MAX_UNITS + 1] = {};
    GetPrivateProfileStringW(SETUP_INFO_SECTION, key, L"", value, SETUP_TEXT_MAX_UNITS + 1, path.c_str());
    return value;
}

}  // namespace

bool IsSafeSetupId(const std::wstring& id) {
    if (id.empty() || id.size() > SETUP_ID_MAX_UNITS || id[0] == L'.') return false;
    for (wchar_t c : id) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                           c == L'.' || c == L'-' || c == L'_';
        if (!plain) return false;
    }
    // The id names a folder and a registry key: Windows would drop a trailing dot (so "abc." and
    // "abc" would share one folder under two keys) and open a device for "nul" or "com1.x".
    return IsSafeEntryName(id, L"");
}

std::wstring DigestSetupId(std::vector<std::wstring> packageNames) {
    for (std::wstring& name : packageNames) name = FoldedName(name);
    std::sort(packageNames.begin(), packageNames.end());
    std::string bytes;
    for (const std::wstring& name : packageNames) {
        bytes.append(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
        bytes.append("\n\0", 2);
    }
    CSha256 hash;
    EntryDigest digest{};
    hash.Update(bytes.data(), bytes.size());
    hash.Finish(digest);
    std::wstring id = SETUP_DIGEST_ID_PREFIX;
    for (size_t i = 0; i < 8; ++i) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02x", digest[i]);
        id += hex;
    }
    return id;
}

SetupIdentity ReadSetupIdentity(const std::wstring& setupDir, const std::vector<std::wstring>& packageNames) {
    std::wstring path = setupDir;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += SETUP_INFO_FILE_NAME;
    SetupIdentity identity;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        identity.id = ProfileText(path, SETUP_KEY_ID);
        identity.displayName = ProfileText(path, SETUP_KEY_DISPLAY_NAME);
        identity.publisher = ProfileText(path, SETUP_KEY_PUBLISHER);
    }
    if (!IsSafeSetupId(identity.id)) identity.id = DigestSetupId(packageNames);
    return identity;
}
