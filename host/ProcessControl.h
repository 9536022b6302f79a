// Finding, stopping and starting the host's processes.
#pragma once

#include <windows.h>

#define DICT_SERVICE_NAME L"lxdsvc.exe"
#define REPAIR_TOOL_PARAMETERS L"-S"
#define SHELL_VERB_OPEN L"open"
#define TERMINATED_EXIT_CODE 4
#define POLL_COUNT 20
#define POLL_INTERVAL_MS 500

bool FindProcessByName(const wchar_t* exeName, DWORD& processId);
bool KillProcessByName(const wchar_t* exeName);
bool StopProcessWithRepairTool(const wchar_t* exeName);
bool StopDictService();

// The host executable started as the signed-in user (host/SessionUser.h), from its folder.
enum class HostStart { Started, NoHostExecutable, NoSessionUser, Failed };
HostStart StartHostExecutable();
// True when the host was started.
bool LaunchHostExecutable();

// The end of a run: the background process this run stopped is started again as it ran,
// from the host's folder, unless the host was started (it brings its own) or the process
// runs again already. It is never started where it was not running when stopped, and never
// elevated: as the signed-in user, and only where that is the account it ran as.
void RestartStoppedDictService();

// Waits, still answering messages sent from other threads and processes meanwhile: the wizard's
// hidden dialog must let a second start bring it back while it waits for the host.
void WaitAnsweringSentMessages(DWORD milliseconds);

// Test seam: the wait between two polls. The program always waits POLL_INTERVAL_MS.
void SetPollIntervalForTesting(DWORD milliseconds);
