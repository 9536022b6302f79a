// What the real wizard starts, and as whom: the host, the download page and the host's
// background process start as the signed-in user of the session (the shell's token), never
// with the wizard's elevated one; where no one can see a window nothing is started; a run
// that stopped the background process and started no host starts it again.
//
// Under Wine every process is elevated. A stand-in shell started with the limited token
// (the test's own linked token) and made the session's shell window shows the difference:
// what the wizard starts as its child reads an unelevated token.
#include <gtest/gtest.h>

#include <memory>

#include "app/HostNotify.h"
#include "app/resource.h"
#include "host/Desktop.h"
#include "host/ProcessControl.h"
#include "host/SessionUser.h"
#include "standins/browser/BrowserStandin.h"
#include "standins/lexora/LexoraStandin.h"
#include "standins/lxdsvc/ServiceStop.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

#define HTTPS_OPEN_COMMAND_KEY L"Software\\Classes\\https\\shell\\open\\command"

std::wstring BinDir() {
    wchar_t full[MAX_PATH];
    const std::wstring path = test::ExeDir() + L"..\\..\\bin\\";
    return std::wstring(full, GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr));
}

const std::string ABC = test::PatternBytes(3000, 7);
PackageEntry Abc() { return {L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", ABC}; }

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

std::string LastLine(const std::string& text) {
    const size_t end = text.rfind("\r\n");
    if (end == std::string::npos) return text;
    const size_t begin = text.rfind("\r\n", end - 1);
    return text.substr(begin == std::string::npos || end == 0 ? 0 : begin + 2, end - (begin == std::string::npos ? 0 : begin + 2));
}

bool ServiceRunning() {
    DWORD id = 0;
    return FindProcessByName(DICT_SERVICE_NAME, id);
}

// The stand-in shell, started with the test's limited token and made the session's shell window.
class UnelevatedShell {
public:
    UnelevatedShell() {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
        qb::ScopedHandle own(raw);
        TOKEN_LINKED_TOKEN linked = {};
        DWORD needed = 0;
        if (!GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &needed)) return;
        qb::ScopedHandle limited(linked.LinkedToken);
        if (!DuplicateTokenEx(limited.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &raw)) return;
        qb::ScopedHandle primary(raw);
        const std::wstring exe = BinDir() + L"UserShell.exe";
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessAsUserW(primary.get(), exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info))
            return;
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
        WaitUntil([&] {
            DWORD owner = 0;
            HWND shell = GetShellWindow();
            return shell != nullptr && GetWindowThreadProcessId(shell, &owner) && owner == info.dwProcessId;
        });
    }
    ~UnelevatedShell() {
        if (!m_process) return;
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), E2E_GENEROUS_WAIT_MS);
        WaitUntil([] { return GetShellWindow() == nullptr; });
    }
    bool ready() const { return m_process.valid() && GetShellWindow() != nullptr; }

private:
    qb::ScopedHandle m_process;
};

