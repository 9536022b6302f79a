// The real Quillbox.exe with its switches: silent installs and removals as deployment tools
// run them, watched for any visible window, judged by exit code, files, sections and log.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "host/Desktop.h"
#include "app/RunLog.h"
#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "install/DictConfig.h"
#include "base/WorkFileNames.h"
#include "standins/lexora/LexoraStandin.h"
#include "tests/faults/UnixMount.h"
#include "tests/e2e/InstalledAppsSupport.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

#define WATCH_INTERVAL_MS 50
// A run that should end at once and has not after this long is waiting for someone.
#define HANG_LIMIT_MS 30000

std::wstring BinDir() {
    wchar_t full[MAX_PATH];
    const std::wstring path = test::ExeDir() + L"..\\..\\bin\\";
    return std::wstring(full, GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr));
}

const wchar_t DICT_CONFIG[] =
    L"[abc]\r\nid_net=abc-net\r\ndesc_name=ABC英汉词典\r\ncatalog=英汉\r\n"
    L"[xyz]\r\ndesc_name=XYZ汉英词典\r\nfrom=zh\r\nto=en\r\n";
const wchar_t OTHER_SECTIONS[] = L"[other]\r\nid=other\r\ndesc_name=别的词典\r\nenable=1\r\n";

PackageEntry Abc(const std::string& data) { return {L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", data}; }
PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", L"XYZ汉英词典", data}; }

const std::string ABC = test::PatternBytes(5000, 1);
const std::string XYZ = test::PatternBytes(2048 * 3 + 1, 2);

struct Outcome {
    DWORD exitCode = STILL_ACTIVE;
    int visibleLooks = 0;  // looks that found a visible window of the process
    int looks = 0;
    DWORD tookMs = 0;
    std::string log;
};

BOOL CALLBACK CountVisible(HWND window, LPARAM param) {
    auto* watch = reinterpret_cast<std::pair<DWORD, bool>*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == watch->first && IsWindowVisible(window)) watch->second = true;
    return TRUE;
}

class UnattendedE2E : public ::testing::Test {
protected:
    void SetUp() override {
        // Another test's setup records would claim the same bytes, and a removal keeps what they claim.
        RemoveInstalledApps();
        machine = std::make_unique<Machine>(dir.path());
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteDictConfig(DICT_CONFIG);
        machine->WriteHostConfig(OTHER_SECTIONS);
        logPath = dir.path() + L"\\run.log";
    }
    void TearDown() override {
        Machine::Unregister();
        KillProcessByName(L"Lexora.exe");
        KillProcessByName(DICT_SERVICE_NAME);
    }

    // The wizard with /LOG and these switches, a watcher looking for a visible window of it
    // every 50 ms until it ends.
    Outcome Run(const std::wstring& switches) {
        DeleteFileW(logPath.c_str());
        return RunAsIs(L"\"/LOG=" + logPath + L"\" " + switches);
    }

    // The wizard with exactly these arguments, watched the same way; ended after
    // HANG_LIMIT_MS (exit code STILL_ACTIVE) when it waits for someone.
    Outcome RunAsIs(const std::wstring& arguments) {
        Outcome outcome;
        const DWORD start = GetTickCount();
        Wizard wizard(machine->wizardExe, arguments);
        EXPECT_TRUE(wizard.started());
        while (wizard.Running() && GetTickCount() - start < HANG_LIMIT_MS) {
            std::pair<DWORD, bool> watch(wizard.processId(), false);
            EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&watch));
            ++outcome.looks;
            if (watch.second) ++outcome.visibleLooks;
            Sleep(WATCH_INTERVAL_MS);
        }
        outcome.tookMs = GetTickCount() - start;
        if (wizard.Running()) {
            ADD_FAILURE() << "still running after " << HANG_LIMIT_MS << " ms: " << test::Utf8(arguments);
            wizard.Terminate();
        }
        outcome.exitCode = wizard.WaitForExit();
        outcome.log = test::ReadFileBytes(logPath);
        return outcome;
    }

    // Ended with this code, nothing of it ever seen, and the code the log's last line.
    static void ExpectSilentEnd(const Outcome& outcome, DWORD exitCode) {
        EXPECT_EQ(outcome.exitCode, exitCode);
        EXPECT_EQ(outcome.visibleLooks, 0) << "of " << outcome.looks << " looks";
        const std::string last = "exit code " + std::to_string(exitCode) + "\r\n";
        EXPECT_TRUE(outcome.log.size() >= last.size() &&
                    outcome.log.compare(outcome.log.size() - last.size(), last.size(), last) == 0)
            << outcome.log;
    }

    static void ExpectLogHas(const Outcome& outcome, const std::wstring& text) {
        EXPECT_NE(outcome.log.find(test::Utf8(text)), std::string::npos) << "log lacks: " << test::Utf8(text)
                                                                         << "\n" << outcome.log;
    }

    std::wstring Installed(const wchar_t* name) const { return machine->dictData + L"\\" + name; }

    void InstallBoth() {
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
        machine->AddPackage(L"xyz.dir", MakePackage({Xyz(XYZ)}));
        machine->AddPicture(L"abc", "BMabc");
        machine->AddPicture(L"xyz", "BMxyz");
        ASSERT_EQ(Run(L"/S").exitCode, 0u);
    }

    test::TempDir dir{L"e2e"};
    std::unique_ptr<Machine> machine;
    std::wstring logPath;
};

