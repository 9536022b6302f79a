#include "host/ProcessControl.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "base/WaitLog.h"
#include "host/HostPaths.h"

namespace {

DWORD g_pollIntervalMs = POLL_INTERVAL_MS;

// True as soon as no process of that name is found; false when it is still there after
// the last poll.
bool WaitUntilGone(const wchar_t* exeName) {
    const DWORD start = GetTickCount();
    const std::wstring what = std::wstring(exeName) + L" to end";
    for (int poll = 0; poll < POLL_COUNT; ++poll) {
        WaitAnsweringSentMessages(g_pollIntervalMs);
        DWORD processId = 0;
        if (!FindProcessByName(exeName, processId)) {
            qb::ReportWait(what, start, WAIT_OUTCOME_ENDED);
            return true;
        }
    }
    qb::ReportWait(what, start, WAIT_OUTCOME_STILL_RUNNING);
    return false;
}

// Hands a program to the shell without any box of the shell's own (a missing file, an
// unknown association): no one may have to answer one in a silent run.
void OpenWithShell(const std::wstring& file, const wchar_t* parameters) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = SHELL_VERB_OPEN;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

}  // namespace

void SetPollIntervalForTesting(DWORD milliseconds) { g_pollIntervalMs = milliseconds; }

void WaitAnsweringSentMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        // Answers whatever was sent so far: a message that arrived before the wait began
        // would not wake the wait below.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    }
}

bool FindProcessByName(const wchar_t* exeName, DWORD& processId) {
    if (exeName == nullptr) return false;
    qb::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot.get(), &entry)) return false;
    // An executable's name in a snapshot is a file name, compared as the file system does.
    const std::wstring wanted = FoldedName(exeName);
    do {
        if (FoldedName(entry.szExeFile) == wanted) {
            processId = entry.th32ProcessID;
            return true;
        }
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
}

bool KillProcessByName(const wchar_t* exeName) {
    if (exeName == nullptr) return false;
    DWORD processId = 0;
    if (!FindProcessByName(exeName, processId)) return true;
    qb::ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    // A process we may not end is left to itself and counts as stopped.
    if (!process) return true;
    TerminateProcess(process.get(), TERMINATED_EXIT_CODE);
    process.reset();
    return WaitUntilGone(exeName);
}

bool StopProcessWithRepairTool(const wchar_t* exeName) {
    if (exeName == nullptr) return false;
    DWORD processId = 0;
    if (!FindProcessByName(exeName, processId)) return true;
    std::wstring tool;
    if (!GetRepairToolPath(tool) || !PathExists(tool)) return false;
    OpenWithShell(tool, REPAIR_TOOL_PARAMETERS);
    return WaitUntilGone(exeName);
}

bool StopDictService() {
    DWORD processId = 0;
    if (!FindProcessByName(DICT_SERVICE_NAME, processId)) return true;
    if (StopProcessWithRepairTool(DICT_SERVICE_NAME)) return true;
    return KillProcessByName(DICT_SERVICE_NAME);
}

bool LaunchHostExecutable() {
    std::wstring host;
    if (!GetHostExecutablePath(host) || !PathExists(host)) return false;
    OpenWithShell(host, nullptr);
    return true;
}