class SessionUserE2E : public ::testing::Test {
protected:
    void SetUp() override {
        machine = std::make_unique<Machine>(dir.path());
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteHostConfig(L"[other]\r\nid=other\r\nenable=1\r\n");
        machine->AddPackage(L"abc.dir", MakePackage({Abc()}));
        logPath = dir.path() + L"\\run.log";
        hostStarts = machine->hostDir + L"\\" LEXORA_STARTS_FILE;
        serviceStarts = machine->hostDir + L"\\" STANDIN_SERVICE_STARTS_FILE;
    }
    void TearDown() override {
        SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, nullptr);
        Machine::Unregister();
        KillProcessByName(L"Lexora.exe");
        while (ServiceRunning()) KillProcessByName(DICT_SERVICE_NAME);
    }

    // The wizard with /LOG and these switches, to its end; the log.
    std::string Run(const std::wstring& switches, DWORD expectedExit = 0) {
        DeleteFileW(logPath.c_str());
        Wizard wizard(machine->wizardExe, L"\"/LOG=" + logPath + L"\" " + switches);
        EXPECT_EQ(wizard.WaitForExit(), expectedExit) << test::Utf8(switches);
        return test::ReadFileBytes(logPath);
    }

    void StartService() {
        service = std::make_unique<Wizard>(machine->serviceExe);
        ASSERT_TRUE(WaitUntil(ServiceRunning));
    }

    static void ExpectHas(const std::string& text, const std::wstring& part) {
        EXPECT_NE(text.find(test::Utf8(part)), std::string::npos) << "lacks: " << test::Utf8(part) << "\n" << text;
    }
    static void ExpectLacks(const std::string& text, const std::wstring& part) {
        EXPECT_EQ(text.find(test::Utf8(part)), std::string::npos) << "has: " << test::Utf8(part) << "\n" << text;
    }

    // What a stand-in started by the wizard as the shell's child recorded.
    std::wstring AsShellChildFrom(const std::wstring& folder) const {
        return L"elevated=0 user=" + account + L" parent=UserShell.exe dir=" + folder;
    }

    test::TempDir dir{L"e2e"};
    std::unique_ptr<Machine> machine;
    std::unique_ptr<Wizard> service;
    std::wstring logPath, hostStarts, serviceStarts;
    std::wstring account = [] {
        std::wstring own;
        bool elevated = false;
        ProcessAccount(GetCurrentProcess(), own, elevated);
        return own;
    }();
};