// Install, then upgrade, then up to date: each ends 0, nothing ever shows, the service is
// stopped and the dictionaries enabled, the host is not started without /LAUNCH.
TEST_F(UnattendedE2E, SilentInstallUpgradeAndUpToDate) {
    machine->Register();
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(ABC), Xyz(XYZ)}));
    machine->AddInstalled(L"xyz.dic", "old", 2001);
    machine->AddPicture(L"abc", "BMabc");
    Wizard service(machine->serviceExe);
    ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));

    Outcome first = Run(L"/S");
    ExpectSilentEnd(first, 0u);
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
    EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), XYZ);
    EXPECT_EQ(test::ReadFileBytes(machine->hostImages + L"\\abc.bmp"), "BMabc");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id_net"), L"abc-net");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"to"), L"en");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"enable"), L"1");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"enable"), L"1");
    EXPECT_EQ(IniValue(machine->hostConfig, L"other", L"desc_name"), L"别的词典");
    EXPECT_EQ(service.WaitForExit(), 0u) << "the service was not stopped";
    EXPECT_FALSE(test::FileExists(machine->hostDir + L"\\" LEXORA_STARTS_FILE));
    ExpectLogHas(first, L"host found: " + machine->hostExe);
    ExpectLogHas(first, L"recovery settled 0");
    ExpectLogHas(first, L"plan: abc.dic (ABC英汉词典) install, package date 2024-05-01, installed date none");
    ExpectLogHas(first, L"plan: xyz.dic (XYZ汉英词典) upgrade, package date 2024-05-01, installed date 2001-01-01");
    ExpectLogHas(first, L"done and registered: abc.dic (ABC英汉词典)");
    ExpectLogHas(first, L"done and registered: xyz.dic (XYZ汉英词典)");
    ExpectLogHas(first, L"service stopped and dictionaries enabled");

    Outcome again = Run(L"-quiet");
    ExpectSilentEnd(again, 0u);
    ExpectLogHas(again, L"abc.dic (ABC英汉词典) skip");
    ExpectLogHas(again, L"nothing to install");
}

// The silent log keeps each entry's lines together: its begin, its picture, then its result,
// before the next entry begins, also for an entry that fails between two that are installed; the
// key=value lines follow in the same order.
TEST_F(UnattendedE2E, SilentLogKeepsEachEntrysLinesTogether) {
    machine->Register();
    const std::string qrs = test::PatternBytes(9000, 3);
    std::string package =
        MakePackage({Abc(ABC), {L"qrs", L".dic", L"2024-05-01", L"QRS词典", qrs}, Xyz(XYZ)}, true);
    package[package.find(qrs) + 100] ^= 0x55;  // changed after sealing
    machine->AddPackage(L"dicts.dir", package);
    machine->AddInstalled(L"xyz.dic", "old", 2001);

    Outcome outcome = Run(L"/S");
    ExpectSilentEnd(outcome, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    // The lines that name an entry, in the log's order.
    std::vector<std::string> entryLines;
    for (size_t pos = 0; pos < outcome.log.size();) {
        size_t end = outcome.log.find('\n', pos);
        if (end == std::string::npos) end = outcome.log.size();
        const std::string line = outcome.log.substr(pos, end - pos);
        pos = end + 1;
        if ((line.find(".dic (") != std::string::npos && line.find("plan: ") == std::string::npos) ||
            line.find("entry id=") != std::string::npos)
            entryLines.push_back(line);
    }
    const std::vector<std::wstring> expected = {
        L"install abc.dic (ABC英汉词典) to ",
        L"no picture of abc.dic (ABC英汉词典) in the setup folder",
        L"done and registered: abc.dic (ABC英汉词典)",
        L"install qrs.dic (QRS词典) to ",
        L"failed: qrs.dic (QRS词典)",
        L"upgrade xyz.dic (XYZ汉英词典) to ",
        L"no picture of xyz.dic (XYZ汉英词典) in the setup folder",
        L"done and registered: xyz.dic (XYZ汉英词典)",
        L"entry id=abc file=abc.dic action=install outcome=done",
        L"entry id=qrs file=qrs.dic action=install outcome=failed",
        L"entry id=xyz file=xyz.dic action=upgrade outcome=done",
    };
    ASSERT_EQ(entryLines.size(), expected.size()) << outcome.log;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NE(entryLines[i].find(test::Utf8(expected[i])), std::string::npos)
            << "line " << i << ": " << entryLines[i] << "\n" << outcome.log;
}

TEST_F(UnattendedE2E, LaunchStartsTheHostAndShowsItsDictionaryManager) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    Outcome outcome = Run(L"/VERYSILENT /launch");
    ExpectSilentEnd(outcome, 0u);
    EXPECT_TRUE(test::FileExists(machine->hostDir + L"\\" LEXORA_STARTS_FILE));
    const std::wstring shown = machine->hostDir + L"\\" LEXORA_MANAGER_SHOWN_FILE;
    EXPECT_TRUE(WaitUntil([&] { return !test::ReadFileBytes(shown).empty(); })) << "the host never got the message";
    ExpectLogHas(outcome, L"host started and asked to show its dictionary manager");
}

