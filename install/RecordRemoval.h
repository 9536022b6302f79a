// Removing what a removal record names, without the setup folder. The files go through the
// removal engine (install/Removal.h) exactly as a setup folder's do: settled by the state
// table, matched with the recorded SHA-256 through the handle that deletes them, a dictionary
// only whole and only when every file of it is ours, its section and picture with its last
// file. What is left of the setup afterwards is settled here.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "install/Removal.h"
#include "install/RemovalRecord.h"

// The full path of a recorded file in the host's data folder; empty without one.
std::wstring RecordedTargetPath(const RecordedEntry& entry, const std::wstring& dataDir);
// The record's files as the removal engine takes them.
std::vector<CRemovalRecord> RemovalRecordsOf(const RemovalRecord& record);

// What is left of the setup after a removal: entries whose file is gone leave the record
// (and their detection values the entry); when none is left the entry, the record and the
// copies go, in that order. note gets one line per
// change. True when nothing of the setup remains.
bool SettleRecord(const std::wstring& folder, RemovalRecord& record, const std::wstring& dataDir,
                  const std::function<void(const std::wstring&)>& note, DWORD& error);
