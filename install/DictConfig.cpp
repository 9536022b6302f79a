#include "install/DictConfig.h"

#include <string>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"
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

// Runs edit(copyPath) on a copy of the file, then puts the copy in the file's place in one
// rename. The copy keeps the file's bytes, and so its encoding, and its attributes.
template <typename Edit>
bool EditOnCopy(const std::wstring& path, Edit edit) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const std::wstring copy = NewFilePathOf(path);
    DeleteWorkFile(copy);
    if (!CopyDurably(path, copy, CREATE_NEW)) {
        DeleteWorkFile(copy);
        return false;
    }
    edit(copy.c_str());
    QB_CRASH_POINT();
    {
        qb::ScopedHandle file(CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !FlushFileBuffers(file.get())) {
            DeleteWorkFile(copy);
            return false;
        }
    }
    SetFileAttributesW(copy.c_str(), attributes);
    if (!MoveDurably(copy, path, true)) {
        DeleteWorkFile(copy);
        return false;
    }
    QB_CRASH_POINT();
    return true;
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

bool FitsAnsiCodePage(const std::wstring& text) {
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length, nullptr, 0, nullptr,
                                          &usedDefault);
    if (bytes <= 0 || usedDefault) return false;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length, &narrow[0], bytes, nullptr, &usedDefault);
    std::wstring back(text.size() + 1, L'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), bytes, &back[0], static_cast<int>(back.size()));
    return !usedDefault && units == length && back.compare(0, text.size(), text) == 0;
}

}  // namespace

bool HostConfigCanHold(const std::wstring& dictId) {
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig) || !PathExists(hostConfig)) return true;  // nothing will be written
    return HasUnicodeMark(hostConfig) || FitsAnsiCodePage(dictId);
}

bool CInstallManager::RegisterDictionary(const EntryItem& entry) {
    if (entry.dictId.empty()) return false;
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig) || !PathExists(hostConfig)) return false;
    // A read-only file is not written; its attributes are the host's.
    const DWORD attributes = GetFileAttributesW(hostConfig.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;

    std::wstring wizardConfig;
    const bool haveWizardConfig = WizardConfigPath(wizardConfig) && PathExists(wizardConfig);
    const wchar_t* section = entry.dictId.c_str();
    const bool swapped = EditOnCopy(hostConfig, [&](const wchar_t* copy) {
        WritePrivateProfileStringW(section, CFG_KEY_ID, section, copy);
        if (!haveWizardConfig) return;
        for (const wchar_t* key : CFG_COPIED_KEYS) {
            wchar_t value[CFG_VALUE_UNITS] = {};
            GetPrivateProfileStringW(section, key, L"", value, CFG_VALUE_UNITS, wizardConfig.c_str());
            // An empty value keeps whatever the host already has for that key.
            if (value[0] != L'\0') WritePrivateProfileStringW(section, key, value, copy);
        }
    });
    return swapped && haveWizardConfig;
}

bool CInstallManager::EnableDictionaries() {
    if (!StopDictService()) return false;
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig)) return false;
    // The host owns this file: without it there is nothing to enable, and a file made here
    // would hold sections without their ids. The host is still started as asked.
    if (PathExists(hostConfig)) {
        SetFileAttributesW(hostConfig.c_str(), AttributesForRename(hostConfig.c_str()));
        EditOnCopy(hostConfig, [this](const wchar_t* copy) {
            for (const PackageItem& package : m_packages) {
                if (!package.entries) continue;
                for (const EntryItem& entry : *package.entries)
                    WritePrivateProfileStringW(entry.dictId.c_str(), CFG_KEY_ENABLE, CFG_VALUE_ENABLED, copy);
            }
        });
    }
    return LaunchHostExecutable();
}