// Failures end 1603 with their reason in the log; a damaged entry does not stop the others.
TEST_F(UnattendedE2E, FailuresEndWithInstallFailure) {
    // No host at all.
    Outcome noHost = Run(L"/S");
    ExpectSilentEnd(noHost, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    ExpectLogHas(noHost, L"host not found");

    // A sealed package whose entry was changed after sealing: refused, the other installed.
    machine->Register();
    std::string damaged = MakePackage({Xyz(XYZ)}, true);
    damaged[damaged.find(XYZ) + 100] ^= 0x55;
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    machine->AddPackage(L"xyz.dir", damaged);
    Outcome bad = Run(L"/S");
    ExpectSilentEnd(bad, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
    EXPECT_FALSE(test::FileExists(Installed(L"xyz.dic")));
    ExpectLogHas(bad, L"failed: xyz.dic (XYZ汉英词典)");
    ExpectLogHas(bad, L"done and registered: abc.dic");

    // A package that cannot be read at all: no plan.
    machine->AddPackage(L"broken.dir", "garbage, not a package");
    Outcome noPlan = Run(L"/S");
    ExpectSilentEnd(noPlan, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    ExpectLogHas(noPlan, L"plan cannot be built");
}

// A silent run never brings another wizard forward: it ends at once with 1618, whichever
// folder the other wizard runs from.
TEST_F(UnattendedE2E, AnotherWizardOpenEndsWithAlreadyRunning) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    Wizard first(machine->wizardExe);
    HWND dlg = first.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    ShowWindow(dlg, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(dlg) != FALSE; }));

    for (const wchar_t* switches : {L"/S", L"/S /UNINSTALL"}) {
        SCOPED_TRACE(test::Utf8(switches));
        const DWORD start = GetTickCount();
        Outcome outcome = Run(switches);
        const DWORD took = GetTickCount() - start;
        ExpectSilentEnd(outcome, static_cast<DWORD>(WIZ_EXIT_ANOTHER_INSTALL));
        EXPECT_TRUE(IsIconic(dlg)) << "the other wizard's dialog was brought forward";
        ExpectLogHas(outcome, L"another wizard is working on this host");
        std::cout << "[ figure ] " << test::Utf8(switches) << " with another wizard open ended after " << took
                  << " ms\n";
    }
    EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(first.WaitForExit(), 1u);
}

TEST_F(UnattendedE2E, BadSwitchAndHelp) {
    Outcome bad = Run(L"/S /SILENTLY");
    ExpectSilentEnd(bad, static_cast<DWORD>(WIZ_EXIT_BAD_SWITCH));
    ExpectLogHas(bad, L"unknown switch: /SILENTLY");
    ExpectLogHas(bad, L"/UNINSTALL");

    Outcome help = Run(L"-s /?");
    ExpectSilentEnd(help, 0u);
    ExpectLogHas(help, L"退出码");

    // By hand the usage is a box; the exit code follows closing it.
    struct Case {
        const wchar_t* switches;
        DWORD exitCode;
    } cases[] = {{L"/bogus", WIZ_EXIT_BAD_SWITCH}, {L"/help", WIZ_EXIT_SUCCESS}};
    for (const Case& c : cases) {
        Wizard wizard(machine->wizardExe, c.switches);
        HWND box = WaitForMessageBox(wizard.processId(), L"/UNINSTALL");
        ASSERT_NE(box, nullptr) << test::Utf8(c.switches);
        EXPECT_EQ(Text(box), WIZ_TEXT_TITLE);
        CloseMessageBox(box);
        EXPECT_EQ(wizard.WaitForExit(), c.exitCode);
    }
}

