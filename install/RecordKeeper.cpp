#include "install/RecordKeeper.h"

#include <map>
#include <set>

#include "base/CrashPoint.h"
#include "base/NameFolding.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/RecordRemoval.h"
#include "install/Removal.h"
#include "install/UninstallEntry.h"
#include "install/WorkFiles.h"
#include "package/PackageReader.h"

namespace {

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

bool FileSizeAt(const std::wstring& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// What the install put at the entry's target, as the record keeps it. An entry of a sealed
// package was put there only once its bytes hashed to the sealed digest as they were written:
// that digest is what was installed, and the file is not read a second time. A file that no
// longer has the entry's size is hashed as it is.
bool RecordInstalled(const EntryItem& entry, const EntryDigest* sealed, RecordedEntry& recorded) {
    recorded = RecordedEntry();
    recorded.targetName = FileNameOf(entry.targetPath);
    recorded.dictId = entry.dictId;
    recorded.displayName = entry.displayName;
    recorded.dateText = entry.dateText;
    if (sealed != nullptr && FileSizeAt(entry.targetPath, recorded.size) && recorded.size == entry.size) {
        recorded.sha = *sealed;
    } else if (!FileDigest(entry.targetPath, recorded.size, recorded.sha)) {
        return false;
    }
    // The picture counts as ours only when the host's bytes are the setup folder's.
    const std::wstring pictureName = entry.dictId + DICT_IMAGE_EXTENSION;
    std::wstring ours, theirs;
    uint64_t size = 0;
    EntryDigest mine{};
    recorded.hasPicture = GetPackageImagePath(pictureName.c_str(), ours) &&
                          GetHostImagePath(pictureName.c_str(), theirs) && FileDigest(ours, size, mine) &&
                          FileDigest(theirs, size, recorded.pictureSha) && mine == recorded.pictureSha;
    return true;
}

void Put(RemovalRecord& record, const RecordedEntry& recorded) {
    for (RecordedEntry& entry : record.entries) {
        if (SameFileName(entry.targetName, recorded.targetName)) {
            entry = recorded;
            return;
        }
    }
    record.entries.push_back(recorded);
}

// The setup's entries whose installed bytes are exactly the package's: the installed file
// hashed once (nothing to hash where none is installed), its digest compared with the seal's,
// or with the entry's own where the package is not sealed.
void RecordMatchingEntries(const std::list<PackageItem>& packages, RemovalRecord& record) {
    for (const PackageItem& package : packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) continue;
        for (const EntryItem& entry : *package.entries) {
            RecordedEntry recorded;
            EntryDigest packaged{};
            if (RecordInstalled(entry, nullptr, recorded) && recorded.size == entry.size &&
                EntryDigestOf(entry, reader, packaged) && recorded.sha == packaged)
                Put(record, recorded);
        }
    }
}

// The sealed digests of the entries just installed from sealed packages, read from the seals
// again; an entry whose record in the package no longer has its size has none.
std::map<const EntryItem*, EntryDigest> SealedDigestsOf(const std::vector<const EntryItem*>& done,
                                                        const std::list<PackageItem>& packages) {
    std::map<const EntryItem*, EntryDigest> digests;
    const std::set<const EntryItem*> installed(done.begin(), done.end());
    for (const PackageItem& package : packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str()) || !reader.sealed()) continue;
        for (const EntryItem& entry : *package.entries) {
            if (!installed.count(&entry)) continue;
            if (entry.index < reader.records().size() && reader.records()[entry.index].dataSize == entry.size)
                digests[&entry] = reader.digest(entry.index);
        }
    }
    return digests;
}

