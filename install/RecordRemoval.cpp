#include "install/RecordRemoval.h"

#include <set>

#include "base/CrashPoint.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/Removal.h"
#include "install/UninstallEntry.h"
#include "install/WorkFiles.h"

namespace {

bool PictureIsRecorded(const RecordedEntry& entry, std::wstring& path) {
    const std::wstring name = entry.dictId + DICT_IMAGE_EXTENSION;
    uint64_t size = 0;
    EntryDigest digest{};
    return entry.hasPicture && GetHostImagePath(name.c_str(), path) && FileDigest(path, size, digest) &&
           digest == entry.pictureSha;
}

}  // namespace

std::wstring RecordedTargetPath(const RecordedEntry& entry, const std::wstring& dataDir) {
    if (dataDir.empty()) return std::wstring();
    return dataDir + (dataDir.back() == L'\\' ? L"" : L"\\") + entry.targetName;
}

std::vector<CRemovalRecord> RemovalRecordsOf(const RemovalRecord& record) {
    std::vector<CRemovalRecord> records;
    for (const RecordedEntry& entry : record.entries) {
        CRemovalRecord one;
        one.m_strFileName = entry.targetName;
        one.m_nSize = entry.size;
        one.m_digest = entry.sha;
        one.m_strDictId = entry.dictId;
        one.m_strDisplayName = entry.displayName;
        one.m_bHasPicture = entry.hasPicture;
        one.m_pictureDigest = entry.pictureSha;
        records.push_back(std::move(one));
    }
    return records;
}

bool SettleRecord(const std::wstring& folder, RemovalRecord& record, const std::wstring& dataDir,
                  const std::function<void(const std::wstring&)>& note, DWORD& error) {
    error = ERROR_SUCCESS;
    std::vector<RecordedEntry> left;
    std::set<std::wstring> present;
    for (const RecordedEntry& entry : record.entries) {
        const std::wstring target = RecordedTargetPath(entry, dataDir);
        if (!target.empty() && FileExistsAt(target)) {
            left.push_back(entry);
            present.insert(entry.dictId);
        }
    }
    // The picture of a dictionary whose last file is gone.
    std::set<std::wstring> pictured;
    for (const RecordedEntry& entry : record.entries) {
        std::wstring picture;
        if (present.count(entry.dictId) || !pictured.insert(entry.dictId).second) continue;
        if (PictureIsRecorded(entry, picture) && DeleteWorkFile(picture)) {
            note(L"picture removed: " + picture);
            QB_CRASH_POINT();
        }
    }
    const bool nothingLeft = left.empty();
    if (!nothingLeft) {
        if (left.size() != record.entries.size()) {
            record.entries = left;
            if (!WriteRemovalRecord(folder, record, error)) return false;
            QB_CRASH_POINT();
            note(L"the removal record names what is left");
        }
        // Written again even when the record is unchanged: a kill may have come between the two.
        WriteUninstallEntry(record, KeptWizardPath(folder), false, error);
        return false;
    }
    if (!RemoveUninstallEntry(record.setupId, error)) return false;
    QB_CRASH_POINT();
    note(L"entry of installed apps removed: HKLM\\" + UninstallKeyOf(record.setupId));
    if (!RemoveRecordFolder(folder, error)) return false;
    note(L"removal record and kept copy removed: " + folder);
    return true;
}