// The removal takes what is byte for byte ours, sealed or not, with its section and its
// picture; a different build stays with its section; every other section stays.
TEST_F(UnattendedE2E, SilentRemovalTakesOnlyWhatIsOurs) {
    machine->Register();
    InstallBoth();
    ASSERT_TRUE(test::FileExists(Installed(L"abc.dic")));
    Outcome removal = Run(L"/S /UNINSTALL");
    ExpectSilentEnd(removal, 0u);
    EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
    EXPECT_FALSE(test::FileExists(Installed(L"xyz.dic")));
    EXPECT_FALSE(test::FileExists(machine->hostImages + L"\\abc.bmp"));
    EXPECT_FALSE(test::FileExists(machine->hostImages + L"\\xyz.bmp"));
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"desc_name"), L"");
    EXPECT_EQ(IniValue(machine->hostConfig, L"other", L"desc_name"), L"别的词典");
    EXPECT_EQ(IniValue(machine->hostConfig, L"other", L"enable"), L"1");
    ExpectLogHas(removal, L"removed and unregistered: " + Installed(L"abc.dic"));

    // A newer build of xyz (and another picture) stays; abc goes.
    InstallBoth();
    const std::string newer = test::PatternBytes(XYZ.size(), 99);
    ASSERT_TRUE(test::WriteFileBytes(Installed(L"xyz.dic"), newer));
    ASSERT_TRUE(test::WriteFileBytes(machine->hostImages + L"\\abc.bmp", "BMabc changed by the host"));
    Outcome partial = Run(L"/S /UNINSTALL");
    ExpectSilentEnd(partial, 0u);
    EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
    EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), newer);
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"desc_name"), L"XYZ汉英词典");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"");
    EXPECT_EQ(test::ReadFileBytes(machine->hostImages + L"\\abc.bmp"), "BMabc changed by the host");
    EXPECT_EQ(test::ReadFileBytes(machine->hostImages + L"\\xyz.bmp"), "BMxyz");
    ExpectLogHas(partial, L"left, a different build: " + Installed(L"xyz.dic"));

    // A dictionary of two files, one of them changed: both stay, with the section.
    machine->AddPackage(L"qrs.dir", MakePackage({{L"qrs", L".dic", L"2024-05-01", L"QRS词典", "qrs dic"},
                                                 {L"qrs", L".dip", L"2024-05-01", L"QRS词典", "qrs dip"}}));
    ASSERT_EQ(Run(L"/S").exitCode, 0u);
    ASSERT_TRUE(test::WriteFileBytes(Installed(L"qrs.dip"), "qrs dip, edited"));
    ExpectSilentEnd(Run(L"/S /UNINSTALL"), 0u);
    EXPECT_EQ(test::ReadFileBytes(Installed(L"qrs.dic")), "qrs dic");
    EXPECT_EQ(IniValue(machine->hostConfig, L"qrs", L"id"), L"qrs");

    // Nothing of ours left: a second removal changes nothing and ends 0.
    Outcome nothing = Run(L"/S /UNINSTALL");
    ExpectSilentEnd(nothing, 0u);
    ExpectLogHas(nothing, L"not installed: abc.dic");
}

// By hand: a Yes/No box names what goes and what stays; No ends 1602 and changes nothing,
// Yes removes and shows the outcome.
TEST_F(UnattendedE2E, RemovalByHandAsksFirst) {
    machine->Register();
    InstallBoth();
    const std::string newer = test::PatternBytes(XYZ.size(), 99);
    ASSERT_TRUE(test::WriteFileBytes(Installed(L"xyz.dic"), newer));

    for (const int answer : {IDNO, IDYES}) {
        Wizard wizard(machine->wizardExe, L"/UNINSTALL");
        HWND box = WaitForMessageBox(wizard.processId(), WIZ_TEXT_REMOVE_QUESTION);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Text(box), WIZ_TEXT_TITLE);
        EXPECT_NE(MessageBoxText(box).find(std::wstring(WIZ_TEXT_REMOVE_LIST) + L"《ABC英汉词典》\r\n\r\n" +
                                           WIZ_TEXT_LEAVE_LIST + L"《XYZ汉英词典》\r\n"),
                  std::wstring::npos)
            << test::Utf8(MessageBoxText(box));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        if (answer == IDNO) {
            EXPECT_EQ(wizard.WaitForExit(), static_cast<DWORD>(WIZ_EXIT_USER_DECLINED));
            EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
            continue;
        }
        HWND done = WaitForMessageBox(wizard.processId(), WIZ_TEXT_REMOVE_DONE);
        ASSERT_NE(done, nullptr);
        CloseMessageBox(done);
        EXPECT_EQ(wizard.WaitForExit(), 0u);
        EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
        EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), newer);
    }
}

// By hand with /LOG: the dialog works as always, and the log holds what a silent run's does:
// the host, recovery, the plan with both dates, the install, the finish and the exit code.
TEST_F(UnattendedE2E, LogOfARunByHand) {
    machine->Register();
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(ABC), Xyz(XYZ)}));
    machine->AddInstalled(L"xyz.dic", "old", 2001);
    Wizard wizard(machine->wizardExe, L"/log=\"" + logPath + L"\"");
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    Click(dlg, IDC_BTN_MAINDLG_NEXT);
    ASSERT_TRUE(WaitUntil([&] { return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH); }));
    SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, true);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);  // closed with its button
    Outcome outcome;
    outcome.log = test::ReadFileBytes(logPath);
    ExpectLogHas(outcome, L"host found: " + machine->hostExe);
    ExpectLogHas(outcome, L"recovery settled 0");
    ExpectLogHas(outcome, L"plan: abc.dic (ABC英汉词典) install, package date 2024-05-01, installed date none");
    ExpectLogHas(outcome, L"plan: xyz.dic (XYZ汉英词典) upgrade, package date 2024-05-01, installed date 2001-01-01");
    ExpectLogHas(outcome, L"install abc.dic (ABC英汉词典) to " + Installed(L"abc.dic"));
    ExpectLogHas(outcome, L"done and registered: xyz.dic (XYZ汉英词典)");
    ExpectLogHas(outcome, L"service stopped, dictionaries enabled, host started");
    ExpectLogHas(outcome, L"host asked to show its dictionary manager");
    ExpectLogHas(outcome, L"exit code 1\r\n");
}

