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

bool SameBytes(const RecordedEntry& a, const RecordedEntry& b) {
    return SameFileName(a.targetName, b.targetName) && a.size == b.size && a.sha == b.sha;
}

const RecordedEntry* NamedIn(const RemovalRecord& record, const std::wstring& targetName) {
    for (const RecordedEntry& entry : record.entries)
        if (SameFileName(entry.targetName, targetName)) return &entry;
    return nullptr;
}

// The picture counts as ours only when the host's bytes are the setup folder's.
bool PictureIsOurs(const std::wstring& dictId, EntryDigest& sha) {
    const std::wstring pictureName = dictId + DICT_IMAGE_EXTENSION;
    std::wstring ours, theirs;
    uint64_t size = 0;
    EntryDigest mine{};
    return GetPackageImagePath(pictureName.c_str(), ours) && GetHostImagePath(pictureName.c_str(), theirs) &&
           FileDigest(ours, size, mine) && FileDigest(theirs, size, sha) && mine == sha;
}

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
    recorded.hasPicture = PictureIsOurs(entry.dictId, recorded.pictureSha);
    return true;
}

// What this setup did to a file it places. A file this setup put there new earlier stays its
// own whatever replaces it; otherwise the plan says whether something was there before.
Ownership OwnershipOfPlaced(const EntryItem& entry, const RemovalRecord& earlier) {
    for (const RecordedEntry& known : earlier.entries)
        if (SameFileName(known.targetName, FileNameOf(entry.targetPath)) && known.ownership == Ownership::New)
            return Ownership::New;
    return entry.action == ACTION_INSTALL ? Ownership::New : Ownership::Replaced;
}

// An entry the install is about to place, as the mark names it: its package bytes, and the
// setup folder's picture.
bool AheadOf(const EntryItem& entry, CPackageReader& reader, const RemovalRecord& earlier, RecordedEntry& ahead) {
    ahead = RecordedEntry();
    ahead.targetName = FileNameOf(entry.targetPath);
    ahead.dictId = entry.dictId;
    ahead.displayName = entry.displayName;
    ahead.dateText = entry.dateText;
    ahead.size = entry.size;
    ahead.ownership = OwnershipOfPlaced(entry, earlier);
    std::wstring picture;
    uint64_t size = 0;
    const std::wstring pictureName = entry.dictId + DICT_IMAGE_EXTENSION;
    ahead.hasPicture = GetPackageImagePath(pictureName.c_str(), picture) && FileDigest(picture, size, ahead.pictureSha);
    return EntryDigestOf(entry, reader, ahead.sha);
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

void PutOnce(RemovalRecord& record, const RecordedEntry& entry) {
    for (const RecordedEntry& known : record.entries)
        if (SameBytes(known, entry)) return;
    record.entries.push_back(entry);
}

// The ownership the mark gave the bytes now installed; a placed file the mark does not name
// (an install without a mark) is the setup's own.
Ownership OwnershipAhead(const RemovalRecord& ahead, const RecordedEntry& installed) {
    for (const RecordedEntry& entry : ahead.entries)
        if (SameBytes(entry, installed)) return entry.ownership;
    for (const RecordedEntry& entry : ahead.entries)
        if (SameFileName(entry.targetName, installed.targetName)) return entry.ownership;
    return Ownership::New;
}

// The setup's entries the record does not name whose installed bytes are exactly the
// package's: the installed file hashed once (nothing to hash where none is installed), its
// digest compared with the seal's, or with the entry's own where the package is not sealed.
void RecordMatchingEntries(const std::list<PackageItem>& packages, RemovalRecord& record, Ownership ownership) {
    for (const PackageItem& package : packages) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) continue;
        for (const EntryItem& entry : *package.entries) {
            if (entry.targetPath.empty() || NamedIn(record, FileNameOf(entry.targetPath)) != nullptr) continue;
            RecordedEntry recorded;
            EntryDigest packaged{};
            if (RecordInstalled(entry, nullptr, recorded) && recorded.size == entry.size &&
                EntryDigestOf(entry, reader, packaged) && recorded.sha == packaged) {
                recorded.ownership = ownership;
                Put(record, recorded);
            }
        }
    }
}

