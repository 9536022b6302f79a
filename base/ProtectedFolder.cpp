#include "base/ProtectedFolder.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "base/ScopedWin.h"
#include "base/WaitLog.h"

namespace {

std::wstring WithoutLongForm(std::wstring path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A folder opened as itself: a link or junction is opened, not followed, where the system
// can tell.
qb::ScopedHandle OpenFolder(const std::wstring& path, DWORD access) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return qb::ScopedHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The owner of an opened object, copied out of its descriptor.
bool OwnerOf(HANDLE handle, std::vector<BYTE>& sid) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &raw) !=
        ERROR_SUCCESS)
        return false;
    qb::ScopedLocalMemory descriptor(raw);
    if (owner == nullptr || !IsValidSid(owner)) return false;
    sid.assign(static_cast<BYTE*>(owner), static_cast<BYTE*>(owner) + GetLengthSid(owner));
    return true;
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"?";
    qb::ScopedLocalMemory owned(text);
    return text;
}

struct Trust {
    std::wstring programDataFinal;  // where %ProgramData% really is
    std::vector<BYTE> programDataOwner;
};

bool ReadTrust(const std::wstring& base, Trust& trust, DWORD& error) {
    qb::ScopedHandle folder = OpenFolder(base, READ_CONTROL);
    if (!folder) {
        error = GetLastError();
        return false;
    }
    trust.programDataFinal = FinalPathOf(folder.get());
    if (trust.programDataFinal.empty() || !OwnerOf(folder.get(), trust.programDataOwner)) {
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

// Empty when the folder at path is ours; otherwise why not.
std::wstring WhyNotOurs(const std::wstring& path, const std::wstring& expectedFinal, const Trust& trust) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return L"cannot be read (error " + std::to_wstring(GetLastError()) + L")";
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return L"a file, not a folder";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return L"a link or junction";
    qb::ScopedHandle folder = OpenFolder(path, READ_CONTROL);
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !GetFileInformationByHandle(folder.get(), &info))
        return L"cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return L"a link or junction";
    // A link the attributes do not show (a Unix symbolic link under Wine) still leads elsewhere.
    const std::wstring final = FinalPathOf(folder.get());
    if (!SamePath(final, expectedFinal)) return L"leads to " + (final.empty() ? std::wstring(L"?") : final);
    std::vector<BYTE> owner;
    if (!OwnerOf(folder.get(), owner)) return L"its owner cannot be read";
    if (!IsTrustedFolderOwner(owner.data(), const_cast<BYTE*>(trust.programDataOwner.data())))
        return L"owned by " + SidText(owner.data());
    return std::wstring();
}

// What someone else put at one of our names leaves it whole, link and all, for an administrator
// to look at; nothing behind it is touched.
bool MoveAside(const std::wstring& base, const std::wstring& path, const std::wstring& why, DWORD& error) {
    if (!NameIsItself(path)) {
        error = ERROR_REPARSE_POINT_ENCOUNTERED;
        qb::ReportLine(L"a link we did not make is left as it is (moving it here would move what it leads to): " +
                       path + L" (" + why + L")");
        return false;
    }
    wchar_t unique[48];
    swprintf(unique, 48, L"%08lx.%08lx.", static_cast<unsigned long>(GetTickCount()),
             static_cast<unsigned long>(GetCurrentProcessId()));
    const std::wstring aside = base + L"\\" PLANTED_ASIDE_PREFIX + unique + path.substr(path.find_last_of(L'\\') + 1);
    if (!MoveFileExW(path.c_str(), aside.c_str(), 0)) {
        error = GetLastError();
        qb::ReportLine(L"a folder we did not make cannot be moved aside: " + path + L" (" + why + L"), error " +
                       std::to_wstring(error));
        return false;
    }
    qb::ReportLine(L"a folder we did not make was moved aside: " + path + L" (" + why + L") to " + aside);
    return true;
}

// The protected permissions, and Administrators as the owner, on a folder proven ours.
bool Protect(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor, DWORD& error) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize);
    qb::ScopedHandle folder = OpenFolder(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (!folder) {
        error = GetLastError();
        return false;
    }
    SetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, admins, nullptr, nullptr, nullptr);
    error = SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                            nullptr);
    return error == ERROR_SUCCESS;
}

