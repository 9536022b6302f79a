// One entry put in place. New bytes never go to a dictionary's own name until they are
// complete and on the disk, and the previous bytes stay complete, at the target or under the
// backup name, until the new ones are in place. The files an entry goes through and what
// each combination means: package/DictFiles.h, whose table also says whether the entry may
// go ahead at all. Every work file this install makes is owned here until it means
// something to the next reader of the directory, and removed on every early exit.
// In a sealed package N is hashed as it is written and goes no further unless its SHA-256 is
// the sealed one.
#include "base/CrashPoint.h"
#include "base/NameFolding.h"
#include "base/WaitLog.h"
#include "dictver/DictDate.h"
#include "install/DictConfig.h"
#include "install/EntryHasher.h"
#include "install/InstallEngine.h"
#include "install/InstallReporter.h"
#include "install/OutputFile.h"
#include "install/ReplaceTarget.h"
#include "package/DictFiles.h"
#include "install/InstallManager.h"
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
// where it is. The new file exists before the backup does: beside a backup it says that the
// target may be partial from here on, which is true once the target is rewritten.
bool KeepCompleteCopy(const std::wstring& target, CWorkFile& newFile, CWorkFile& backup) {
    CWorkFile copy(CopyFilePathOf(target));
    if (!DeleteWorkFile(copy.path())) return false;
    if (!CopyDurably(target, copy.path(), CREATE_NEW)) return false;
    QB_CRASH_POINT();
    if (!CreateMarkDurably(newFile.path())) return false;
    if (!MoveDurably(copy.path(), BackupPathOf(target), false)) return false;
    copy.Keep();  // renamed: it is the backup now
    backup.Own(BackupPathOf(target));
    return true;
}

// Nothing answers to the target's name when this is asked, so a refused rename means another
// program holds the new file: a virus scanner or an indexer reads a file as soon as it is
// closed. It is given a moment to let go.
constexpr int HELD_NEW_FILE_TRIES = 10;
constexpr DWORD HELD_NEW_FILE_WAIT_MS = 100;

bool MoveNewFileToFreeName(const std::wstring& newFile, const std::wstring& target) {
    const DWORD start = GetTickCount();
    for (int attempt = 1;; ++attempt) {
        const bool moved = MoveDurably(newFile, target, false);
        const DWORD error = GetLastError();
        const bool held = !moved && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                                     error == ERROR_ACCESS_DENIED);
        if (!held || attempt >= HELD_NEW_FILE_TRIES) {
            if (attempt > 1) qb::ReportHeldFileWait(newFile, start, moved);
            SetLastError(error);
            return moved;
        }
        Sleep(HELD_NEW_FILE_WAIT_MS);
    }
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
    if (!HostConfigCanHold(entry.dictId)) return failed(ERROR_NO_UNICODE_TRANSLATION);
    const CTargetFiles before = ReadTargetFiles(entry.targetPath);
    const std::wstring& target = before.m_strTarget;
    const TargetState state = ClassifyTarget(before);
    // A dictionary the start could not settle may be partial, and its backup is the
    // dictionary: nothing may replace either.
    if (!RuleFor(state).m_bMayInstall) return failed(ERROR_SHARING_VIOLATION);
    // A file that appeared under a new dictionary's name since the plan is not ours.
    if (entry.action == ACTION_INSTALL && before.m_bTarget) return failed(ERROR_FILE_EXISTS);

    // Declared first, so that on an early exit the backup this install made goes before the
    // new file that says the target may be partial.
    CWorkFile newFile(NewFilePathOf(target));
    CWorkFile madeBackup;
    // The target keeps its name until complete new bytes replace it: another installer's
    // leftover (its backup is the previous file), or a file the host holds open.
    bool replaceTarget = state == TS_UNKNOWN_LEFTOVER;
    if (entry.action == ACTION_UPGRADE && state != TS_UNKNOWN_LEFTOVER && before.m_bTarget) {
        if (!ReplaceTargetFile(target.c_str(), MoveAside)) {
            // The target cannot be renamed (the host holds it): its new bytes will be written
            // where it is. Whether they can be is asked before anything is made.
            DWORD error = ERROR_SUCCESS;
            if (!CanRewriteInPlace(target, error)) return failed(error);
            if (!KeepCompleteCopy(target, newFile, madeBackup)) return failed(GetLastError());
            replaceTarget = true;
        }
        QB_CRASH_POINT();
    } else if (replaceTarget) {
        DWORD error = ERROR_SUCCESS;
        if (!CanRewriteInPlace(target, error)) return failed(error);
    }

    if (!reader.SeekToEntry(entry.index)) return failed(GetLastError());
    if (!SameEntryAsPlanned(entry, reader)) return failed(ERROR_FILE_INVALID);
    COutputFile output;
    if (!output.Open(newFile.path().c_str())) return failed(GetLastError());
    StampWatch stamp;
    const bool copied = CopyEntry(entry, reporter, reader, output, stamp);
    const DWORD copyError = copied ? ERROR_SUCCESS : GetLastError();
    FILETIME entryDate;
    const bool dated = !stamp.Stamped() && EntryDateAsFileTime(entry, entryDate);
    if (!output.Commit(dated ? &entryDate : nullptr)) return failed(GetLastError());
    if (!copied) return failed(copyError != ERROR_SUCCESS ? copyError : ERROR_CRC);
    QB_CRASH_POINT();

    CWorkFile unregistered(UnregisteredMarkOf(target));
    if (!CreateMarkDurably(unregistered.path())) return failed(GetLastError());
    // A new dictionary's name is never taken over: whatever answers to it now was not planned.
    const bool renamed =
        replaceTarget ? MoveDurably(newFile.path(), target, true) : MoveNewFileToFreeName(newFile.path(), target);
    if (!renamed && !replaceTarget) return failed(GetLastError());
    // From here the files beside the target are what the failure path and the next start
    // settle it by.
    newFile.Keep();
    unregistered.Keep();
    madeBackup.Keep();
    if (!renamed) {
        // The host holds the target: its bytes are rewritten where it is.
        if (!CopyDurably(newFile.path(), target, OPEN_EXISTING)) return failed(GetLastError());
        QB_CRASH_POINT();
        DeleteWorkFile(newFile.path());
    }
    QB_CRASH_POINT();

    // The target holds the complete new bytes and the mark says so: the backup is stale.
    DeleteWorkFile(BackupPathOf(target));
    QB_CRASH_POINT();
    // The mark stays until its registration has reached the host's file.
    outcome.done = true;
    outcome.mark = unregistered.path();
    return outcome;
}