bool Failed(const RecordNote& note, const std::wstring& what, DWORD error) {
    note(L"failed: " + what + L" (error " + std::to_wstring(error) +
         L"): a detection rule on the entry of installed apps would not tell the truth");
    return false;
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
// installed, what the mark names that is installed with its bytes, and what of the setup is
// there with its bytes unnamed. Then the copy, the record and the entry; the mark goes only
// when every placed dictionary is recorded.
bool KeepRecord(const SetupIdentity& identity, const std::wstring& folder, const std::vector<const EntryItem*>& done,
                const std::list<PackageItem>& packages, const RemovalRecord& ahead, bool emptyMark,
                const RecordNote& note) {
    RemovalRecord record;
    const bool hadRecord = ReadRemovalRecord(folder, record);
    record.setupId = identity.id;
    record.displayName = identity.displayName;
    record.publisher = identity.publisher;
    std::wstring dataDir;
    GetDictDataDir(dataDir);
    std::vector<RecordedEntry> there;
    for (RecordedEntry entry : record.entries) {
        const std::wstring target = RecordedTargetPath(entry, dataDir);
        if (target.empty() || !FileExistsAt(target)) continue;
        // A picture put in place after the dictionary was recorded (its folder was missing then).
        if (!entry.hasPicture) entry.hasPicture = PictureIsOurs(entry.dictId, entry.pictureSha);
        there.push_back(entry);
    }
    record.entries = there;
    bool allRecorded = true;
    const std::map<const EntryItem*, EntryDigest> sealed = SealedDigestsOf(done, packages);
    for (const EntryItem* entry : done) {
        RecordedEntry recorded;
        const auto found = sealed.find(entry);
        if (!RecordInstalled(*entry, found != sealed.end() ? &found->second : nullptr, recorded)) {
            allRecorded = false;
            continue;
        }
        recorded.ownership = OwnershipAhead(ahead, recorded);
        Put(record, recorded);
    }
    // Placed by an install cut off before its record, or by this one before a failed registration.
    for (const RecordedEntry& entry : ahead.entries) {
        uint64_t size = 0;
        EntryDigest digest{};
        const std::wstring target = RecordedTargetPath(entry, dataDir);
        if (!target.empty() && FileDigest(target, size, digest) && size == entry.size && digest == entry.sha)
            PutOnce(record, entry);
    }
    RecordMatchingEntries(packages, record, emptyMark ? Ownership::New : Ownership::Found);

    DWORD error = ERROR_SUCCESS;
    if (record.entries.empty()) {
        // Nothing of this setup is installed: nothing is kept.
        if (hadRecord && !RemoveUninstallEntry(record.setupId, error))
            return Failed(note, L"the entry of installed apps could not be removed", error);
        if (!RemoveRecordFolder(folder, error)) return Failed(note, L"the removal record could not be removed", error);
        return true;
    }
    if (!KeepWizardCopy(folder, error)) return Failed(note, L"the wizard could not be kept in " + folder, error);
    QB_CRASH_POINT();
    if (!WriteRemovalRecord(folder, record, error))
        return Failed(note, L"the removal record could not be written in " + folder, error);
    QB_CRASH_POINT();
    if (!WriteUninstallEntry(record, KeptWizardPath(folder), !done.empty(), error))
        return Failed(note, L"the entry of installed apps could not be written", error);
    QB_CRASH_POINT();
    if (!allRecorded)
        return Failed(note, L"a placed dictionary could not be read into the removal record; its pending mark stays",
                      ERROR_READ_FAULT);
    DeleteWorkFile(folder + RECORD_PENDING_NAME);
    note(L"removal record kept in " + folder + L" (" + std::to_wstring(record.entries.size()) +
         L" files); entry of installed apps: HKLM\\" + UninstallKeyOf(record.setupId));
    return true;
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
    const SetupIdentity identity = IdentityOfSetup(m_packages);
    std::wstring folder;
    if (RecordFolderOf(identity.id, folder)) {
        // What an earlier install of this setup left named stays named until it is settled.
        RemovalRecord earlier;
        m_bEmptyMark = FileExistsAt(folder + RECORD_PENDING_NAME) && !ReadPendingRecord(folder, m_ahead);
        ReadSetupClaims(folder, earlier);
        m_ahead.setupId = identity.id;
        m_ahead.displayName = identity.displayName;
        m_ahead.publisher = identity.publisher;
        for (const PackageItem& package : m_packages) {
            if (!package.entries) continue;
            CPackageReader reader;
            const bool opened = reader.Open(package.filePath.c_str());
            for (const EntryItem& entry : *package.entries) {
                RecordedEntry ahead;
                if (entry.action == ACTION_SKIP) continue;
                // A package that cannot be read now places nothing either.
                if (opened && AheadOf(entry, reader, earlier, ahead)) PutOnce(m_ahead, ahead);
            }
        }
        DWORD error = ERROR_SUCCESS;
        if (!MakeProtectedFolder(folder, error) || !WritePendingRecord(folder, m_ahead, error)) {
            Failed(m_note, L"the removal record cannot be kept in " + folder, error);
            m_bFailed = true;
        }
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
    if (RecordFolderOf(identity.id, folder) && FileExistsAt(folder + RECORD_PENDING_NAME) &&
        !KeepRecord(identity, folder, m_done, m_packages, m_ahead, m_bEmptyMark, m_note))
        m_bFailed = true;
    m_forward.OnInstallEnd();
}

bool SettlePendingRecord(const std::list<PackageItem>& packages, const RecordNote& note) {
    const SetupIdentity identity = IdentityOfSetup(packages);
    std::wstring folder;
    if (!RecordFolderOf(identity.id, folder) || !FileExistsAt(folder + RECORD_PENDING_NAME)) return true;
    note(L"an earlier install of this setup was cut off before its removal record: settling it");
    RemovalRecord ahead;
    const bool emptyMark = !ReadPendingRecord(folder, ahead);
    return KeepRecord(identity, folder, {}, packages, ahead, emptyMark, note);
}

void ChangeAndKeepRecord(const std::list<PackageItem>& packages, const std::function<void()>& change,
                         const RecordNote& note) {
    const SetupIdentity identity = IdentityOfSetup(packages);
    std::wstring folder;
    RemovalRecord claims;
    // A setup without a record claims nothing: the change is made and nothing is recorded.
    if (!RecordFolderOf(identity.id, folder) || !ReadSetupClaims(folder, claims)) {
        change();
        return;
    }
    // What the setup claims goes into the pending mark first, so that a kill during the change
    // leaves it to the next run to settle.
    DWORD error = ERROR_SUCCESS;
    if (!MakeProtectedFolder(folder, error) || !WritePendingRecord(folder, claims, error)) {
        Failed(note, L"the removal record cannot be kept in " + folder, error);
        change();
        return;
    }
    change();
    KeepRecord(identity, folder, {}, packages, claims, false, note);
}
