#include "install/DictConfig.h"

#include <aclapi.h>


#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <unordered_set>
#include <vector>

#include "base/CrashPoint.h"
#include "base/NameFolding.h"
#include "base/WaitLog.h"
#include "base/ScopedWin.h"
#include "host/HostConfigFile.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "install/InstallEngine.h"
#include "install/OutputFile.h"
#include "install/ReplaceTarget.h"
#include "install/InstallManager.h"

namespace {

bool WizardConfigPath(std::wstring& out) {
    std::wstring dir;
    if (!GetModuleDir(dir)) return false;
    if (dir.empty() || dir.back() != L'\\') dir += L'\\';
    out = dir + DICT_CONFIG_FILE_NAME;
    return true;
}

// A host that holds its file is given this long to let go before the registration fails.
constexpr int CONFIG_SWAP_TRIES = 10;
constexpr DWORD CONFIG_SWAP_WAIT_MS = 200;

DWORD ErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

struct ViewTraits {
    static const void* Invalid() { return nullptr; }
    static bool IsValid(const void* view) { return view != nullptr; }
    static void Close(const void* view) { ::UnmapViewOfFile(view); }
};

// A file's bytes as the system holds them, read in place: a buffer of the file's size would
// cost as much to make as the rest of the proof. Only for the wizard's own work file, which
// nothing else writes or cuts while it is seen: a view of the host's file would keep the host
// from cutting it while it saves.
class CFileView {
public:
    bool Open(const std::wstring& path, DWORD& error) {
        m_file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size;
        if (!m_file || !GetFileSizeEx(m_file.get(), &size) || size.QuadPart > 0x7FFFFFF0) {
            error = ErrorOr(ERROR_FILE_TOO_LARGE);
            return false;
        }
        m_nSize = static_cast<size_t>(size.QuadPart);
        if (m_nSize == 0) return true;  // an empty file cannot be mapped, and holds nothing to see
        m_mapping.reset(CreateFileMappingW(m_file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (m_mapping) m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
        if (!m_view) error = ErrorOr(ERROR_READ_FAULT);
        return m_view.valid();
    }
    std::string_view bytes() const {
        return m_nSize == 0 ? std::string_view() : std::string_view(static_cast<const char*>(m_view.get()), m_nSize);
    }

private:
    qb::ScopedHandle m_file;
    qb::ScopedHandle m_mapping;
    qb::ScopedResource<const void*, ViewTraits> m_view;  // closed before the mapping and the file
    size_t m_nSize = 0;
};

// The copy holds every key the edits wrote with its value, none of the sections they removed,
// and everything else the file held before: read back from the disk and parsed once.
bool CopyIsProven(const std::string& before, const std::wstring& copy, const std::vector<CConfigEdit>& edits,
                  DWORD& error) {
    CFileView written;
    return written.Open(copy, error) && ProfileEditIsProven(before, written.bytes(), edits);
}

// The file's permissions (and, where the wizard may set them, its owner and group) go onto
// the copy before the swap: a rename keeps the renamed file's own, so the copy must carry the
// file's before it takes the name.
bool CopySecurity(const std::wstring& from, const std::wstring& to, DWORD& error) {
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const SECURITY_INFORMATION all = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, all, &owner, &group, &dacl, nullptr, &descriptor) !=
        ERROR_SUCCESS)
        return true;  // nothing readable to keep (a file system without permissions)
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION inheritance =
        (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    std::wstring target = to;
    const SECURITY_INFORMATION ownerAndGroup = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
    DWORD result = ERROR_SUCCESS;
    // All of it at once where the wizard may set that owner (most often its own account).
    if (dacl != nullptr &&
        SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, ownerAndGroup | DACL_SECURITY_INFORMATION | inheritance,
                              owner, group, dacl, nullptr) != ERROR_SUCCESS)
        result = SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr,
                                       nullptr, dacl, nullptr);
    else if (dacl != nullptr)
        owner = group = nullptr;  // set already
    // Another account as owner needs a privilege the wizard may not hold; the permissions are
    // what the host relies on.
    if (result == ERROR_SUCCESS && owner != nullptr)
        SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, ownerAndGroup, owner, group, nullptr, nullptr);
    LocalFree(descriptor);
    if (result != ERROR_SUCCESS) error = result;
    return result == ERROR_SUCCESS;
}

