#include "tests/process/HostFixture.h"

#include <tlhelp32.h>

#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "standins/lxdsvc/ServiceStop.h"

namespace test {

namespace {

constexpr DWORD GENEROUS_WAIT_MS = 30000;

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? path : std::wstring(full, length);
}

bool NamedProcessListed(const wchar_t* exeName) {
    DWORD id = 0;
    return FindProcessByName(exeName, id);
}

}  // namespace

std::wstring StandinPath(const wchar_t* exeName) { return FullPath(ExeDir() + L"..\\..\\bin\\" + exeName); }

HostLayout::HostLayout() : m_dir(L"host") {
    location = m_dir.path();
    dictData = location + HOST_DICT_DATA_PIECE;
    configPath = location + HOST_LOCAL_QUERY_CFG_PIECE;
    imageDir = location + L"\\plugin\\image";
    repairTool = location + L"\\" REPAIR_TOOL_NAME;
    hostExecutable = location + L"\\" TEST_HOST_EXECUTABLE;
    MakeDirs(dictData);
    MakeDirs(imageDir);
    WriteFileBytes(configPath, "[other]\r\nid=other\r\n");
    CopyFileW(StandinPath(REPAIR_TOOL_NAME).c_str(), repairTool.c_str(), FALSE);
    CopyFileW(StandinPath(DICT_SERVICE_NAME).c_str(), hostExecutable.c_str(), FALSE);
    m_registry = std::make_unique<HostRegistry>(location.c_str(), TEST_HOST_EXECUTABLE);
    CheckHostEnvironment();
}

HostLayout::~HostLayout() {
    // The folder cannot go while a program started from it still runs.
    EndAllStandins();
}

void HostLayout::RemoveRepairTool() { DeleteFileW(repairTool.c_str()); }

void HostLayout::MakeRepairToolRefuse() { WriteFileBytes(location + L"\\" STANDIN_REPAIR_REFUSE_FILE, ""); }

std::string HostLayout::RepairToolCalls() const {
    // The shell has started the tool by the time it returns; once it has ended, its line is in.
    WaitUntilNoneNamed(REPAIR_TOOL_NAME);
    return ReadFileBytes(location + L"\\" STANDIN_REPAIR_CALLS_FILE);
}

StartedProcess::StartedProcess(const std::wstring& exePath) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
    }
}

StartedProcess::~StartedProcess() {
    if (running()) {
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), GENEROUS_WAIT_MS);
    }
}

bool StartedProcess::running() const {
    return m_process.valid() && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

DWORD StartedProcess::WaitForExitCode() const {
    if (!m_process.valid()) return STILL_ACTIVE;
    WaitForSingleObject(m_process.get(), GENEROUS_WAIT_MS);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.get(), &code);
    return code;
}

std::unique_ptr<StartedProcess> StartService() {
    auto service = std::make_unique<StartedProcess>(StandinPath(DICT_SERVICE_NAME));
    // Listed is not enough: the repair tool can stop only a service that waits on its event.
    for (DWORD waited = 0; waited < GENEROUS_WAIT_MS && service->running(); waited += 20) {
        qb::ScopedHandle stop(OpenEventW(SYNCHRONIZE, FALSE, STANDIN_SERVICE_STOP_EVENT));
        if (stop) break;
        Sleep(20);
    }
    WaitUntilRunning(DICT_SERVICE_NAME);
    return service;
}

void EndAllNamed(const wchar_t* exeName) {
    for (int round = 0; round < 100; ++round) {
        DWORD id = 0;
        if (!FindProcessByName(exeName, id)) return;
        qb::ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) return;
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), GENEROUS_WAIT_MS);
    }
}

bool WaitUntilNoneNamed(const wchar_t* exeName) {
    for (DWORD waited = 0; waited < GENEROUS_WAIT_MS; waited += 20) {
        if (!NamedProcessListed(exeName)) return true;
        Sleep(20);
    }
    return false;
}

bool WaitUntilRunning(const wchar_t* exeName) {
    for (DWORD waited = 0; waited < GENEROUS_WAIT_MS; waited += 20) {
        if (NamedProcessListed(exeName)) return true;
        Sleep(20);
    }
    return false;
}

void EndAllStandins() {
    EndAllNamed(DICT_SERVICE_NAME);
    EndAllNamed(TEST_HOST_EXECUTABLE);
    EndAllNamed(REPAIR_TOOL_NAME);
}

}  // namespace test