// Silent installs under an unelevated shell: the host starts unelevated from its folder; the
// service that was stopped runs again as it ran when no host was started, and only then.
TEST_F(SessionUserE2E, SilentInstallStartsAsTheSignedInUser) {
    machine->Register();
    UnelevatedShell shell;
    ASSERT_TRUE(shell.ready());
    const struct {
        const char* name;
        const wchar_t* switches;
        bool serviceBefore;
        bool hostStarted, serviceAfter;
        std::wstring logged;
    } cases[] = {
        {"/LAUNCH with the service", L"/S /LAUNCH", true, true, false,
         L"did not start " DICT_SERVICE_NAME L" again: the host started by this run brings its own"},
        {"no /LAUNCH, with the service", L"/S", true, false, true,
         L"started " DICT_SERVICE_NAME L" again " + machine->serviceExe + L" from " + machine->hostDir + L" as " +
             account + L" (not elevated)"},
        {"no /LAUNCH, no service", L"/S", false, false, false, L"silent install begins"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW((machine->dictData + L"\\abc.dic").c_str());
        DeleteFileW(hostStarts.c_str());
        DeleteFileW(serviceStarts.c_str());
        if (c.serviceBefore) StartService();
        const std::string log = Run(c.switches);
        ExpectHas(log, c.logged);
        if (c.hostStarted) {
            ASSERT_TRUE(WaitUntil([&] { return !test::ReadFileBytes(hostStarts).empty(); }));
            EXPECT_EQ(test::ReadFileBytes(hostStarts), "started " + test::Utf8(AsShellChildFrom(machine->hostDir)) + "\r\n");
            ExpectHas(log, L"started the host " + machine->hostExe + L" as " + account + L" (not elevated)");
            ExpectHas(log, L"host started and asked to show its dictionary manager");
        } else {
            EXPECT_FALSE(test::FileExists(hostStarts));
        }
        if (c.serviceBefore) {
            ExpectHas(log, L"stopping " DICT_SERVICE_NAME);
            EXPECT_EQ(service->WaitForExit(), 0u) << "not stopped";
        }
        EXPECT_EQ(ServiceRunning(), c.serviceAfter);
        if (c.serviceAfter) {
            // The wizard does not wait for the start's first steps.
            EXPECT_TRUE(WaitUntil([&] { return CountLines(test::ReadFileBytes(serviceStarts)) == 2; }));
            EXPECT_EQ(LastLine(test::ReadFileBytes(serviceStarts)), test::Utf8(AsShellChildFrom(machine->hostDir)));
        } else {
            ExpectLacks(log, L"started " DICT_SERVICE_NAME L" again");
        }
        KillProcessByName(L"Lexora.exe");
        while (ServiceRunning()) KillProcessByName(DICT_SERVICE_NAME);
    }
}

// The service held one of our files: the removal stopped it to take the file, and starts it
// again afterwards, unelevated, from the host's folder.
TEST_F(SessionUserE2E, RemovalThatStoppedTheServiceStartsItAgain) {
    machine->Register();
    Run(L"/S");
    const std::wstring installed = machine->dictData + L"\\abc.dic";
    ASSERT_TRUE(test::FileExists(installed));
    const std::wstring held(installed);
    ASSERT_TRUE(test::WriteFileBytes(machine->hostDir + L"\\" STANDIN_SERVICE_HOLD_FILE,
                                     std::string(reinterpret_cast<const char*>(held.c_str()), held.size() * 2)));
    UnelevatedShell shell;
    ASSERT_TRUE(shell.ready());
    StartService();
    ASSERT_TRUE(WaitUntil([&] {
        return !qb::ScopedHandle(CreateFileW(installed.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    })) << "the service does not hold the file";

    const std::string log = Run(L"/S /UNINSTALL");
    EXPECT_FALSE(test::FileExists(installed));
    ExpectHas(log, L"removed and unregistered: " + installed);
    ExpectHas(log, L"stopping " DICT_SERVICE_NAME);
    ASSERT_TRUE(ServiceRunning()) << log;
    EXPECT_TRUE(WaitUntil([&] { return CountLines(test::ReadFileBytes(serviceStarts)) == 2; }));
    EXPECT_EQ(LastLine(test::ReadFileBytes(serviceStarts)), test::Utf8(AsShellChildFrom(machine->hostDir)));
}

// By hand: the service held the file an upgrade replaces and was stopped for it. With the
// finish page's box ticked the host starts (and brings its own service); unticked, the
// service is started again as it ran.
TEST_F(SessionUserE2E, InstallByHandThatStoppedTheServiceForAHeldFile) {
    machine->Register();
    UnelevatedShell shell;
    ASSERT_TRUE(shell.ready());
    const std::wstring installed = machine->dictData + L"\\abc.dic";
    ASSERT_TRUE(test::WriteFileBytes(machine->hostDir + L"\\" STANDIN_SERVICE_HOLD_FILE,
                                     std::string(reinterpret_cast<const char*>(installed.c_str()), installed.size() * 2)));
    for (const bool ticked : {false, true}) {
        SCOPED_TRACE(ticked ? "box ticked" : "box unticked");
        machine->AddInstalled(L"abc.dic", "old", 2001);
        DeleteFileW(hostStarts.c_str());
        DeleteFileW(serviceStarts.c_str());
        DeleteFileW(logPath.c_str());
        StartService();
        ASSERT_TRUE(WaitUntil([&] { return !qb::ScopedHandle(CreateFileW(installed.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                                         nullptr, OPEN_EXISTING, 0, nullptr)); }));
        Wizard wizard(machine->wizardExe, L"\"/LOG=" + logPath + L"\"");
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH); }));
        SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, ticked);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        EXPECT_EQ(test::ReadFileBytes(installed), ABC);
        const std::string log = test::ReadFileBytes(logPath);
        ExpectHas(log, L"stopping " DICT_SERVICE_NAME);
        if (ticked) {
            EXPECT_TRUE(WaitUntil([&] { return !test::ReadFileBytes(hostStarts).empty(); }));
            ExpectHas(log, L"did not start " DICT_SERVICE_NAME L" again: the host started by this run brings its own");
            EXPECT_FALSE(ServiceRunning());
        } else {
            EXPECT_FALSE(test::FileExists(hostStarts));
            EXPECT_TRUE(WaitUntil([&] { return CountLines(test::ReadFileBytes(serviceStarts)) == 2; })) << log;
            EXPECT_EQ(LastLine(test::ReadFileBytes(serviceStarts)), test::Utf8(AsShellChildFrom(machine->hostDir)));
        }
        KillProcessByName(L"Lexora.exe");
        while (ServiceRunning()) KillProcessByName(DICT_SERVICE_NAME);
    }
}

