#include "install/RecordRemoval.h"

#include <set>

#include "base/CrashPoint.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/Removal.h"
#include "install/UninstallEntry.h"
#include "install/WorkFiles.h"
#include "package/InstallManager.h"

namespace {

RecordedMatch MatchOne(const RecordedEntry& entry, const std::wstring& dataDir, DWORD& error) {
    error = ERROR_SUCCESS;
    const std::wstring target = RecordedTargetPath(entry, dataDir);
    if (target.empty() || !FileExistsAt(target)) return RecordedMatch::Absent;
    uint64_t size = 0;
    EntryDigest digest{};
    if (!FileDigest(target, size, digest)) {
        error = GetLastError();
        return RecordedMatch::Unreadable;
    }
    return size == entry.size && digest == entry.sha ? RecordedMatch::Same : RecordedMatch::Different;
}

// The entry as the removal's steps take it.
EntryItem AsEntryItem(const RecordedEntry& recorded, const std::wstring& dataDir) {
    EntryItem entry;
    entry.size = static_cast<uint32_t>(recorded.size);
    entry.dictId = recorded.dictId;
    entry.displayName = recorded.displayName;
    entry.dateText = recorded.dateText;
    entry.targetPath = RecordedTargetPath(recorded, dataDir);
    const size_t dot = recorded.targetName.find_last_of(L'.');
    if (dot != std::wstring::npos) entry.fileExt = recorded.targetName.substr(dot);
    return entry;
}

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

std::vector<RecordedRemoval> MatchRecordedEntries(const std::vector<RecordedEntry>& entries, const std::wstring& dataDir) {
    std::vector<RecordedRemoval> found;
    for (const RecordedEntry& entry : entries) {
        RecordedRemoval item;
        item.entry = entry;
        item.match = MatchOne(entry, dataDir, item.error);
        found.push_back(item);
    }
    // A dictionary's files share one section: while any of them is not ours, all stay.
    for (RecordedRemoval& item : found) {
        if (item.match != RecordedMatch::Same) continue;
        for (const RecordedRemoval& other : found)
            if (other.entry.dictId == item.entry.dictId &&
                (other.match == RecordedMatch::Different || other.match == RecordedMatch::Unreadable))
                item.match = RecordedMatch::Different;
    }
    return found;
}

std::vector<RecordedRemoval> RemoveRecordedEntries(const std::vector<RecordedEntry>& entries, const std::wstring& dataDir) {
    std::vector<RecordedRemoval> found = MatchRecordedEntries(entries, dataDir);
    for (RecordedRemoval& item : found) {
        if (item.match != RecordedMatch::Same) continue;
        item.removed = RemoveInstalledEntry(AsEntryItem(item.entry, dataDir), item.error);
    }
    return found;
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
