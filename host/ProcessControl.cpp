#include "host/ProcessControl.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "base/WaitLog.h"
#include "host/HostPaths.h"
#include "host/SessionUser.h"

namespace {

DWORD g_pollIntervalMs = POLL_INTERVAL_MS;

// What this run stopped and started, for its end. StopDictService runs on the worker thread
// during the install and on the dialog thread after it, never both at once.
struct CServiceRecord {
    bool stopped = false;
    std::wstring image;    // its executable as it ran; empty when it could not be read
    std::wstring account;  // empty when its token could not be read
};
CServiceRecord g_stoppedService;
bool g_hostStarted = false;

std::wstring OwnAccount() {
    std::wstring account;
    bool elevated = false;
    if (!ProcessAccount(GetCurrentProcess(), account, elevated)) return L"the wizard's own account";
    return account + (elevated ? L" (elevated)" : L" (not elevated)");
}

// Remembers the running service before it is stopped, and logs it.
void RecordServiceBeforeStop(DWORD processId) {
    CServiceRecord record;
    record.stopped = true;
    bool elevated = false;
    qb::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (process) {
        wchar_t image[MAX_PATH];
        DWORD length = MAX_PATH;
        if (QueryFullProcessImageNameW(process.get(), 0, image, &length)) record.image.assign(image, length);
        if (!ProcessAccount(process.get(), record.account, elevated)) record.account.clear();
    }
    qb::ReportLine(L"stopping " DICT_SERVICE_NAME L" (process " + std::to_wstring(processId) + L", " +
                   (record.image.empty() ? std::wstring(L"its file unknown") : record.image) + L", running as " +
                   (record.account.empty() ? std::wstring(L"an account that cannot be read")
                                           : record.account + (elevated ? L", elevated" : L", not elevated")) +
                   L")");
    if (!g_stoppedService.stopped) g_stoppedService = record;
}

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
    qb::ReportLine(L"ended " + std::wstring(exeName) + L" (process " + std::to_wstring(processId) + L") by force");
    return WaitUntilGone(exeName);
}

bool StopProcessWithRepairTool(const wchar_t* exeName) {
    if (exeName == nullptr) return false;
    DWORD processId = 0;
    if (!FindProcessByName(exeName, processId)) return true;
    std::wstring tool;
    if (!GetRepairToolPath(tool) || !PathExists(tool)) {
        qb::ReportLine(L"the repair tool " REPAIR_TOOL_NAME L" is not there to stop " + std::wstring(exeName));
        return false;
    }
    // The host's own tool ends its processes; it runs as the wizard does.
    qb::ReportLine(L"started " + tool + L" " REPAIR_TOOL_PARAMETERS L" as " + OwnAccount() + L" to stop " + exeName);
    OpenWithShell(tool, REPAIR_TOOL_PARAMETERS);
    return WaitUntilGone(exeName);
}

bool StopDictService() {
    DWORD processId = 0;
    if (!FindProcessByName(DICT_SERVICE_NAME, processId)) return true;
    RecordServiceBeforeStop(processId);
    if (StopProcessWithRepairTool(DICT_SERVICE_NAME)) return true;
    return KillProcessByName(DICT_SERVICE_NAME);
}

HostStart StartHostExecutable() {
    std::wstring host;
    if (!GetHostExecutablePath(host) || !PathExists(host)) {
        qb::ReportLine(L"did not start the host: its executable is not there");
        return HostStart::NoHostExecutable;
    }
    const SessionStart start = StartAsSessionUser(host, L"", std::wstring());
    qb::ReportLine(DescribeStart(L"the host " + host, start));
    if (start.started) {
        g_hostStarted = true;
        return HostStart::Started;
    }
    return start.error == ERROR_SUCCESS ? HostStart::NoSessionUser : HostStart::Failed;
}

bool LaunchHostExecutable() { return StartHostExecutable() == HostStart::Started; }

void RestartStoppedDictService() {
    if (!g_stoppedService.stopped) return;
    const std::wstring what = DICT_SERVICE_NAME L" again";
    if (g_hostStarted) {
        qb::ReportLine(L"did not start " + what + L": the host started by this run brings its own");
        return;
    }
    DWORD processId = 0;
    if (FindProcessByName(DICT_SERVICE_NAME, processId)) {
        qb::ReportLine(L"did not start " + what + L": it runs already (process " + std::to_wstring(processId) + L")");
        return;
    }
    // From the host's folder where it lies there, else from where it ran.
    std::wstring folder, service = g_stoppedService.image;
    if (GetHostFolder(folder) && PathExists(folder + L"\\" DICT_SERVICE_NAME)) service = folder + L"\\" DICT_SERVICE_NAME;
    if (service.empty()) {
        qb::ReportLine(L"did not start " + what + L": its file is not known");
        return;
    }
    if (folder.empty() || service.compare(0, folder.size() + 1, folder + L"\\") != 0)
        folder = service.substr(0, service.find_last_of(L'\\'));
    const SessionStart start = StartAsSessionUser(service, L"", folder, g_stoppedService.account);
    qb::ReportLine(DescribeStart(what + L" " + service + L" from " + folder, start));
}
