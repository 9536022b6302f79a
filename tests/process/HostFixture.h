// A host installation laid out in a scratch folder and registered in HKLM, and the stand-in
// host processes (service, repair tool, host executable) started and ended around a test.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

namespace test {

// The stand-in programs as built, in the build's bin folder.
std::wstring StandinPath(const wchar_t* exeName);

#define TEST_HOST_EXECUTABLE L"lxdhost.exe"

// Location\plugin\localquery\dictdata, Location\plugin\localquery\localquerydictcfg.ini,
// Location\plugin\image\, Location\LXDRepair.exe and a host executable that the shell can
// start (a copy of the stand-in service under another name).
class HostLayout {
public:
    HostLayout();
    ~HostLayout();
    HostLayout(const HostLayout&) = delete;
    HostLayout& operator=(const HostLayout&) = delete;

    std::wstring location;
    std::wstring dictData;
    std::wstring configPath;
    std::wstring imageDir;
    std::wstring repairTool;
    std::wstring hostExecutable;

    void RemoveRepairTool();
    void MakeRepairToolRefuse();
    // The parameters of every start of the repair tool, one line each.
    std::string RepairToolCalls() const;

private:
    TempDir m_dir;
    std::unique_ptr<HostRegistry> m_registry;
};

// One process started with CreateProcessW; terminated on destruction if still running.
class StartedProcess {
public:
    explicit StartedProcess(const std::wstring& exePath);
    ~StartedProcess();
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    bool started() const { return m_process.valid(); }
    bool running() const;
    // Waits (generously) for the end; the exit code, or STILL_ACTIVE if it never ended.
    DWORD WaitForExitCode() const;

private:
    qb::ScopedHandle m_process;
};

// Starts the stand-in service and waits until a snapshot lists it.
std::unique_ptr<StartedProcess> StartService();
// Ends every process of that name in this session, e.g. hosts started through the shell.
void EndAllNamed(const wchar_t* exeName);
// Waits until no process of that name is listed; false if one stays.
bool WaitUntilNoneNamed(const wchar_t* exeName);
// Waits until a process of that name is listed.
bool WaitUntilRunning(const wchar_t* exeName);
void EndAllStandins();

}  // namespace test