// The record as the setup now stands: what it names that is still there, what was just
// installed, and, when settling, what of the setup is installed unnamed. Then the copy,
// the record and the entry, and the mark goes.
void KeepRecord(const SetupIdentity& identity, const std::wstring& folder, const std::vector<const EntryItem*>& done,
                const std::list<PackageItem>& packages, bool settle, const RecordNote& note) {
    RemovalRecord record;
    const bool hadRecord = ReadRemovalRecord(folder, record);
    record.setupId = identity.id;
    record.displayName = identity.displayName;
    record.publisher = identity.publisher;
    std::wstring dataDir;
    GetDictDataDir(dataDir);
    std::vector<RecordedEntry> there;
    for (const RecordedEntry& entry : record.entries) {
        const std::wstring target = RecordedTargetPath(entry, dataDir);
        if (!target.empty() && FileExistsAt(target)) there.push_back(entry);
    }
    record.entries = there;
    const std::map<const EntryItem*, EntryDigest> sealed = SealedDigestsOf(done, packages);
    for (const EntryItem* entry : done) {
        RecordedEntry recorded;
        const auto found = sealed.find(entry);
        if (RecordInstalled(*entry, found != sealed.end() ? &found->second : nullptr, recorded)) Put(record, recorded);
    }
    if (settle) RecordMatchingEntries(packages, record);

    DWORD error = ERROR_SUCCESS;
    if (record.entries.empty()) {
        // Nothing of this setup is installed: nothing is kept.
        if (hadRecord) RemoveUninstallEntry(record.setupId, error);
        RemoveRecordFolder(folder, error);
        return;
    }
    if (!KeepWizardCopy(folder, error)) return note(L"the wizard could not be kept in " + folder + L" (error " + std::to_wstring(error) + L")");
    QB_CRASH_POINT();
    if (!WriteRemovalRecord(folder, record, error))
        return note(L"the removal record could not be written in " + folder + L" (error " + std::to_wstring(error) + L")");
    QB_CRASH_POINT();
    if (!WriteUninstallEntry(record, KeptWizardPath(folder), !done.empty(), error))
        return note(L"the entry of installed apps could not be written (error " + std::to_wstring(error) + L")");
    QB_CRASH_POINT();
    DeleteWorkFile(folder + RECORD_PENDING_NAME);
    note(L"removal record kept in " + folder + L" (" + std::to_wstring(record.entries.size()) +
         L" files); entry of installed apps: HKLM\\" + UninstallKeyOf(record.setupId));
}

}  // namespace

SetupIdentity IdentityOfSetup(const std::list<PackageItem>& packages) {
    std::vector<std::wstring> names;
    for (const PackageItem& package : packages) names.push_back(FileNameOf(package.filePath));
    std::wstring dir;
    GetModuleDir(dir);
    return ReadSetupIdentity(dir, names);
}

CRecordKeeper::CRecordKeeper(IInstallReporter& forward, const std::list<PackageItem>& packages, RecordNote note)
    : m_forward(forward), m_packages(packages), m_note(std::move(note)) {}

void CRecordKeeper::OnInstallBegin() {
    std::wstring folder;
    DWORD error = ERROR_SUCCESS;
    if (RecordFolderOf(IdentityOfSetup(m_packages).id, folder)) {
        m_settle = FileExistsAt(folder + RECORD_PENDING_NAME);
        if (!MakeProtectedFolder(folder, error) || !CreateMarkDurably(folder + RECORD_PENDING_NAME))
            m_note(L"the removal record cannot be kept in " + folder + L" (error " +
                   std::to_wstring(error != ERROR_SUCCESS ? error : GetLastError()) + L")");
        QB_CRASH_POINT();
    }
    m_forward.OnInstallBegin();
}

void CRecordKeeper::OnItemDone(const EntryItem& entry) {
    m_done.push_back(&entry);
    m_forward.OnItemDone(entry);
}

void CRecordKeeper::OnInstallEnd() {
    const SetupIdentity identity = IdentityOfSetup(m_packages);
    std::wstring folder;
    if (RecordFolderOf(identity.id, folder) && FileExistsAt(folder + RECORD_PENDING_NAME))
        KeepRecord(identity, folder, m_done, m_packages, m_settle, m_note);
    m_forward.OnInstallEnd();
}

void SettlePendingRecord(const std::list<PackageItem>& packages, const RecordNote& note) {
    const SetupIdentity identity = IdentityOfSetup(packages);
    std::wstring folder;
    if (!RecordFolderOf(identity.id, folder) || !FileExistsAt(folder + RECORD_PENDING_NAME)) return;
    note(L"an earlier install of this setup was cut off before its removal record: settling it");
    KeepRecord(identity, folder, {}, packages, true, note);
}

void SettleRecordAfterRemoval(const std::list<PackageItem>& packages, const RecordNote& note) {
    std::wstring folder, dataDir;
    RemovalRecord record;
    const std::wstring id = IdentityOfSetup(packages).id;
    if (!RecordFolderOf(id, folder) || !FileExistsAt(folder)) return;
    DWORD error = ERROR_SUCCESS;
    if (!ReadRemovalRecord(folder, record)) {
        // A folder whose record is gone or unreadable can remove nothing: it goes.
        if (RemoveUninstallEntry(id, error) && RemoveRecordFolder(folder, error))
            note(L"a removal record's folder without its record removed: " + folder);
        return;
    }
    GetDictDataDir(dataDir);
    SettleRecord(folder, record, dataDir, note, error);
    if (error != ERROR_SUCCESS) note(L"the removal record could not be settled (error " + std::to_wstring(error) + L")");
}
