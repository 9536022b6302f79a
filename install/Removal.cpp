#include "install/Removal.h"

#include <list>
#include <unordered_map>

#include "base/CrashPoint.h"
#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "install/DictConfig.h"
#include "install/InstallEngine.h"
#include "install/InstallReporter.h"
#include "install/Recovery.h"
#include "install/WorkFiles.h"
#include "package/DictFiles.h"
#include "install/InstallManager.h"
#include "package/LocalScan.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"

namespace {

// A preview only reads, and lets everyone else do anything meanwhile. A removal opens the file
// it will delete for deletion, sharing reading only: from the open until the file is gone
// nobody can write it, rename it or replace it, so the bytes hashed are the bytes deleted.
enum class OpenMode { Preview, Delete };

qb::ScopedHandle OpenToMatch(const std::wstring& path, OpenMode mode) {
    const bool deleting = mode == OpenMode::Delete;
    const DWORD access = deleting ? DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES : GENERIC_READ;
    const DWORD share = deleting ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return qb::ScopedHandle(
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool IsHeldError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }


// The file goes through the handle that matched it (a read-only bit cleared through it
// first). True once nothing answers to its name: a delete that waits for another program's
// handle is not done.
bool DeleteThroughHandle(qb::ScopedHandle& file, const std::wstring& path, DWORD& error) {
    FILE_BASIC_INFO basic{};
    const bool readOnly = GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
                          (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    FILE_BASIC_INFO attributesOnly{};  // times left at zero: unchanged
    if (readOnly) {
        attributesOnly.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (attributesOnly.FileAttributes == 0) attributesOnly.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(file.get(), FileBasicInfo, &attributesOnly, sizeof attributesOnly);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        error = GetLastError();
        if (readOnly) {
            attributesOnly.FileAttributes = basic.FileAttributes;
            SetFileInformationByHandle(file.get(), FileBasicInfo, &attributesOnly, sizeof attributesOnly);
        }
        file.reset();
        return false;
    }
    file.reset();
    if (NameIsFree(path)) return true;
    error = ERROR_SHARING_VIOLATION;
    return false;
}

// One file of a dictionary as the removal found it.
struct CFileToRemove {
    std::vector<const CRemovalRecord*> records;  // every record that names it; the first reports
    const CRemovalRecord* matched = nullptr;     // the record whose bytes it has
    std::wstring target;
    RemovalOutcome outcome = RemovalOutcome::NotInstalled;
    DWORD error = ERROR_SUCCESS;
    bool hadMark = false;     // its unregistered mark was there before the removal
    qb::ScopedHandle file;    // open for deletion, its bytes ours
    qb::ScopedHandle backup;  // another installer's backup of it, its bytes ours too
};

struct CDictionaryToRemove {
    std::wstring dictId;
    std::list<CFileToRemove> files;
};

std::vector<CDictionaryToRemove> GroupByDictionary(const std::vector<CRemovalRecord>& records,
                                                   const std::wstring& dataDir) {
    std::vector<CDictionaryToRemove> dictionaries;
    std::unordered_map<std::wstring, size_t> byId;
    for (const CRemovalRecord& record : records) {
        const auto found = byId.emplace(FoldedName(record.m_strDictId), dictionaries.size());
        if (found.second) {
            dictionaries.emplace_back();
            dictionaries.back().dictId = record.m_strDictId;
        }
        std::list<CFileToRemove>& files = dictionaries[found.first->second].files;
        CFileToRemove* file = nullptr;
        for (CFileToRemove& known : files)
            if (SameFileName(known.records.front()->m_strFileName, record.m_strFileName)) file = &known;
        if (file == nullptr) {
            files.emplace_back();
            file = &files.back();
            file->target = dataDir + L"\\" + record.m_strFileName;
        }
        file->records.push_back(&record);
    }
    return dictionaries;
}

// Opens path as the mode says and compares its bytes with every record that names it; the
// handle stays open in `file` only when they are one record's. A file that another program
// holds gets what an install gives it: the host's service stopped, and one more try.
RemovalOutcome MatchFile(const std::wstring& path, const std::vector<const CRemovalRecord*>& records, OpenMode mode,
                         qb::ScopedHandle& file, DWORD& error, const CRemovalRecord** matched = nullptr) {
    file = OpenToMatch(path, mode);
    if (!file && mode == OpenMode::Delete && IsHeldError(GetLastError()) && StopDictService())
        file = OpenToMatch(path, mode);
    if (!file) {
        error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return RemovalOutcome::NotInstalled;
        if (IsHeldError(error)) return mode == OpenMode::Preview ? RemovalOutcome::Removed : RemovalOutcome::Held;
        return RemovalOutcome::Unreadable;
    }
    uint64_t size = 0;
    EntryDigest digest{};
    if (!HashOpenFile(file.get(), size, digest)) {
        error = GetLastError();
        file.reset();
        return RemovalOutcome::Unreadable;
    }
    for (const CRemovalRecord* record : records) {
        if (record->m_nSize != size || record->m_digest != digest) continue;
        if (matched != nullptr) *matched = record;
        return RemovalOutcome::Removed;
    }
    file.reset();
    return RemovalOutcome::LeftDifferent;
}

// What the file is by the state table, and whether its bytes (and a backup's) are ours.
void FindFile(CFileToRemove& f, OpenMode mode, const std::vector<CRemovalRecord>& otherClaims) {
    // Recovery first, as at every start; a file it cannot settle stays in its row.
    if (mode == OpenMode::Delete) SettleTarget(f.target);
    const CTargetFiles files = ReadTargetFiles(f.target);
    f.target = files.m_strTarget;
    f.hadMark = files.m_bMark;
    const TargetState state = ClassifyTarget(files);
    if (state == TS_ABSENT && !files.m_bCopy) {
        f.outcome = RemovalOutcome::NotInstalled;
        return;
    }
    if (files.m_bCopy || (state != TS_COMPLETE && state != TS_UNREGISTERED && state != TS_UNKNOWN_LEFTOVER)) {
        f.outcome = RemovalOutcome::Unsettled;
        return;
    }
    f.outcome = MatchFile(f.target, f.records, mode, f.file, f.error, &f.matched);
    if (f.outcome == RemovalOutcome::Removed) f.outcome = OwnershipOutcome(*f.matched, otherClaims);
    if (f.outcome != RemovalOutcome::Removed) f.file.reset();
    if (f.outcome != RemovalOutcome::Removed || state != TS_UNKNOWN_LEFTOVER) return;
    // Beside the target lies a backup with none of the engine's evidence: another installer's.
    // Left alone, the next start would put it back once the target is gone. It goes first when
    // its bytes are ours; otherwise the dictionary stays as it is.
    DWORD error = ERROR_SUCCESS;
    const RemovalOutcome backup = MatchFile(BackupPathOf(f.target), f.records, mode, f.backup, error);
    if (backup == RemovalOutcome::Removed || backup == RemovalOutcome::NotInstalled) return;
    f.file.reset();
    f.outcome = backup == RemovalOutcome::LeftDifferent ? RemovalOutcome::ForeignBackup : backup;
    f.error = error;
}

// A dictionary file of this id that no record names is not ours: the dictionary keeps its
// section, and so every file of it.
bool HasFileNoRecordNames(const CDictionaryToRemove& dictionary, const std::wstring& dataDir) {
    for (const wchar_t* ext : {DICT_EXT_DIC, DICT_EXT_DIP}) {
        const std::wstring name = dictionary.dictId + ext;
        bool named = false;
        for (const CFileToRemove& file : dictionary.files)
            named = named || SameFileName(file.records.front()->m_strFileName, name);
        if (named) continue;
        const CTargetFiles files = ReadTargetFiles(dataDir + L"\\" + name);
        if (files.m_bTarget || files.m_bBackup) return true;
    }
    return false;
}

// Every file found, and the dictionary's verdict: it goes only when every file of it that is
// there is exactly ours and open for deletion.
bool FindDictionary(CDictionaryToRemove& dictionary, const std::wstring& dataDir, OpenMode mode,
                    const std::vector<CRemovalRecord>& otherClaims) {
    bool goes = false;
    bool stays = false;
    for (CFileToRemove& file : dictionary.files) {
        FindFile(file, mode, otherClaims);
        if (file.outcome == RemovalOutcome::Removed) goes = true;
        else if (file.outcome != RemovalOutcome::NotInstalled) stays = true;
    }
    if (goes && !stays) stays = HasFileNoRecordNames(dictionary, dataDir);
    if (!stays) return goes;
    for (CFileToRemove& file : dictionary.files) {
        if (file.outcome != RemovalOutcome::Removed) continue;
        file.outcome = RemovalOutcome::LeftWithDictionary;
        file.file.reset();
        file.backup.reset();
    }
    return false;
}

void FailAll(CDictionaryToRemove& dictionary, DWORD error) {
    for (CFileToRemove& file : dictionary.files) {
        if (file.outcome != RemovalOutcome::Removed) continue;
        file.outcome = RemovalOutcome::Failed;
        file.error = error;
        file.file.reset();
        file.backup.reset();
    }
}

// The picture goes while the dictionary and its marks are still there: a kill after it leaves
// an unregistered dictionary that the next removal takes, or the next install installs again
// with its picture. It goes only when its bytes are the record's.
void RemovePicture(const CDictionaryToRemove& dictionary) {
    const CRemovalRecord* withPicture = nullptr;
    for (const CFileToRemove& file : dictionary.files)
        for (const CRemovalRecord* record : file.records)
            if (withPicture == nullptr && record->m_bHasPicture) withPicture = record;
    std::wstring path;
    const std::wstring name = dictionary.dictId + DICT_IMAGE_EXTENSION;
    if (withPicture == nullptr || !GetHostImagePath(name.c_str(), path)) return;
    qb::ScopedHandle picture = OpenToMatch(path, OpenMode::Delete);
    uint64_t size = 0;
    EntryDigest digest{};
    DWORD error = ERROR_SUCCESS;
    if (picture && HashOpenFile(picture.get(), size, digest) && digest == withPicture->m_pictureDigest &&
        DeleteThroughHandle(picture, path, error))
        QB_CRASH_POINT();
}

void RemoveDictionary(CDictionaryToRemove& dictionary) {
    // Another installer's backups of ours go first, while the dictionary is still whole and
    // registered: no later start can put one back.
    for (CFileToRemove& file : dictionary.files) {
        DWORD error = ERROR_SUCCESS;
        if (file.backup && !DeleteThroughHandle(file.backup, BackupPathOf(file.target), error)) {
            FailAll(dictionary, error);
            return;
        }
    }
    std::list<CWorkFile> marks;  // the marks this removal made, deleted again if it stops here
    for (CFileToRemove& file : dictionary.files) {
        if (file.outcome != RemovalOutcome::Removed || file.hadMark) continue;
        marks.emplace_back(UnregisteredMarkOf(file.target));
        if (!CreateMarkDurably(marks.back().path())) {
            FailAll(dictionary, GetLastError());
            return;
        }
    }
    QB_CRASH_POINT();
    DWORD error = ERROR_SUCCESS;
    if (!UnregisterDictionary(dictionary.dictId, error)) {
        // Still registered and whole: the marks would only make the next install redo it.
        FailAll(dictionary, error);
        return;
    }
    for (CWorkFile& mark : marks) mark.Keep();  // from here they say "unregistered"
    QB_CRASH_POINT();
    RemovePicture(dictionary);
    for (CFileToRemove& file : dictionary.files) {
        if (file.outcome != RemovalOutcome::Removed) continue;
        if (!DeleteThroughHandle(file.file, file.target, file.error)) {
            // Installed and unregistered: the mark stays, so the next install registers it again.
            file.outcome = RemovalOutcome::Failed;
            continue;
        }
        QB_CRASH_POINT();
        DeleteWorkFile(UnregisteredMarkOf(file.target));
        QB_CRASH_POINT();
    }
}

std::vector<CDictionaryToRemove> FindAll(const std::vector<CRemovalRecord>& records, std::wstring& dataDir) {
    if (!GetDictDataDir(dataDir)) return {};
    return GroupByDictionary(records, dataDir);
}

CRemovalItem ItemOf(const CFileToRemove& file) {
    CRemovalItem item;
    item.m_pRecord = file.records.front();
    item.m_strPath = file.target;
    item.m_nOutcome = file.outcome;
    item.m_nError = file.error;
    return item;
}

bool PictureDigestOf(const std::wstring& dictId, EntryDigest& digest) {
    std::wstring path;
    const std::wstring name = dictId + DICT_IMAGE_EXTENSION;
    if (!GetPackageImagePath(name.c_str(), path)) return false;
    qb::ScopedHandle picture(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    uint64_t size = 0;
    return picture && HashOpenFile(picture.get(), size, digest);
}

}  // namespace

bool HashOpenFile(HANDLE file, uint64_t& size, EntryDigest& digest) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) return false;
    size = static_cast<uint64_t>(length.QuadPart);
    std::vector<unsigned char> block(HASH_BLOCK_BYTES);
    CSha256 hash;
    for (uint64_t left = size; left > 0;) {
        const DWORD count = static_cast<DWORD>(left < block.size() ? left : block.size());
        DWORD got = 0;
        if (!ReadFile(file, block.data(), count, &got, nullptr) || got != count) {
            if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        hash.Update(block.data(), count);
        left -= count;
    }
    return hash.Finish(digest);
}

bool EntryDigestOf(const EntryItem& entry, CPackageReader& reader, EntryDigest& digest) {
    if (reader.sealed()) {
        digest = reader.digest(entry.index);
        return true;
    }
    if (!reader.SeekToEntry(entry.index)) return false;
    CSha256 hash;
    unsigned char chunk[CHUNK_SIZE];
    for (;;) {
        uint32_t count = CHUNK_SIZE;
        const int more = reader.ReadChunk(entry.index, chunk, count);
        if (more < 0) return false;
        hash.Update(chunk, count);
        if (more == 0) break;
    }
    return hash.Finish(digest);
}

bool IsRemovalFailure(RemovalOutcome outcome) {
    switch (outcome) {
        case RemovalOutcome::Removed:
        case RemovalOutcome::NotInstalled:
        case RemovalOutcome::LeftDifferent:
        case RemovalOutcome::LeftWithDictionary:
        case RemovalOutcome::KeptBefore:
        case RemovalOutcome::KeptForOther:
            return false;
        default:
            return true;
    }
}

bool RemovalRecordsOf(const CInstallManager& manager, std::vector<CRemovalRecord>& records,
                      IRemovalReporter& reporter) {
    bool allRead = true;
    for (const PackageItem& package : manager.Packages()) {
        if (!package.entries) continue;
        CPackageReader reader;
        if (!reader.Open(package.filePath.c_str())) {
            allRead = false;
            reporter.OnRemovalPackageBad(package.filePath, GetLastError());
            continue;
        }
        for (const EntryItem& entry : *package.entries) {
            CRemovalRecord record;
            record.m_strFileName = entry.dictId + entry.fileExt;
            record.m_nSize = entry.size;
            record.m_strDictId = entry.dictId;
            record.m_strDisplayName = entry.displayName;
            if (!EntryDigestOf(entry, reader, record.m_digest)) {
                allRead = false;
                reporter.OnRemovalPackageBad(package.filePath, GetLastError());
                break;
            }
            record.m_bHasPicture = PictureDigestOf(entry.dictId, record.m_pictureDigest);
            records.push_back(std::move(record));
        }
    }
    return allRead;
}

RemovalOutcome OwnershipOutcome(const CRemovalRecord& matched, const std::vector<CRemovalRecord>& otherClaims) {
    if (matched.m_nOwnership != Ownership::New) return RemovalOutcome::KeptBefore;
    for (const CRemovalRecord& claim : otherClaims)
        if (SameFileName(claim.m_strFileName, matched.m_strFileName) && claim.m_nSize == matched.m_nSize &&
            claim.m_digest == matched.m_digest)
            return RemovalOutcome::KeptForOther;
    return RemovalOutcome::Removed;
}

std::vector<CRemovalItem> PreviewRemoval(const std::vector<CRemovalRecord>& records,
                                         const std::vector<CRemovalRecord>& otherClaims) {
    std::wstring dataDir;
    std::vector<CDictionaryToRemove> dictionaries = FindAll(records, dataDir);
    std::vector<CRemovalItem> items;
    for (CDictionaryToRemove& dictionary : dictionaries) {
        FindDictionary(dictionary, dataDir, OpenMode::Preview, otherClaims);
        for (const CFileToRemove& file : dictionary.files) items.push_back(ItemOf(file));
    }
    return items;
}

bool RemoveInstalledDictionaries(const std::vector<CRemovalRecord>& records,
                                 const std::vector<CRemovalRecord>& otherClaims, IRemovalReporter& reporter,
                                 std::vector<CRemovalItem>& results) {
    results.clear();
    std::wstring dataDir;
    std::vector<CDictionaryToRemove> dictionaries = FindAll(records, dataDir);
    if (dataDir.empty() && !records.empty()) {
        for (const CRemovalRecord& record : records) {
            CRemovalItem item;
            item.m_pRecord = &record;
            item.m_strPath = record.m_strFileName;
            item.m_nOutcome = RemovalOutcome::Unreadable;
            item.m_nError = ERROR_PATH_NOT_FOUND;
            results.push_back(item);
            reporter.OnRemovalItem(item);
        }
        return false;
    }
    bool allDone = true;
    for (CDictionaryToRemove& dictionary : dictionaries) {
        if (FindDictionary(dictionary, dataDir, OpenMode::Delete, otherClaims)) RemoveDictionary(dictionary);
        for (const CFileToRemove& file : dictionary.files) {
            if (IsRemovalFailure(file.outcome)) allDone = false;
            results.push_back(ItemOf(file));
            reporter.OnRemovalItem(results.back());
        }
    }
    return allDone;
}
