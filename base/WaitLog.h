// How long the wizard waited for something outside it, and whether it came: every bounded
// wait and retry says so when it ends. The lower layers only report; the run's log (app/)
// registers where the lines go. Without a registered sink the reports go nowhere.
#pragma once

#include <windows.h>

#include <string>

// How a wait ended: a process, a window, a file another program held.
#define WAIT_OUTCOME_ENDED L"ended"
#define WAIT_OUTCOME_STILL_RUNNING L"still running"
#define WAIT_OUTCOME_CAME L"came"
#define WAIT_OUTCOME_NEVER_CAME L"never came"
#define WAIT_OUTCOME_LET_GO L"let go"
#define WAIT_OUTCOME_STILL_HELD L"still held"

namespace qb {

using WaitSink = void (*)(const std::wstring& line);
void SetWaitSink(WaitSink sink);

// A wait that began at startTick (GetTickCount) has ended:
//   "waited 1.2 s for lxdsvc.exe to end (ended)"
void ReportWait(const std::wstring& what, DWORD startTick, const wchar_t* outcome);
// Retries of a file another program held:
//   "waited 0.3 s for ...\abc.dic._qb_new_ to be let go (let go)"
void ReportHeldFileWait(const std::wstring& path, DWORD startTick, bool letGo);
std::wstring WaitLine(const std::wstring& what, DWORD milliseconds, const wchar_t* outcome);
// Any other line of the lower layers for the same sink: a program started or stopped, as
// whom, or why none was started; a folder someone else planted, moved aside.
void ReportLine(const std::wstring& line);

}  // namespace qb
