#include <string>
#include <unordered_set>
#include <vector>

#include "base/NameFolding.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/InstallReporter.h"
#include "install/InstallManager.h"

namespace {

// The wizard's folder ends with a separator and the picture folder's piece begins with one;
// the file system reads the two as one, and so does a person reading the log.
std::wstring SingleSeparators(const std::wstring& path) {
    std::wstring single = path.substr(0, 2);  // a network path's leading pair stays
    for (size_t i = single.size(); i < path.size(); ++i)
        if (path[i] != L'\\' || single.empty() || single.back() != L'\\') single += path[i];
    return single;
}

bool PicturePaths(const wchar_t* dictId, std::wstring& source, std::wstring& destination) {
    const std::wstring fileName = std::wstring(dictId) + DICT_IMAGE_EXTENSION;
    if (!GetPackageImagePath(fileName.c_str(), source) || !GetHostImagePath(fileName.c_str(), destination)) return false;
    source = SingleSeparators(source);
    return true;
}

}  // namespace

bool CInstallManager::CopyDictionaryImage(const wchar_t* dictId) {
    DWORD error = ERROR_SUCCESS;
    return CopyDictionaryImage(dictId, error);
}

bool CInstallManager::CopyDictionaryImage(const wchar_t* dictId, DWORD& error) {
    error = ERROR_INVALID_PARAMETER;
    if (dictId == nullptr) return false;
    std::wstring source, destination;
    error = ERROR_PATH_NOT_FOUND;
    if (!PicturePaths(dictId, source, destination)) return false;
    if (CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
        error = ERROR_SUCCESS;
        return true;
    }
    error = GetLastError();
    return false;
}

void CInstallManager::CopyPicture(const EntryItem& entry, IInstallReporter& reporter) {
    CPictureOutcome picture;
    PicturePaths(entry.dictId.c_str(), picture.m_strSource, picture.m_strDestination);
    if (CopyDictionaryImage(entry.dictId.c_str(), picture.m_dwError)) {
        picture.m_nKind = CPictureOutcome::Copied;
    } else {
        // A dictionary the publisher gave no picture installs without one.
        const bool shipped = picture.m_strSource.empty() || PathExists(picture.m_strSource);
        picture.m_nKind = shipped ? CPictureOutcome::Failed : CPictureOutcome::NoneShipped;
    }
    reporter.OnPicture(entry, picture);
}

// A dictionary whose picture could not be copied when it was installed (the host's picture
// folder was missing, or held) is up to date on every later run; without this its picture
// would never arrive.
std::vector<const EntryItem*> CInstallManager::MissingPictures() const {
    std::vector<const EntryItem*> missing;
    std::wstring folder;
    if (!GetHostImagePath(L"", folder) || !PathExists(folder)) return missing;
    std::unordered_set<std::wstring> planned, seen;
    for (const PackageItem& package : m_packages) {
        if (!package.entries) continue;
        for (const EntryItem& entry : *package.entries)
            if (entry.action != ACTION_SKIP) planned.insert(FoldedName(entry.dictId));
    }
    for (const PackageItem& package : m_packages) {
        if (!package.entries) continue;
        for (const EntryItem& entry : *package.entries) {
            const std::wstring id = FoldedName(entry.dictId);
            if (entry.dictId.empty() || planned.count(id) != 0 || !seen.insert(id).second) continue;
            std::wstring source, destination;
            if (PicturePaths(entry.dictId.c_str(), source, destination) && PathExists(entry.targetPath) &&
                PathExists(source) && !PathExists(destination))
                missing.push_back(&entry);
        }
    }
    return missing;
}

void CInstallManager::PutBackPictures(const std::vector<const EntryItem*>& entries, IInstallReporter& reporter) {
    for (const EntryItem* entry : entries) {
        CPictureOutcome picture;
        picture.m_nKind = CPictureOutcome::PutBack;
        if (!PicturePaths(entry->dictId.c_str(), picture.m_strSource, picture.m_strDestination)) continue;
        // Never over a picture that appeared meanwhile: the host's own stays.
        if (!CopyFileW(picture.m_strSource.c_str(), picture.m_strDestination.c_str(), TRUE)) {
            picture.m_nKind = CPictureOutcome::Failed;
            picture.m_dwError = GetLastError();
        }
        reporter.OnPicture(*entry, picture);
    }
}
