#include "install/DictConfig.h"

#include <aclapi.h>

#include <string>
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
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"

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

// The copy holds every key the edits wrote with its value, none of the sections they removed,
// and everything else the file held before.
bool CopyIsProven(const std::wstring& original, const std::wstring& copy, const std::vector<CConfigEdit>& edits,
                  DWORD& error) {
    std::wstring before, after;
    if (!ReadProfileText(original, before, error) || !ReadProfileText(copy, after, error)) return false;
    const CProfileItems was = ParseProfile(before);
    CProfileItems is = ParseProfile(after);
    std::unordered_set<std::wstring> changedKeys, removedSections;
    for (const CConfigEdit& edit : edits) {
        const std::wstring section = FoldedName(edit.m_strSection);
        if (edit.m_bRemoveSection) {
            removedSections.insert(section);
            if (is.sections.count(section) != 0) return false;
            continue;
        }
        changedKeys.insert(section + L'\1' + FoldedName(edit.m_strKey));
        std::vector<wchar_t> value(edit.m_strValue.size() + 2);
        const DWORD read = GetPrivateProfileStringW(edit.m_strSection.c_str(), edit.m_strKey.c_str(), L"", value.data(),
                                                    static_cast<DWORD>(value.size()), copy.c_str());
        if (std::wstring(value.data(), read) != edit.m_strValue) return false;
    }
    for (const auto& item : was.counts) {
        const size_t cut = item.first.find(L'\1');
        const std::wstring section = item.first.substr(0, cut);
        if (removedSections.count(section) != 0) continue;
        const size_t keyEnd = item.first.find(L'\1', cut + 1);
        if (keyEnd != std::wstring::npos && changedKeys.count(item.first.substr(0, keyEnd)) != 0) continue;
        const auto found = is.counts.find(item.first);
        if (found == is.counts.end() || found->second < item.second) return false;
    }
    return true;
}

// The keys a batch sets in one section the copy does not have yet, in the order first set.
struct CNewSection {
    std::wstring m_strName;
    std::vector<std::pair<std::wstring, std::wstring>> m_keys;
};

// Every profile write rewrites the whole file, so a section the copy does not have yet (a
// dictionary registered for the first time) is written whole in one call; the rest key by key.
bool ApplyEdits(const std::wstring& copy, const std::vector<CConfigEdit>& edits, DWORD& error) {
    std::wstring text;
    if (!ReadProfileText(copy, text, error)) return false;
    const CProfileItems had = ParseProfile(text);
    std::unordered_set<std::wstring> touchedByRemoval;
    for (const CConfigEdit& edit : edits)
        if (edit.m_bRemoveSection) touchedByRemoval.insert(FoldedName(edit.m_strSection));
    std::vector<CNewSection> newSections;
    std::unordered_map<std::wstring, size_t> newAt;
    for (const CConfigEdit& edit : edits) {
        const std::wstring folded = FoldedName(edit.m_strSection);
        const bool whole = !edit.m_bRemoveSection && had.sections.count(folded) == 0 &&
                           touchedByRemoval.count(folded) == 0;
        BOOL written = TRUE;
        if (whole) {
            const auto at = newAt.emplace(folded, newSections.size());
            if (at.second) newSections.push_back({edit.m_strSection, {}});
            auto& keys = newSections[at.first->second].m_keys;
            auto same = keys.begin();
            while (same != keys.end() && FoldedName(same->first) != FoldedName(edit.m_strKey)) ++same;
            if (same != keys.end()) same->second = edit.m_strValue;
            else keys.emplace_back(edit.m_strKey, edit.m_strValue);
        } else if (edit.m_bRemoveSection) {
            written = WritePrivateProfileStringW(edit.m_strSection.c_str(), nullptr, nullptr, copy.c_str());
        } else {
            written = WritePrivateProfileStringW(edit.m_strSection.c_str(), edit.m_strKey.c_str(),
                                                 edit.m_strValue.c_str(), copy.c_str());
        }
        if (!written) {
            error = ErrorOr(ERROR_WRITE_FAULT);
            return false;
        }
    }
    for (const CNewSection& section : newSections) {
        std::wstring lines;  // "key=value\0key=value\0\0"
        for (const auto& key : section.m_keys) lines += key.first + L'=' + key.second + L'\0';
        lines += L'\0';
        if (!WritePrivateProfileSectionW(section.m_strName.c_str(), lines.c_str(), copy.c_str())) {
            error = ErrorOr(ERROR_WRITE_FAULT);
            return false;
        }
    }
    return true;
}