// Runs that waited for someone who is not there: each now ends at once with its code and
// without a window. A refused argument that still says silent shows no usage box; started
// where no one can see a window, the wizard runs as /S would.
TEST_F(UnattendedE2E, NothingWaitsWhereNobodyCanAnswer) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    const struct {
        const char* name;
        const wchar_t* switches;
        bool noDesktop;
        DWORD exitCode;
        const wchar_t* logged;
    } cases[] = {
        {"en dash", L"\u2013S", false, WIZ_EXIT_BAD_SWITCH, L"unknown switch: \u2013S"},
        {"full-width slash", L"\uFF0FS", false, WIZ_EXIT_BAD_SWITCH, L"unknown switch: \uFF0FS"},
        {"backslash", L"\\S", false, WIZ_EXIT_BAD_SWITCH, L"unknown switch: \\S"},
        {"log folder's quote swallows /S", L"\"/LOG=C:\\Logs\\\" /S", false, WIZ_EXIT_BAD_SWITCH,
         L"unknown switch: /LOG=C:\\Logs\" /S"},
        {"stray word", L"/S install", false, WIZ_EXIT_BAD_SWITCH, L"unknown switch: install"},
        {"usage with no one to see it", L"/?", true, WIZ_EXIT_SUCCESS, L"/UNINSTALL"},
        {"no switch with no one to see it", L"", true, WIZ_EXIT_SUCCESS, L"done and registered: abc.dic"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.noDesktop) SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, L"1");
        const Outcome outcome = Run(c.switches);
        SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, nullptr);
        ExpectSilentEnd(outcome, c.exitCode);
        ExpectLogHas(outcome, c.logged);
        if (c.noDesktop) ExpectLogHas(outcome, L"no one can see a window here (" WIZ_ENV_ASSUME_NO_DESKTOP L"=1)");
        std::cout << "[ figure ] " << c.name << ": ended after " << outcome.tookMs << " ms\n";
    }
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
}

// Each run appends behind a header of its own; a relative path is the current directory's
// (the wizard's folder, as the driver starts it) and the log names it in full; /LOG alone writes into the wizard's own folder under
// %ProgramData%; the last lines say per entry what happened, in key=value form.
TEST_F(UnattendedE2E, LogIsAppendedAndReadableByScripts) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    logPath = machine->wizardDir + L"\\run.log";
    const Outcome first = RunAsIs(L"/S /LOG=run.log");
    const Outcome second = RunAsIs(L"/S /LOG=run.log");
    ExpectSilentEnd(first, 0u);
    ExpectSilentEnd(second, 0u);
    const std::string log = second.log;
    const size_t header = log.find(test::Utf8(LOG_RUN_HEADER));
    ASSERT_NE(header, std::string::npos) << log;
    EXPECT_NE(log.find(test::Utf8(LOG_RUN_HEADER), header + 1), std::string::npos) << "the first run was erased:\n" << log;
    ExpectLogHas(second, L"log: " + logPath);
    ExpectLogHas(first, L"entry id=abc file=abc.dic action=install outcome=done error=0\r\n");
    ExpectLogHas(second, L"entry id=abc file=abc.dic action=skip outcome=up-to-date error=0\r\n");

    wchar_t common[MAX_PATH];
    ASSERT_NE(GetEnvironmentVariableW(L"ProgramData", common, MAX_PATH), 0u);
    const std::wstring folder = std::wstring(common) + L"\\Quillbox\\Logs";
    ExpectSilentEnd(RunAsIs(L"/S /LOG"), 0u);
    WIN32_FIND_DATAW found;
    qb::ScopedFindHandle logs(FindFirstFileW((folder + L"\\Quillbox-*.log").c_str(), &found));
    EXPECT_TRUE(logs.valid()) << "no log in " << test::Utf8(folder);
}

// A log that cannot be opened, or only through a link planted at its name or on its way,
// ends a silent run with 1622 before anything changes; nothing is written through the link.
TEST_F(UnattendedE2E, LogThatCannotBeOpenedSafelyEndsBeforeAnyChange) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    const std::wstring victim = dir.path() + L"\\victim.txt";
    const std::wstring realDir = dir.path() + L"\\real";
    ASSERT_TRUE(test::WriteFileBytes(victim, "not a log"));
    ASSERT_TRUE(CreateDirectoryW(realDir.c_str(), nullptr));
    const std::wstring fileLink = dir.path() + L"\\linked.log";
    const std::wstring dirLink = dir.path() + L"\\linkdir";
    ASSERT_EQ(faults::RunShell("ln -s '" + faults::UnixPath(victim) + "' '" + faults::UnixPath(dir.path()) +
                                   "/linked.log' && ln -s '" + faults::UnixPath(realDir) + "' '" +
                                   faults::UnixPath(dir.path()) + "/linkdir'",
                               dir.path() + L"\\shell"),
              0);
    const struct {
        const char* name;
        std::wstring arguments;
    } cases[] = {
        {"missing folder", L"/S \"/LOG=" + dir.path() + L"\\no such folder\\x.log\""},
        {"a folder as the log", L"/S \"/LOG=" + dir.path() + L"\\\\\""},
        {"a link at its name", L"/S \"/LOG=" + fileLink + L"\""},
        {"a link on its way", L"/S \"/LOG=" + dirLink + L"\\x.log\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunAsIs(c.arguments);
        EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(WIZ_EXIT_LOG_FAILED));
        EXPECT_EQ(outcome.visibleLooks, 0);
    }
    EXPECT_EQ(test::ReadFileBytes(victim), "not a log");
    EXPECT_FALSE(test::FileExists(realDir + L"\\x.log"));
    EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
}