// The proven copy takes the file's name in one rename, so that a whole file answers to the
// name at every instant: the file's security descriptor, owner and attributes are already
// on the copy.
bool SwapOnce(const std::wstring& path, const std::wstring& copy, DWORD& error) {
    if (MoveDurably(copy, path, true)) return true;
    error = ErrorOr(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    // A file another program holds open cannot be renamed over, even where the holder lets it
    // be deleted; ReplaceFileW moves it aside first, and the name is empty for that moment.
    // The proven copy keeps its own name until the last step: should a kill come in between,
    // the next start puts it at the name.
    if (ReplaceFileW(path.c_str(), copy.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    error = ErrorOr(ERROR_UNABLE_TO_REMOVE_REPLACED);
    // Removed, and then the copy not renamed: the proven copy is the only whole one.
    return error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !FileExistsAt(path) && MoveDurably(copy, path, false);
}

// A host that holds the file without delete sharing keeps it from being replaced: tried
// again for a short while.
bool SwapIntoPlace(const std::wstring& path, const std::wstring& copy, DWORD& error) {
    const DWORD start = GetTickCount();
    for (int attempt = 1;; ++attempt) {
        const bool swapped = SwapOnce(path, copy, error);
        if (swapped || attempt >= CONFIG_SWAP_TRIES) {
            if (attempt > 1) qb::ReportHeldFileWait(path, start, swapped);
            return swapped;
        }
        Sleep(CONFIG_SWAP_WAIT_MS);
    }
}

// A host that holds its file without read sharing keeps it from being read: tried again for
// the same short while as the swap.
bool ReadForEditing(const std::wstring& path, std::string& bytes, DWORD& error) {
    const DWORD start = GetTickCount();
    for (int attempt = 1;; ++attempt) {
        const bool read = ReadProfileBytes(path, bytes, error);
        const bool held = !read && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
        if (!held || attempt >= CONFIG_SWAP_TRIES) {
            if (attempt > 1) qb::ReportHeldFileWait(path, start, read);
            return read;
        }
        Sleep(CONFIG_SWAP_WAIT_MS);
    }
}

// The edited bytes under the work name, on the disk, the unchanged stretches straight from
// the file's bytes; a full disk fails here and the file is not touched.
bool WriteCopy(const std::wstring& copy, const std::string& bytes, const std::vector<CEditPiece>& pieces,
               const std::string& added, DWORD& error) {
    COutputFile output;
    bool written = DeleteWorkFile(copy) && output.Open(copy.c_str(), CREATE_NEW);
    for (size_t i = 0; written && i < pieces.size(); ++i) {
        const CEditPiece& piece = pieces[i];
        written = output.Write((piece.m_bAdded ? added : bytes).data() + piece.m_nAt, piece.m_nSize);
    }
    written = written && output.Commit();
    if (!written) error = ErrorOr(ERROR_WRITE_FAULT);
    return written;
}

// A read-only file is not written: its attributes are the host's, and a change has not
// reached it.
bool HostConfigWritable(const std::wstring& path, DWORD& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
    error = ERROR_ACCESS_DENIED;
    SetLastError(error);
    return false;
}

// Kept in the ANSI code page: readable, and without a UTF-16 or UTF-8 byte order mark. A file
// that cannot be read now (the host holds it) is not judged; its replacement says why it failed.
bool IsAnsiFile(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    unsigned char mark[3] = {};
    DWORD got = 0;
    if (!ReadFile(file.get(), mark, sizeof mark, &got, nullptr)) return true;
    const bool utf16 = got >= 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF));
    const bool utf8 = got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF;
    return !utf16 && !utf8;
}

}  // namespace

bool ReplaceHostConfigVerified(const std::wstring& path, const std::vector<CConfigEdit>& edits, DWORD& error) {
    error = ERROR_SUCCESS;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = ErrorOr(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::string original, added;
    std::vector<CEditPiece> pieces;
    if (!ReadForEditing(path, original, error)) return false;
    error = ERROR_SUCCESS;  // an attempt that failed before the host let go is not the outcome
    if (!EditProfilePieces(original, edits, pieces, added, error)) return false;
    // Unproven while it is written: the next start deletes it, whatever else it finds.
    CWorkFile copy(CopyFilePathOf(path));
    if (!WriteCopy(copy.path(), original, pieces, added, error)) return false;
    QB_CRASH_POINT();
    if (!CopyIsProven(original, copy.path(), edits, error)) {
        if (error == ERROR_SUCCESS) error = ERROR_FILE_CORRUPT;
        return false;
    }
    if (!CopySecurity(path, copy.path(), error)) return false;
    SetFileAttributesW(copy.path().c_str(), attributes);
    // Proven: from here on it is a whole configuration that the next start may put at the
    // name should the name ever be found empty.
    CWorkFile proven(NewFilePathOf(path));
    if (!DeleteWorkFile(proven.path()) || !MoveDurably(copy.path(), proven.path(), false)) {
        error = ErrorOr(ERROR_WRITE_FAULT);
        return false;
    }
    copy.Keep();  // renamed: it is the proven copy now
    QB_CRASH_POINT();
    if (!SwapIntoPlace(path, proven.path(), error)) {
        if (!FileExistsAt(path)) proven.Keep();  // never delete the last whole configuration
        return false;
    }
    proven.Keep();  // it is the host's file now
    QB_CRASH_POINT();
    error = ERROR_SUCCESS;  // an attempt that failed before the host let go is not the outcome
    return true;
}

bool HostConfigCanHold(const std::wstring& dictId) {
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig) || !PathExists(hostConfig)) return true;  // nothing will be written
    return !IsAnsiFile(hostConfig) || TextFitsCodePage(dictId, GetACP());
}