// The file's permissions (and, where the wizard may set them, its owner and group) go onto
// the copy before the swap, so that they stay with the file whatever the swap itself keeps:
// Wine's ReplaceFileW leaves the replacement's own.
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
    DWORD result = ERROR_SUCCESS;
    if (dacl != nullptr)
        result = SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr,
                                       nullptr, dacl, nullptr);
    // Another account as owner needs a privilege the wizard may not hold; the permissions are
    // what the host relies on.
    if (result == ERROR_SUCCESS)
        SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner,
                              group, nullptr, nullptr);
    LocalFree(descriptor);
    if (result != ERROR_SUCCESS) error = result;
    return result == ERROR_SUCCESS;
}

// The copy takes the file's place; the file's security descriptor, owner and attributes stay
// with its name. A host that holds the file without delete sharing keeps it from being
// replaced: tried again for a short while.
bool SwapIntoPlace(const std::wstring& path, const std::wstring& copy, DWORD& error) {
    const DWORD start = GetTickCount();
    for (int attempt = 1;; ++attempt) {
        bool swapped =
            ReplaceFileW(path.c_str(), copy.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
        if (!swapped) {
            error = ErrorOr(ERROR_UNABLE_TO_REMOVE_REPLACED);
            // ReplaceFileW without a backup name may remove the file and then fail to rename
            // the copy: the proven copy is then the only whole one, and takes the name by itself.
            swapped = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !FileExistsAt(path) && MoveDurably(copy, path, false);
        }
        if (swapped || attempt >= CONFIG_SWAP_TRIES) {
            if (attempt > 1) qb::ReportHeldFileWait(path, start, swapped);
            return swapped;
        }
        Sleep(CONFIG_SWAP_WAIT_MS);
    }
}

// A host that holds its file without read sharing keeps it from being copied: tried again for
// the same short while as the swap.
bool CopyForEditing(const std::wstring& path, const std::wstring& copy, DWORD& error) {
    const DWORD start = GetTickCount();
    for (int attempt = 1;; ++attempt) {
        const bool copied = DeleteWorkFile(copy) && CopyDurably(path, copy, CREATE_NEW);
        if (!copied) error = ErrorOr(ERROR_WRITE_FAULT);
        const bool held = !copied && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
        if (!held || attempt >= CONFIG_SWAP_TRIES) {
            if (attempt > 1) qb::ReportHeldFileWait(path, start, copied);
            return copied;
        }
        Sleep(CONFIG_SWAP_WAIT_MS);
    }
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

bool HasUnicodeMark(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char mark[3] = {};
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), mark, sizeof mark, &got, nullptr)) return false;
    const bool utf16 = got >= 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF));
    const bool utf8 = got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF;
    return utf16 || utf8;
}

// Kept in the ANSI code page: readable, and without a UTF-16 or UTF-8 byte order mark. A file
// that cannot be read now (the host holds it) is not judged; its replacement says why it failed.
bool IsAnsiFile(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && !HasUnicodeMark(path);
}

bool EditsFitCodePage(const std::vector<CConfigEdit>& edits, UINT codePage) {
    for (const CConfigEdit& edit : edits)
        if (!TextFitsCodePage(edit.m_strSection, codePage) || !TextFitsCodePage(edit.m_strKey, codePage) ||
            !TextFitsCodePage(edit.m_strValue, codePage))
            return false;
    return true;
}

}  // namespace