// Results that tell the truth: without the version library a silent run cannot tell an older
// package from a newer dictionary and changes nothing; a dictionary this setup folder carries
// that recovery cannot settle fails the run.
TEST_F(UnattendedE2E, SilentRunsEndInFailureWhereTheyCannotKnow) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    machine->AddInstalled(L"abc.dic", "newer", 2025);
    ASSERT_TRUE(DeleteFileW((machine->wizardDir + L"\\dict_ver.dll").c_str()));
    const Outcome noLibrary = Run(L"/S");
    ExpectSilentEnd(noLibrary, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    ExpectLogHas(noLibrary, L"dict_ver.dll cannot be loaded");
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), "newer");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"");
    ASSERT_TRUE(CopyFileW((BinDir() + L"dict_ver.dll").c_str(), (machine->wizardDir + L"\\dict_ver.dll").c_str(), FALSE));

    // An upgrade cut off while rewriting a target that is read-only now: its backup cannot
    // take its place. The backup's date is later than the package's, so nothing else fails.
    machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, "complete previous", 2025);
    ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dic" NEW_FILE_SUFFIX), "part"));
    ASSERT_TRUE(SetFileAttributesW(Installed(L"abc.dic").c_str(), FILE_ATTRIBUTE_READONLY));
    const Outcome unsettled = Run(L"/S");
    SetFileAttributesW(Installed(L"abc.dic").c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectSilentEnd(unsettled, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    ExpectLogHas(unsettled, L"recovery settled 0 ");
    ExpectLogHas(unsettled, L"failed: recovery could not settle " + Installed(L"abc.dic"));
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic" BACKUP_SUFFIX)), "complete previous");
}

// A dictionary that could not be registered is not enabled either: enabling never makes a
// section, so the host's file never holds a section without its id.
TEST_F(UnattendedE2E, EnablingNeverMakesASection) {
    machine->Register();
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(ABC), Xyz(XYZ)}));
    machine->AddInstalled(L"xyz.dic", "old", 2001);
    qb::ScopedHandle held(CreateFileW(Installed(L"xyz.dic").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    const Outcome outcome = Run(L"/S");
    held.reset();
    ExpectSilentEnd(outcome, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
    ExpectLogHas(outcome, L"entry id=xyz file=xyz.dic action=upgrade outcome=failed error=32 reason=held\r\n");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"enable"), L"1");
    EXPECT_EQ(test::ReadFileBytes(machine->hostConfig).find("[xyz]"), std::string::npos);
    EXPECT_EQ(ReadUtf16File(machine->hostConfig).find(L"[xyz]"), std::wstring::npos);
}

// Every log in the dated-log folder under %ProgramData%, one after another.
std::string DatedLogs() {
    wchar_t common[MAX_PATH];
    if (GetEnvironmentVariableW(L"ProgramData", common, MAX_PATH) == 0) return "";
    const std::wstring folder = std::wstring(common) + L"\\Quillbox\\Logs\\";
    std::string all;
    WIN32_FIND_DATAW found;
    qb::ScopedFindHandle logs(FindFirstFileW((folder + L"Quillbox-*.log").c_str(), &found));
    if (!logs) return all;
    do all += test::ReadFileBytes(folder + found.cFileName);
    while (FindNextFileW(logs.get(), &found));
    return all;
}

void WriteRegistryValues(const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    Machine::Unregister();
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    qb::ScopedRegKey key(raw);
    for (const auto& value : values)
        RegSetValueExW(key.get(), value.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.second.c_str()),
                       static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t)));
}

