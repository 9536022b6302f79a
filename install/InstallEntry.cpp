// One entry put in place. New bytes never go to a dictionary's own name until they are
// complete and on the disk, and the previous bytes stay complete, at the target or under the
// backup name, until the new ones are in place. The files one entry goes through, T the
// target, B its backup, N the new file and C a copy of the previous one (WorkFileNames.h):
//
//   new install          N growing -> N complete -> T
//   upgrade by rename    T -> B (moved aside) -> B + N growing -> B + N complete
//                          -> B + T (N renamed) -> T (B deleted)
//   upgrade in place     T + C growing -> T + B (C renamed) -> T + B + N growing
//   (T held open,          -> T + B + N complete -> T rewritten from N + B + N
//    cannot be renamed)    -> T + B (N deleted) -> T (B deleted)
//
// So while N exists beside a backup, T may be partial and B is the dictionary; without N,
// T is complete. From just before the new bytes take T's name until the dictionary is
// registered, an empty mark (UNREGISTERED_SUFFIX) lies beside it. RecoverDictData (Recovery.h) settles whatever a kill leaves on that basis.
// In a sealed package N is hashed as it is written and goes no further unless its SHA-256 is
// the sealed one.
#include "base/CrashPoint.h"
#include "dictver/DictDate.h"
#include "install/DictConfig.h"
#include "install/EntryHasher.h"
#include "install/InstallEngine.h"
#include "install/InstallReporter.h"
#include "install/OutputFile.h"
#include "install/ReplaceTarget.h"
#include "package/InstallManager.h"
#include "package/LocalScan.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "package/PackageSeal.h"

#include <cstring>
#include <memory>

namespace {

// The last bytes of what was copied, where a dictionary keeps its version stamp.
class StampWatch {
public:
    void Add(const char* data, size_t count) {
        if (count >= DICT_STAMP_SIZE) {
            std::memcpy(m_tail, data + count - DICT_STAMP_SIZE, DICT_STAMP_SIZE);
        } else {
            std::memmove(m_tail, m_tail + count, DICT_STAMP_SIZE - count);
            std::memcpy(m_tail + DICT_STAMP_SIZE - count, data, count);
        }
        m_total += count;
    }
    bool Stamped() const {
        if (m_total < DICT_STAMP_SIZE) return false;
        std::string text;
        DictSystemTime date;
        return ReadStampTrailer(m_tail, text, date);
    }

private:
    unsigned char m_tail[DICT_STAMP_SIZE] = {};
    uint64_t m_total = 0;
};

// Copies the entry chunk by chunk, one progress step per chunk; true only when every byte
// of the entry was read and written and, in a sealed package, the bytes are the sealed ones.
bool CopyEntry(const EntryItem& entry, IInstallReporter& reporter, CPackageReader& reader, COutputFile& output, StampWatch& stamp) {
    char chunk[CHUNK_SIZE] = {};
    std::unique_ptr<CEntryHasher> hash;
    if (reader.sealed()) hash = std::make_unique<CEntryHasher>();
    int readResult = 0;
    bool written = true;
    do {
        uint32_t count = CHUNK_SIZE;
        readResult = reader.ReadChunk(entry.index, chunk, count);
        written = output.Write(chunk, count);
        if (hash) hash->Add(chunk, count);
        stamp.Add(chunk, count);
        reporter.OnStep();
    } while (readResult == 1 && written);
    if (readResult != 0 || !written) return false;
    EntryDigest digest;
    return !hash || (hash->Finish(digest) && digest == reader.digest(entry.index));
}

// A file without a version stamp is dated by its last write; it takes the entry's date, so
// that the next run compares the package's dates with the package's date, not with the
// moment of this install.
bool EntryDateAsFileTime(const EntryItem& entry, FILETIME& time) {
    DictSystemTime date;
    if (!ParseDateUnits(entry.dateText.c_str(), date)) return false;
    SYSTEMTIME system;
    static_assert(sizeof system == sizeof date, "the version date is a SYSTEMTIME");
    std::memcpy(&system, &date, sizeof system);
    return SystemTimeToFileTime(&system, &time) != FALSE;
}

// The package may have been replaced since the plan was made: the entry at the planned
// index must still be the one the plan decided on.
bool SameEntryAsPlanned(const EntryItem& entry, const CPackageReader& reader) {
    const PackageDirRecord& record = reader.records()[entry.index];
    return LowerAscii(FieldText(record.dictId)) == entry.dictId && LowerAscii(FieldText(record.fileExt)) == entry.fileExt &&
           FieldText(record.dateText) == entry.dateText && record.dataSize == entry.size;
}

// The previous file, copied whole under the backup name while the target itself stays
// where it is. A backup already there is stale (its target is complete) and is replaced.
bool KeepCompleteCopy(const std::wstring& target) {
    const std::wstring copy = CopyFilePathOf(target);
    DeleteWorkFile(copy);
    if (!CopyDurably(target, copy, CREATE_NEW)) {
        DeleteWorkFile(copy);
        return false;
    }
    QB_CRASH_POINT();
    const std::wstring backup = BackupPathOf(target);
    if (FileExistsAt(backup)) SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveDurably(copy, backup, true)) {
        DeleteWorkFile(copy);
        return false;
    }
    return true;
}

}  // namespace