bool CInstallManager::RegisterDictionary(const EntryItem& entry) {
    DWORD error = ERROR_SUCCESS;
    return RegisterDictionary(entry, error);
}

bool CInstallManager::RegisterDictionary(const EntryItem& entry, DWORD& writeError) {
    std::vector<DWORD> errors;
    RegisterDictionaries({&entry}, errors);
    writeError = errors[0];
    std::wstring wizardConfig;
    return writeError == ERROR_SUCCESS && WizardConfigPath(wizardConfig) && PathExists(wizardConfig);
}

void CInstallManager::RegisterDictionaries(const std::vector<const EntryItem*>& entries, std::vector<DWORD>& errors) {
    errors.assign(entries.size(), ERROR_SUCCESS);
    if (entries.empty()) return;
    // The host owns its file and the wizard never makes it: without it the host cannot see
    // the dictionaries, and their registration has failed.
    std::wstring hostConfig;
    DWORD error = ERROR_SUCCESS;
    if (!GetLocalQueryCfgPath(hostConfig)) error = ERROR_PATH_NOT_FOUND;
    else if (!PathExists(hostConfig)) error = ERROR_FILE_NOT_FOUND;
    else HostConfigWritable(hostConfig, error);
    if (error != ERROR_SUCCESS) {
        for (size_t i = 0; i < entries.size(); ++i) errors[i] = entries[i]->dictId.empty() ? ERROR_INVALID_NAME : error;
        return;
    }

    std::wstring wizardConfig;
    const bool haveWizardConfig = WizardConfigPath(wizardConfig) && PathExists(wizardConfig);
    std::vector<CConfigEdit> edits;
    size_t registering = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i]->dictId.empty()) {
            errors[i] = ERROR_INVALID_NAME;
            continue;
        }
        ++registering;
        const wchar_t* section = entries[i]->dictId.c_str();
        edits.push_back({section, CFG_KEY_ID, section});
        if (!haveWizardConfig) continue;
        for (const wchar_t* key : CFG_COPIED_KEYS) {
            wchar_t value[CFG_VALUE_UNITS] = {};
            GetPrivateProfileStringW(section, key, L"", value, CFG_VALUE_UNITS, wizardConfig.c_str());
            // An empty value keeps whatever the host already has for that key.
            if (value[0] != L'\0') edits.push_back({section, key, value});
        }
    }
    // A text the file's encoding cannot hold (an ANSI file and Chinese values) fails with
    // ERROR_NO_UNICODE_TRANSLATION before anything is written.
    if (registering == 0 || ReplaceHostConfigVerified(hostConfig, edits, error)) return;
    // One entry's value that the file's encoding cannot keep, or a copy that could not be
    // proven, may be one entry's: each entry is then tried alone, so that it fails only its own.
    if ((error == ERROR_NO_UNICODE_TRANSLATION || error == ERROR_FILE_CORRUPT) && registering > 1) {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (errors[i] != ERROR_SUCCESS) continue;
            std::vector<DWORD> alone;
            RegisterDictionaries({entries[i]}, alone);
            errors[i] = alone[0];
        }
        return;
    }
    for (DWORD& each : errors)
        if (each == ERROR_SUCCESS) each = error;
}

bool CInstallManager::EnableDictionaries(bool launchHost) {
    if (!StopDictService()) return false;
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig)) return false;
    // The host owns this file: without it there is nothing to enable, and a file made here
    // would hold sections without their ids. The host is still started as asked. Keys that
    // could not be written are a failure as a service that would not stop is: the host is
    // not started by this operation. Only a section the host can see (it names its
    // dictionary with "id") is enabled; none is ever made here.
    if (PathExists(hostConfig)) {
        DWORD error = ERROR_SUCCESS;
        std::unordered_set<std::wstring> registered;
        if (!HostConfigWritable(hostConfig, error) || !ReadRegisteredIds(hostConfig, registered)) return false;
        std::vector<CConfigEdit> edits;
        for (const PackageItem& package : m_packages) {
            if (!package.entries) continue;
            for (const EntryItem& entry : *package.entries) {
                if (entry.dictId.empty() || registered.count(FoldedName(entry.dictId)) == 0) continue;
                edits.push_back({entry.dictId, CFG_KEY_ENABLE, CFG_VALUE_ENABLED});
            }
        }
        if (!edits.empty() && !ReplaceHostConfigVerified(hostConfig, edits, error)) return false;
    }
    return !launchHost || LaunchHostExecutable();
}

bool UnregisterDictionary(const std::wstring& dictId, DWORD& error) {
    error = ERROR_SUCCESS;
    std::wstring hostConfig;
    if (dictId.empty() || !GetLocalQueryCfgPath(hostConfig)) return false;
    if (!PathExists(hostConfig)) return true;  // nothing registered anywhere
    return ReplaceHostConfigVerified(hostConfig, {{dictId, L"", L"", true}}, error);
}