// What an administrator meets when the host or the wizard's surroundings are not as they
// should be: each run ends with its code, and its log names the step, the key, value, file
// or folder, and why; a failed entry's key=value line carries its short reason. Where nothing
// was installed, the host's service keeps running and nothing is enabled.
TEST_F(UnattendedE2E, EachFailureNamesItsCause) {
    const std::wstring ansiHolds = L"ABC英汉词典";
    const struct {
        const char* name;
        std::function<void(Machine&)> breakIt;
        DWORD exitCode;
        std::function<std::vector<std::wstring>(const Machine&)> logged;
        bool serviceKeepsRunning;
    } cases[] = {
        {"ANSI host file and Chinese texts",
         [](Machine& m) { test::WriteFileBytes(m.hostConfig, "[other]\r\nid=other\r\n"); },
         WIZ_EXIT_INSTALL_FAILED,
         [](const Machine& m) {
             return std::vector<std::wstring>{
                 L"failed: abc.dic (ABC英汉词典): registration: the host's file " + m.hostConfig +
                     L" is kept in code page " + std::to_wstring(GetACP()) +
                     L", which cannot hold this dictionary's texts: save it as UTF-16",
                 L"entry id=abc file=abc.dic action=install outcome=failed error=1113 reason=registration-code-page\r\n",
                 L"no dictionary was installed and registered: the host's service was not stopped"};
         },
         true},
        {"localquerydictcfg.ini missing", [](Machine& m) { DeleteFileW(m.hostConfig.c_str()); },
         WIZ_EXIT_INSTALL_FAILED,
         [](const Machine& m) {
             return std::vector<std::wstring>{
                 L"the host's configuration file " + m.hostConfig + L" is missing: no dictionary can be registered",
                 L"failed: abc.dic (ABC英汉词典): registration: the host's file " + m.hostConfig + L" is missing (error 2",
                 L"outcome=failed error=2 reason=registration-file-missing\r\n"};
         },
         true},
        {"dictdata missing", [](Machine& m) { test::RemoveTree(m.dictData); }, WIZ_EXIT_INSTALL_FAILED,
         [](const Machine& m) {
             return std::vector<std::wstring>{
                 L"the host's dictionary folder " + m.dictData + L" is missing: no dictionary can be put in place",
                 L"failed: abc.dic (ABC英汉词典): the host's dictionary folder " + m.dictData + L" is missing (error 3",
                 L"outcome=failed error=3 reason=dictionary-folder-missing\r\n",
                 L"no dictionary was installed and registered: the host's service was not stopped"};
         },
         true},
        {"Location missing", [](Machine&) { WriteRegistryValues({{HOST_VALUE_EXECUTABLE, L"Lexora.exe"}}); },
         WIZ_EXIT_INSTALL_FAILED,
         [](const Machine&) {
             return std::vector<std::wstring>{L"host not found: HKLM\\",
                                              L" has no value Location (its values: ExcutableName)\r\n"};
         },
         false},
        {"ExecutableName for ExcutableName",
         [](Machine& m) { WriteRegistryValues({{HOST_VALUE_LOCATION, m.hostDir}, {L"ExecutableName", L"Lexora.exe"}}); },
         WIZ_EXIT_INSTALL_FAILED,
         [](const Machine&) {
             return std::vector<std::wstring>{
                 L" has no value ExcutableName (its values: ExecutableName, Location)\r\n"};
         },
         false},
        {"Lexora.exe missing", [](Machine& m) { DeleteFileW(m.hostExe.c_str()); }, WIZ_EXIT_INSTALL_FAILED,
         [](const Machine& m) {
             return std::vector<std::wstring>{L"host not found: the host's executable " + m.hostExe +
                                              L" (Location and ExcutableName under HKLM\\"};
         },
         false},
        {"plugin\\image missing", [](Machine& m) { test::RemoveTree(m.hostImages); }, 0,
         [](const Machine& m) {
             return std::vector<std::wstring>{
                 L"the host's picture folder " + m.hostImages + L" is missing: no picture can be copied",
                 L"picture of abc.dic (ABC英汉词典) not copied: " + m.wizardDir + L"\\dict_image\\abc.bmp to " +
                     m.hostImages + L"\\abc.bmp (the dictionary itself is installed) (error 3",
                 L"entry id=abc file=abc.dic action=install outcome=done error=0\r\n"};
         },
         false},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine = std::make_unique<Machine>(dir.path() + L"\\case" + std::to_wstring(++row));
        ASSERT_TRUE(machine->Create(BinDir()));
        machine->WriteDictConfig(DICT_CONFIG);
        machine->WriteHostConfig(OTHER_SECTIONS);
        machine->Register();
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
        machine->AddPicture(L"abc", "BMabc");
        c.breakIt(*machine);
        if (std::string(c.name).find("Chinese") != std::string::npos && TextFitsCodePage(ansiHolds, GetACP())) {
            std::cout << "[ skipped ] " << c.name << ": the system's code page holds Chinese\n";
            continue;
        }
        Wizard service(machine->serviceExe);
        ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));
        const Outcome outcome = Run(L"/S");
        ExpectSilentEnd(outcome, c.exitCode);
        for (const std::wstring& line : c.logged(*machine)) ExpectLogHas(outcome, line);
        if (c.serviceKeepsRunning) {
            DWORD id = 0;
            EXPECT_TRUE(FindProcessByName(DICT_SERVICE_NAME, id)) << "the service was stopped for nothing";
            EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"enable"), L"");
            EXPECT_EQ(outcome.log.find("service stopped"), std::string::npos) << outcome.log;
        }
        KillProcessByName(DICT_SERVICE_NAME);
    }

    // A log asked for in a folder that does not exist: nothing changes, the run ends 1622, and
    // the dated log under %ProgramData% says why.
    SCOPED_TRACE("/LOG into a missing folder");
    const std::wstring missing = dir.path() + L"\\Logs";
    const Outcome noFolder = RunAsIs(L"/S \"/LOG=" + missing + L"\\x.log\"");
    EXPECT_EQ(noFolder.exitCode, static_cast<DWORD>(WIZ_EXIT_LOG_FAILED));
    EXPECT_NE(DatedLogs().find(test::Utf8(L"the log asked for cannot be opened, nothing was changed: " + missing +
                                         L"\\x.log: its folder " + missing + L" does not exist (/LOG makes no folder)")),
              std::string::npos);
    EXPECT_FALSE(test::FileExists(missing));
}