EntryOutcome CInstallManager::InstallEntry(const EntryItem& entry, IInstallReporter& reporter, CPackageReader& reader) {
    EntryOutcome outcome;
    // The error of the step that failed, read before any clean-up can overwrite it.
    auto failed = [&outcome](DWORD error) {
        outcome.error = error;
        return outcome;
    };
    reporter.OnItemBegin(entry);
    if (!HostConfigCanHold(entry.dictId)) return failed(GetLastError());
    const std::wstring& target = entry.targetPath;
    // A dictionary the start could not settle (another program kept it from being put back)
    // may be partial, and its backup is the dictionary: nothing may replace either.
    if (FileExistsAt(target) && FileExistsAt(BackupPathOf(target)) && FileExistsAt(NewFilePathOf(target))) return failed(GetLastError());
    const bool upgrade = entry.action == ACTION_UPGRADE;
    bool inPlace = false;
    if (upgrade) {
        if (ReplaceTargetFile(target.c_str(), MoveAside)) {
            outcome.changes.movedAside = true;
        } else if (FileExistsAt(target)) {
            // The target cannot be renamed (the host holds it): its new bytes will be written
            // where it is, so a complete copy of the previous ones must exist first.
            if (!KeepCompleteCopy(target)) return failed(GetLastError());
            outcome.changes.copiedAside = true;
            inPlace = true;
        }
        QB_CRASH_POINT();
    }

    if (!reader.SeekToEntry(entry.index)) return failed(GetLastError());
    if (!SameEntryAsPlanned(entry, reader)) return failed(GetLastError());
    const std::wstring newFile = NewFilePathOf(target);
    COutputFile output;
    if (!output.Open(newFile.c_str())) {
        DeleteWorkFile(newFile);
        return failed(GetLastError());
    }
    StampWatch stamp;
    const bool copied = CopyEntry(entry, reporter, reader, output, stamp);
    FILETIME entryDate;
    const bool dated = !stamp.Stamped() && EntryDateAsFileTime(entry, entryDate);
    if (!output.Commit(dated ? &entryDate : nullptr) || !copied) {
        DeleteWorkFile(newFile);
        return failed(GetLastError());
    }
    QB_CRASH_POINT();

    const std::wstring unregistered = UnregisteredMarkOf(target);
    if (!CreateMarkDurably(unregistered)) {
        DeleteWorkFile(unregistered);
        DeleteWorkFile(newFile);
        return failed(GetLastError());
    }
    if (inPlace) {
        outcome.changes.targetWritten = true;
        if (!CopyDurably(newFile, target, OPEN_EXISTING)) return failed(GetLastError());  // the failure path restores it
        QB_CRASH_POINT();
        DeleteWorkFile(newFile);
    } else {
        // Never over a file: whatever answers to the target's name now was not planned.
        if (!MoveDurably(newFile, target, false)) {
            DeleteWorkFile(newFile);
            DeleteWorkFile(unregistered);
            return failed(GetLastError());
        }
        outcome.changes.targetWritten = true;
    }
    QB_CRASH_POINT();

    if (upgrade) DeleteWorkFile(BackupPathOf(target));
    QB_CRASH_POINT();
    RegisterDictionary(entry);
    QB_CRASH_POINT();
    DeleteWorkFile(unregistered);
    CopyDictionaryImage(entry.dictId.c_str());
    reporter.OnItemDone(entry);
    outcome.done = true;
    return outcome;
}
