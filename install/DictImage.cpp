#include <string>

#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "package/InstallManager.h"

bool CInstallManager::CopyDictionaryImage(const wchar_t* dictId) {
    if (dictId == nullptr) return false;
    const std::wstring fileName = std::wstring(dictId) + DICT_IMAGE_EXTENSION;
    std::wstring source;
    if (!GetPackageImagePath(fileName.c_str(), source)) return false;
    std::wstring destination;
    if (!GetHostImagePath(fileName.c_str(), destination)) return false;
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) != FALSE;
}