// One folder on the way: made, or proven ours, or moved aside and made anew.
bool MakeOne(const std::wstring& base, const std::wstring& path, const std::wstring& expectedFinal, const Trust& trust,
             SECURITY_ATTRIBUTES& attributes, DWORD& error) {
    if (!CreateDirectoryW(path.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = GetLastError();
        return false;
    }
    std::wstring why = WhyNotOurs(path, expectedFinal, trust);
    if (!why.empty()) {
        if (!MoveAside(base, path, why, error)) return false;
        if (!CreateDirectoryW(path.c_str(), &attributes)) {
            error = GetLastError();
            return false;
        }
        why = WhyNotOurs(path, expectedFinal, trust);
        if (!why.empty()) {
            qb::ReportLine(L"a folder made anew is still not ours: " + path + L" (" + why + L")");
            error = ERROR_REPARSE_POINT_ENCOUNTERED;
            return false;
        }
    }
    return Protect(path, attributes.lpSecurityDescriptor, error);
}

}  // namespace

bool ProgramDataDir(std::wstring& out) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)) || path[0] == 0)
        return false;
    out = path;
    while (!out.empty() && out.back() == L'\\') out.pop_back();
    return true;
}

bool IsTrustedFolderOwner(PSID owner, PSID programDataOwner) {
    if (owner == nullptr || !IsValidSid(owner)) return false;
    for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid})
        if (IsWellKnownSid(owner, type)) return true;
    // NT SERVICE\TrustedInstaller.
    PSID installer = nullptr;
    if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer)) {
        qb::ScopedLocalMemory owned(installer);
        if (EqualSid(owner, installer)) return true;
    }
    return programDataOwner != nullptr && IsValidSid(programDataOwner) && EqualSid(owner, programDataOwner);
}

std::wstring FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= buffer.size()) return std::wstring();
    return WithoutLongForm(std::wstring(buffer.data(), length));
}

bool NameIsItself(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= path.size()) return false;
    qb::ScopedHandle item = OpenFolder(path, 0);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    qb::ScopedHandle parent(CreateFileW(path.substr(0, slash).c_str(), 0, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!item || !parent) return false;
    const std::wstring parentFinal = FinalPathOf(parent.get());
    return !parentFinal.empty() && SamePath(FinalPathOf(item.get()), parentFinal + path.substr(slash));
}

bool MakeProtectedFolder(const std::wstring& folder, DWORD& error) {
    std::wstring base;
    if (!ProgramDataDir(base)) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    const std::wstring root = base + PROTECTED_ROOT_PIECE;
    if (folder.size() < root.size() || !SamePath(folder.substr(0, root.size()), root) ||
        (folder.size() > root.size() && folder[root.size()] != L'\\')) {
        error = ERROR_BAD_PATHNAME;
        return false;
    }
    Trust trust;
    if (!ReadTrust(base, trust, error)) return false;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PROTECTED_FOLDER_SDDL, SDDL_REVISION_1, &raw, nullptr)) {
        error = GetLastError();
        return false;
    }
    qb::ScopedLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, raw, FALSE};
    std::wstring path = base, expected = trust.programDataFinal;
    size_t start = base.size() + 1;
    while (start < folder.size()) {
        size_t slash = folder.find(L'\\', start);
        if (slash == std::wstring::npos) slash = folder.size();
        const std::wstring name = folder.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) continue;
        if (name == L"." || name == L"..") {
            error = ERROR_BAD_PATHNAME;
            return false;
        }
        path += L"\\" + name;
        expected += L"\\" + name;
        if (!MakeOne(base, path, expected, trust, attributes, error)) return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

void RemoveEmptyProtectedFolders(const std::wstring& folder) {
    std::wstring base;
    if (!ProgramDataDir(base)) return;
    const std::wstring root = base + PROTECTED_ROOT_PIECE;
    std::wstring path = folder;
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    while (path.size() >= root.size() && SamePath(path.substr(0, root.size()), root)) {
        // Only an empty folder goes; a folder anything is left in ends the walk.
        if (!RemoveDirectoryW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
            GetLastError() != ERROR_PATH_NOT_FOUND)
            return;
        if (path.size() == root.size()) return;
        path.resize(path.find_last_of(L'\\'));
    }
}
