#include <string>

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

}  // namespace

bool CInstallManager::RegisterDictionary(const EntryItem& entry) {
    if (entry.dictId.empty()) return false;
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig) || !PathExists(hostConfig)) return false;
    const wchar_t* section = entry.dictId.c_str();
    WritePrivateProfileStringW(section, CFG_KEY_ID, section, hostConfig.c_str());

    std::wstring wizardConfig;
    if (!WizardConfigPath(wizardConfig) || !PathExists(wizardConfig)) return false;
    for (const wchar_t* key : CFG_COPIED_KEYS) {
        wchar_t value[CFG_VALUE_UNITS] = {};
        GetPrivateProfileStringW(section, key, L"", value, CFG_VALUE_UNITS, wizardConfig.c_str());
        // An empty value keeps whatever the host already has for that key.
        if (value[0] != L'\0') WritePrivateProfileStringW(section, key, value, hostConfig.c_str());
    }
    return true;
}

bool CInstallManager::EnableDictionaries() {
    if (!StopDictService()) return false;
    std::wstring hostConfig;
    if (!GetLocalQueryCfgPath(hostConfig)) return false;
    // The host owns this file: without it there is nothing to enable, and a file made here
    // would hold sections without their ids. The host is still started as asked.
    if (PathExists(hostConfig)) {
        SetFileAttributesW(hostConfig.c_str(), AttributesForRename(hostConfig.c_str()));
        for (const PackageItem& package : m_packages) {
            if (!package.entries) continue;
            for (const EntryItem& entry : *package.entries) {
                if (entry.dictId.empty()) continue;
                WritePrivateProfileStringW(entry.dictId.c_str(), CFG_KEY_ENABLE, CFG_VALUE_ENABLED, hostConfig.c_str());
            }
        }
    }
    return LaunchHostExecutable();
}
