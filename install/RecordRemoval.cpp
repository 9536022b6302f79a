#include "install/RecordRemoval.h"

#include "base/CrashPoint.h"
#include "install/UninstallEntry.h"
#include "install/WorkFiles.h"

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
    // A file that is gone leaves the record. Its picture is not this step's: the engine takes
    // it with the dictionary's section and last file, and a section left without its file is
    // not the removal's to judge, nor is its picture.
    std::vector<RecordedEntry> left;
    for (const RecordedEntry& entry : record.entries) {
        const std::wstring target = RecordedTargetPath(entry, dataDir);
        if (!target.empty() && FileExistsAt(target)) left.push_back(entry);
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
