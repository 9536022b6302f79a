// What an install cut off by a kill or a power cut leaves in the host's dictionary data
// directory, and what the next start makes of it before anything else looks at the
// directory. What each combination of a dictionary's files means, and what settling it
// does, is the table of package/DictFiles.h; this applies its steps.
//
// A dictionary is settled step by step, each step leaving a state of the table: a settle cut
// off in turn is done again by the next start. The host's configuration file is only ever
// replaced whole, by one rename of a proven copy over it; a copy of it left behind is
// deleted, or, should the file's name be found empty, the proven one takes it.
#pragma once

#include <string>
#include <vector>

// What the start's recovery did to the dictionaries that had the engine's files beside them.
struct CRecoveryResult {
    bool m_bHostKnown = false;               // false: the host's paths cannot be read, nothing done
    std::vector<std::wstring> m_settled;     // changed into a state that needs nothing more
    std::vector<std::wstring> m_left;        // needed nothing by the table (an install puts them whole)
    std::vector<std::wstring> m_unsettled;   // a step failed: left in a state of the table
};

// Settles one dictionary by the table until its state needs nothing more; false when a step
// failed (another program holds a file), the dictionary then left in a state of the table.
bool SettleTarget(const std::wstring& target);
// Settles every dictionary of the directory that has one of the engine's files beside it.
void RecoverDictData(const std::wstring& dataDir, CRecoveryResult& result);
void RecoverHostConfig(const std::wstring& configPath);
// Both, for the host found in the registry.
CRecoveryResult RecoverInterruptedInstall();