// A picture that could not be copied with its dictionary (the host's picture folder was
// missing) arrives with a later run, once the folder is there, though the dictionary is up to
// date, and the removal record names it, so that the removal of installed apps takes it; a
// dictionary the setup folder has no picture for says so; the host's own picture stays.
TEST_F(UnattendedE2E, MissingPictureIsPutBackByALaterRun) {
    RemoveInstalledApps();
    machine->Register();
    machine->AddPackage(L"pictures.dir", MakePackage({Abc(ABC), Xyz(XYZ)}));
    machine->AddPicture(L"abc", "BMabc");
    test::RemoveTree(machine->hostImages);
    const std::wstring picture = machine->hostImages + L"\\abc.bmp";

    const Outcome first = Run(L"/S");
    ExpectSilentEnd(first, 0u);
    ExpectLogHas(first, L"picture of abc.dic (ABC英汉词典) not copied: ");
    ExpectLogHas(first, L"no picture of xyz.dic (XYZ汉英词典) in the setup folder: " + machine->wizardDir +
                            L"\\dict_image\\xyz.bmp");
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);

    ASSERT_TRUE(test::MakeDirs(machine->hostImages));
    const Outcome second = Run(L"/S");
    ExpectSilentEnd(second, 0u);
    ExpectLogHas(second, L"nothing to install");
    ExpectLogHas(second, L"picture of abc.dic (ABC英汉词典) was missing, put back: " + picture);
    EXPECT_EQ(test::ReadFileBytes(picture), "BMabc");
    EXPECT_FALSE(test::FileExists(machine->hostImages + L"\\xyz.bmp"));

    const std::vector<std::wstring> entries = UninstallEntries();
    ASSERT_EQ(entries.size(), 1u);
    std::wstring exe, arguments;
    ASSERT_TRUE(SplitCommand(EntryValue(entries[0], L"QuietUninstallString"), exe, arguments));
    Wizard removal(exe, arguments);
    EXPECT_EQ(removal.WaitForExit(), 0u);
    EXPECT_FALSE(test::FileExists(Installed(L"abc.dic")));
    EXPECT_FALSE(test::FileExists(picture)) << "the picture put back was left by the removal";

    // A picture in place is never copied again, nor replaced.
    ASSERT_EQ(Run(L"/S").exitCode, 0u);
    ASSERT_TRUE(test::WriteFileBytes(picture, "BM the host's own"));
    const Outcome third = Run(L"/S");
    ExpectSilentEnd(third, 0u);
    EXPECT_EQ(third.log.find("put back"), std::string::npos) << third.log;
    EXPECT_EQ(test::ReadFileBytes(picture), "BM the host's own");
    RemoveInstalledApps();
}


// The seconds of the log's line "waited N.N s for WHAT (OUTCOME)", or -1 without one.
double WaitedSeconds(const std::string& log, const std::wstring& whatAndOutcome) {
    const std::string tail = " s for " + test::Utf8(whatAndOutcome) + "\r\n";
    const size_t at = log.find(tail);
    if (at == std::string::npos) return -1;
    const size_t lead = log.rfind("waited ", at);
    if (lead == std::string::npos || log.find('\n', lead) < at) return -1;
    return std::atof(log.c_str() + lead + 7);
}

// Every wait on something outside the wizard has its bound, and the log says what it waited
// for, how long and how the wait ended: the service stopped by the repair tool, the host's
// tray window after the host was started, the host's file held without sharing (tried again
// for a while, then the registration fails).
TEST_F(UnattendedE2E, LogSaysWhatEachWaitWaitedForAndHowLong) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    const struct {
        const char* name;
        const wchar_t* switches;
        bool service;         // lxdsvc.exe runs and is stopped before enabling
        bool holdHostConfig;  // another program holds localquerydictcfg.ini without sharing
        DWORD exitCode;
        std::wstring waitedFor;
        double atLeast, below;  // seconds
    } cases[] = {
        {"service", L"/S", true, false, 0, DICT_SERVICE_NAME L" to end (ended)", 0.0, 10.0},
        {"tray window", L"/S /LAUNCH", false, false, 0, L"the host's tray window LXTray (came)", 0.0, 10.0},
        {"held host file", L"/S", false, true, static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED),
         machine->hostConfig + L" to be let go (still held)", 1.5, 10.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(Installed(L"abc.dic").c_str());
        DeleteFileW(Installed(L"abc.dic" UNREGISTERED_SUFFIX).c_str());
        std::unique_ptr<Wizard> service;
        if (c.service) {
            service = std::make_unique<Wizard>(machine->serviceExe);
            ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));
        }
        qb::ScopedHandle held;
        if (c.holdHostConfig) {
            held.reset(CreateFileW(machine->hostConfig.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.valid());
        }
        const Outcome outcome = Run(c.switches);
        held.reset();
        KillProcessByName(L"Lexora.exe");
        ExpectSilentEnd(outcome, c.exitCode);
        const double waited = WaitedSeconds(outcome.log, c.waitedFor);
        EXPECT_GE(waited, c.atLeast) << "no line \"waited N s for " << test::Utf8(c.waitedFor) << "\" in\n"
                                     << outcome.log;
        EXPECT_LT(waited, c.below);
    }
}

}  // namespace