// Where no one can see a window, nothing is started for a user: not the host (/LAUNCH only
// logs, and the run still succeeds), not the service it stopped.
TEST_F(SessionUserE2E, NoOneToSeeAWindowStartsNothing) {
    machine->Register();
    StartService();
    SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, L"1");
    const std::string log = Run(L"/S /LAUNCH");
    SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, nullptr);
    EXPECT_EQ(service->WaitForExit(), 0u) << "not stopped";
    Sleep(500);
    EXPECT_FALSE(test::FileExists(hostStarts));
    EXPECT_FALSE(ServiceRunning());
    const std::wstring why = L"no one can see a window here (" WIZ_ENV_ASSUME_NO_DESKTOP L"=1)";
    ExpectHas(log, L"did not start the host " + machine->hostExe + L": " + why);
    ExpectHas(log, L"/LAUNCH: the host was not started, there is no signed-in user to start it as");
    ExpectHas(log, L"did not start " DICT_SERVICE_NAME L" again " + machine->serviceExe + L" from " + machine->hostDir +
                       L": " + why);
}

// The download button of the host-not-found page opens the page in the user's browser, as
// the user: a child of the shell's child, unelevated.
TEST_F(SessionUserE2E, DownloadPageOpensAsTheSignedInUser) {
    const std::wstring browserDir = dir.path() + L"\\Browser";
    ASSERT_TRUE(test::MakeDirs(browserDir));
    ASSERT_TRUE(CopyFileW((BinDir() + L"Browser.exe").c_str(), (browserDir + L"\\Browser.exe").c_str(), FALSE));
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, HTTPS_OPEN_COMMAND_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              &raw, nullptr),
              ERROR_SUCCESS);
    qb::ScopedRegKey key(raw);
    wchar_t before[1024] = {};
    DWORD size = sizeof before;
    const bool hadBefore = RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(before), &size) == ERROR_SUCCESS;
    const std::wstring command = L"\"" + browserDir + L"\\Browser.exe\" \"%1\"";
    RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    const std::wstring opened = browserDir + L"\\" BROWSER_OPENED_FILE;
    {
        UnelevatedShell shell;
        ASSERT_TRUE(shell.ready());
        Wizard wizard(machine->wizardExe, L"\"/LOG=" + logPath + L"\"");
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        ASSERT_TRUE(Visible(dlg, IDC_BTN_MAINDLG_DOWNLOAD));
        Click(dlg, IDC_BTN_MAINDLG_DOWNLOAD);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        EXPECT_TRUE(WaitUntil([&] { return !test::ReadFileBytes(opened).empty(); })) << "the browser never started";
    }
    if (hadBefore) {
        RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(before),
                       static_cast<DWORD>((wcslen(before) + 1) * sizeof(wchar_t)));
    }
    const std::string record = test::ReadFileBytes(opened);
    // Its parent, the shell's child that handed it the address, has ended by now.
    EXPECT_EQ(record.find("elevated=0 user=" + test::Utf8(account) + " "), 0u) << record;
    EXPECT_NE(record.find(test::Utf8(HOST_DOWNLOAD_URL)), std::string::npos) << record;
    const std::string log = test::ReadFileBytes(logPath);
    ExpectHas(log, L"started the download page " HOST_DOWNLOAD_URL L" as " + account + L" (not elevated)");
}

}  // namespace
