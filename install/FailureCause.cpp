#include "install/FailureCause.h"

#include "host/HostPaths.h"
#include "install/InstallManager.h"

namespace {

std::wstring HostConfigPath() {
    std::wstring path;
    return GetLocalQueryCfgPath(path) ? path : std::wstring(L"localquerydictcfg.ini");
}

bool IsHeld(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

bool IsReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// The profile functions keep a file without a byte order mark in the system's ANSI code page.
std::wstring CodePageText(const std::wstring& config, const wchar_t* what) {
    return L"the host's file " + config + L" is kept in code page " + std::to_wstring(GetACP()) +
           L", which cannot hold " + what + L": save it as UTF-16 (Unicode, with its byte order mark)";
}

}  // namespace

CFailureCause RegistrationFailureCause(DWORD error) {
    const std::wstring config = HostConfigPath();
    const std::wstring file = L"registration: the host's file " + config;
    if (error == ERROR_INVALID_NAME) return {L"registration-no-id", L"registration: the dictionary has no id"};
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && !PathExists(config))
        return {L"registration-file-missing", file + L" is missing"};
    if (error == ERROR_ACCESS_DENIED)
        return IsReadOnly(config) ? CFailureCause{L"registration-read-only", file + L" is read-only"}
                                  : CFailureCause{L"registration-access-denied", file + L" cannot be written"};
    if (IsHeld(error)) return {L"registration-held", file + L" is held by another program"};
    if (error == ERROR_NO_UNICODE_TRANSLATION)
        return {L"registration-code-page", L"registration: " + CodePageText(config, L"this dictionary's texts")};
    if (IsDiskFull(error)) return {L"registration-disk-full", file + L" cannot be rewritten: its disk is full"};
    if (error == ERROR_FILE_CORRUPT)
        return {L"registration-not-proven", file + L" was left as it was: its rewritten copy did not read back whole"};
    return {L"registration-failed", file + L" could not be rewritten"};
}

CFailureCause PlacementFailureCause(const EntryItem& entry, DWORD error) {
    const std::wstring& target = entry.targetPath;
    const size_t cut = target.find_last_of(L'\\');
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut);
    if (error == ERROR_NO_UNICODE_TRANSLATION)
        return {L"registration-code-page", CodePageText(HostConfigPath(), L"the dictionary's id") +
                                               L"; the dictionary was not put in place"};
    if (!folder.empty() && !PathExists(folder))
        return {L"dictionary-folder-missing", L"the host's dictionary folder " + folder + L" is missing"};
    if (IsHeld(error)) return {L"held", target + L" is held by another program"};
    if (error == ERROR_FILE_EXISTS) return {L"file-appeared", L"a file appeared at " + target + L" after the plan was made"};
    if (error == ERROR_FILE_INVALID) return {L"package-changed", L"the package was changed after the plan was made"};
    if (error == ERROR_SUCCESS || error == ERROR_CRC)
        return {L"entry-damaged", L"the package's bytes of this entry are damaged (cut short, or not the sealed ones)"};
    if (IsDiskFull(error)) return {L"disk-full", target + L" cannot be written: its disk is full"};
    if (error == ERROR_ACCESS_DENIED) return {L"access-denied", target + L" cannot be written"};
    return {L"placing-failed", target + L" could not be written"};
}
