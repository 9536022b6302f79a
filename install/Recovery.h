// What an install cut off by a kill or a power cut leaves in the host's dictionary data
// directory, and what the next start makes of it before anything else looks at the
// directory. T is a dictionary file, B its backup, N a new file being written, C a copy of
// the previous file being made (their names: base/WorkFileNames.h; how an install goes
// through them: install/InstallEntry.cpp).
//
//   left behind            what it means                        recovery
//   ---------------------  -----------------------------------  ------------------------------
//   N                      new install cut off                  delete N
//   C (+ anything)         copy of T cut off, T untouched       delete C, then as the rest
//   B                      upgrade cut off after the move aside rename B to T
//   B + N                  ... while N was being written        rename B to T, delete N
//   T + B + N              T may be partly rewritten in place   put B back over T (rename, or
//                                                               its bytes over T when T is
//                                                               held open), then delete N
//   T + B                  T is complete (it only ever gets     delete B: a stale backup is
//                          its name whole, or N is still there) never restored over T
//   T + N                  the previous file is back            delete N
//   T + UNREGISTERED mark  T complete, not registered yet       left for the plan, which
//                                                               installs T again from an
//                                                               entry of the same date
//   mark, and B put back,  the new bytes did not stay at T, or   delete the mark
//   or N without B, or     a new install was cut off
//   neither T nor B
//
// N is deleted only once no backup waits beside it, so a restore cut off in turn is done
// again at the next start. The host's configuration file is only ever replaced whole; a
// copy of it left behind is deleted.
#pragma once

#include <string>

// Settles every dictionary of the directory; returns how many needed it.
int RecoverDictData(const std::wstring& dataDir);
void RecoverHostConfig(const std::wstring& configPath);
// Both, for the host found in the registry; false when the host's paths cannot be read.
bool RecoverInterruptedInstall();
