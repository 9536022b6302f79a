// Removing what a removal record names, without the setup folder: a file goes only when its
// bytes still have the recorded SHA-256; a dictionary with any file changed, unreadable or
// held keeps all its files and its section. The files themselves go through the removal's
// own steps (install/Removal.h); the picture goes with the dictionary's last file, when its
// bytes are the recorded ones.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "install/RemovalRecord.h"

enum class RecordedMatch {
    Absent,      // nothing answers to the recorded name
    Same,        // the recorded bytes
    Different,   // changed since, or another file of its dictionary is: left
    Unreadable,  // could not be read (error: why): left
};

struct RecordedRemoval {
    RecordedEntry entry;
    RecordedMatch match = RecordedMatch::Absent;
    bool removed = false;
    DWORD error = ERROR_SUCCESS;
};

// The full path of a recorded file in the host's data folder; empty without one.
std::wstring RecordedTargetPath(const RecordedEntry& entry, const std::wstring& dataDir);
std::vector<RecordedRemoval> MatchRecordedEntries(const std::vector<RecordedEntry>& entries, const std::wstring& dataDir);
// The one way the record's dictionaries are removed: matched again at this moment and
// removed by the removal's steps. One result per entry, in order.
std::vector<RecordedRemoval> RemoveRecordedEntries(const std::vector<RecordedEntry>& entries, const std::wstring& dataDir);

// What is left of the setup after a removal: entries whose file is gone leave the record
// (with the picture, when its bytes are the recorded ones, and the detection value); when
// none is left the entry, the record and the copies go, in that order. note gets one line per
// change. True when nothing of the setup remains.
bool SettleRecord(const std::wstring& folder, RemovalRecord& record, const std::wstring& dataDir,
                  const std::function<void(const std::wstring&)>& note, DWORD& error);