bool TextFitsCodePage(const std::wstring& text, UINT codePage) {
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    // UTF-8 and UTF-7 refuse the best-fit flag and the default-character question; the
    // round trip alone says whether the text survives.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* askDefault = utf ? nullptr : &usedDefault;
    const int bytes = WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, askDefault);
    if (bytes <= 0 || usedDefault) return false;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, flags, text.c_str(), length, &narrow[0], bytes, nullptr, askDefault) != bytes ||
        usedDefault)
        return false;
    std::wstring back(text.size() + 1, L'\0');
    const int units = MultiByteToWideChar(codePage, 0, narrow.c_str(), bytes, &back[0], static_cast<int>(back.size()));
    return units == length && back.compare(0, text.size(), text) == 0;
}

bool ReplaceHostConfigVerified(const std::wstring& path, const std::vector<CConfigEdit>& edits, DWORD& error) {
    error = ERROR_SUCCESS;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = ErrorOr(ERROR_FILE_NOT_FOUND);
        return false;
    }
    CWorkFile copy(NewFilePathOf(path));
    if (!CopyForEditing(path, copy.path(), error)) return false;
    error = ERROR_SUCCESS;  // an attempt that failed before the host let go is not the outcome
    if (!ApplyEdits(copy.path(), edits, error)) return false;
    QB_CRASH_POINT();
    {
        qb::ScopedHandle file(CreateFileW(copy.path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !FlushFileBuffers(file.get())) {
            error = ErrorOr(ERROR_WRITE_FAULT);
            return false;
        }
    }
    if (!CopyIsProven(path, copy.path(), edits, error)) {
        if (error == ERROR_SUCCESS) error = ERROR_FILE_CORRUPT;
        return false;
    }
    if (!CopySecurity(path, copy.path(), error)) return false;
    SetFileAttributesW(copy.path().c_str(), attributes);
    if (!SwapIntoPlace(path, copy.path(), error)) {
        if (!FileExistsAt(path)) copy.Keep();  // never delete the last whole configuration
        return false;
    }
    copy.Keep();  // it is the host's file now
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
    // A file without a byte order mark is kept in the ANSI code page: a text it cannot hold
    // would come back as '?', so such an entry fails before anything is written.
    const bool ansiHostConfig = IsAnsiFile(hostConfig);
    std::vector<CConfigEdit> edits;
    size_t registering = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i]->dictId.empty()) {
            errors[i] = ERROR_INVALID_NAME;
            continue;
        }
        const wchar_t* section = entries[i]->dictId.c_str();
        std::vector<CConfigEdit> entryEdits = {{section, CFG_KEY_ID, section}};
        if (haveWizardConfig) {
            for (const wchar_t* key : CFG_COPIED_KEYS) {
                wchar_t value[CFG_VALUE_UNITS] = {};
                GetPrivateProfileStringW(section, key, L"", value, CFG_VALUE_UNITS, wizardConfig.c_str());
                // An empty value keeps whatever the host already has for that key.
                if (value[0] != L'\0') entryEdits.push_back({section, key, value});
            }
        }
        if (ansiHostConfig && !EditsFitCodePage(entryEdits, GetACP())) {
            errors[i] = ERROR_NO_UNICODE_TRANSLATION;
            continue;
        }
        ++registering;
        edits.insert(edits.end(), entryEdits.begin(), entryEdits.end());
    }
    if (registering == 0 || ReplaceHostConfigVerified(hostConfig, edits, error)) return;
    // A copy that could not be proven may hold one entry's value that the file's encoding
    // cannot keep: each entry is then tried alone, so that it fails only its own.
    if (error == ERROR_FILE_CORRUPT && registering > 1) {
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
