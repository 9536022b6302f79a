// Real faults met by the real Quillbox.exe: a full disk, a file another program holds, a
// service that will not stop, read-only files and folders, a package changed behind the
// wizard's back, the wizard killed in the middle of an upgrade. Each case checks what the
// user sees, then that the dictionary data folder holds exactly the dictionaries it should,
// byte for byte, with no partial file and no backup left over.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "install/ReplaceTarget.h"
#include "standins/lxdsvc/ServiceStop.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/faults/UnixMount.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

#define FAULT_HOLDER_EXE L"fault_file_holder.exe"
#define FAULT_HOLDER_READY_EVENT L"QuillboxFaultHolderReady"
#define INSTALL_WAIT_MS 600000

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

std::wstring BinDir() { return FullPath(test::ExeDir() + L"..\\..\\bin\\"); }

std::wstring Format(const wchar_t* format, const wchar_t* name) {
    std::wstring text = format;
    text.replace(text.find(L"%s"), 2, name);
    return text;
}

const wchar_t ABC_NAME[] = L"ABC英汉词典";
const wchar_t XYZ_NAME[] = L"XYZ汉英词典";
const wchar_t QRS_NAME[] = L"QRS词典";

PackageEntry Abc(const std::string& data) { return {L"abc", L".dic", L"2024-05-01", ABC_NAME, data}; }
PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", XYZ_NAME, data}; }
PackageEntry Qrs(const std::string& data) { return {L"qrs", L".dic", L"2024-05-01", QRS_NAME, data}; }

std::wstring UpgradeFailed(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_FAILED_FORMAT, name); }
std::wstring UpgradeBegins(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_BEGIN_FORMAT, name); }
std::wstring Upgraded(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_DONE_FORMAT, name); }
std::wstring Welcome(const wchar_t* what) { return Format(WIZ_TEXT_WELCOME_FORMAT, what); }

const size_t KB = 1024;
const std::string ABC_OLD = test::PatternBytes(200 * KB, 11);
const std::string XYZ_OLD = test::PatternBytes(100 * KB, 12);

// Another process holding a file open until the object ends.
class FileHolder {
public:
    FileHolder(const std::wstring& path, const wchar_t* share) {
        qb::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, FAULT_HOLDER_READY_EVENT));
        const std::wstring exe = test::ExeDir() + FAULT_HOLDER_EXE;
        std::wstring commandLine = L"\"" + exe + L"\" " + share + L" \"" + path + L"\" " FAULT_HOLDER_READY_EVENT;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return;
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
        HANDLE waits[] = {ready.get(), m_process.get()};
        m_holding = WaitForMultipleObjects(2, waits, FALSE, E2E_GENEROUS_WAIT_MS) == WAIT_OBJECT_0;
    }
    ~FileHolder() {
        if (!m_process) return;
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), E2E_GENEROUS_WAIT_MS);
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool holding() const { return m_holding; }

private:
    qb::ScopedHandle m_process;
    bool m_holding = false;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine = std::make_unique<Machine>(dir.path() + L"\\m");
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n");
        machine->Register();
    }
    void TearDown() override {
        Machine::Unregister();
        KillProcessByName(L"Lexora.exe");
        KillProcessByName(DICT_SERVICE_NAME);
    }

    // The dictionary data folder on a tmpfs of the given size; false (and the test skipped
    // by the caller) when this machine cannot mount one.
    bool MountDataDir(unsigned sizeKb) {
        mount = std::make_unique<faults::TmpfsMount>(machine->dictData, sizeKb, dir.path());
        return mount->mounted();
    }

    static bool OnFinishedPage(HWND dlg) {
        return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH) && ControlText(dlg, IDC_BTN_MAINDLG_CANCEL) == WIZ_TEXT_FINISH;
    }

    // The welcome page's text, or the first page's text when it is another.
    static std::wstring FirstPageText(HWND dlg) { return ControlText(dlg, IDC_STC_MAINDLG_TIPINFO); }

    // Next on the welcome page, then the lines of the finished page (one entry's result shows
    // in the message line instead of the list); the wizard is left without the host start.
    static std::vector<std::wstring> InstallToTheEnd(Wizard& wizard, HWND dlg) {
        if (!Visible(dlg, IDC_BTN_MAINDLG_NEXT)) {
            ADD_FAILURE() << "no welcome page: " << test::Utf8(FirstPageText(dlg));
            return {};
        }
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        EXPECT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }, INSTALL_WAIT_MS));
        return LeaveFinishedPage(wizard, dlg);
    }

    static std::vector<std::wstring> LeaveFinishedPage(Wizard& wizard, HWND dlg) {
        std::vector<std::wstring> lines = Visible(dlg, IDC_LST_MAINDLG_INFO)
                                              ? ListLines(dlg, IDC_LST_MAINDLG_INFO)
                                              : std::vector<std::wstring>{ControlText(dlg, IDC_STC_MAINDLG_TIPINFO)};
        SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, false);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        return lines;
    }

    // The data folder holds exactly these files with exactly these bytes: nothing lost,
    // nothing partial, no backup.
    void ExpectDataDir(const std::map<std::wstring, std::string>& expected) const {
        std::map<std::wstring, DWORD> found;  // sizes stay far below 4 GB here
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((machine->dictData + L"\\*").c_str(), &data));
        if (find) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    found[data.cFileName] = data.nFileSizeLow;
            } while (FindNextFileW(find.get(), &data));
        }
        for (const auto& file : found)
            EXPECT_EQ(expected.count(file.first), 1u) << "left in the data folder: " << test::Utf8(file.first)
                                                      << " (" << file.second << " bytes)";
        for (const auto& file : expected) {
            SCOPED_TRACE(test::Utf8(file.first));
            EXPECT_EQ(found.count(file.first), 1u) << "missing";
            const std::string bytes = test::ReadFileBytes(machine->dictData + L"\\" + file.first);
            EXPECT_EQ(bytes.size(), file.second.size());
            EXPECT_TRUE(bytes == file.second) << "content differs";
        }
    }

    std::wstring Installed(const wchar_t* name) const { return machine->dictData + L"\\" + name; }

    test::TempDir dir{L"faults"};
    std::unique_ptr<Machine> machine;
    std::unique_ptr<faults::TmpfsMount> mount;  // ends before the folders are removed
};

// The disk fills while the entries are written: a failed upgrade brings the previous file
// back, a failed install leaves nothing, and an entry that still fits is installed.
TEST_F(FaultTest, DiskFullMidUpgradeKeepsEveryPreviousDictionary) {
    if (!MountDataDir(1024)) GTEST_SKIP() << "mounting a size-limited tmpfs needs root";
    machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
    machine->AddInstalled(L"xyz.dic", XYZ_OLD, 2001);
    const std::string xyzNew = test::PatternBytes(60 * KB, 3);
    machine->AddPackage(L"dicts.dir",
                        MakePackage({Abc(test::PatternBytes(2048 * KB, 1)), Qrs(test::PatternBytes(2048 * KB, 2)),
                                     Xyz(xyzNew)}));

    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    const std::vector<std::wstring> expected = {
        UpgradeBegins(ABC_NAME), UpgradeFailed(ABC_NAME),
        Format(WIZ_TEXT_INSTALL_BEGIN_FORMAT, QRS_NAME), Format(WIZ_TEXT_INSTALL_FAILED_FORMAT, QRS_NAME),
        UpgradeBegins(XYZ_NAME), Upgraded(XYZ_NAME)};
    EXPECT_EQ(InstallToTheEnd(wizard, dlg), expected);
    ExpectDataDir({{L"abc.dic", ABC_OLD}, {L"xyz.dic", xyzNew}});
}

// Another program keeps the target open, sharing reading and writing but not deletion: the
// rename to the backup name is refused, so the new data would go over the file in place.
// On a disk too full for the new data the previous file must survive, whether or not a
// copy of it still fits.
TEST_F(FaultTest, FullDiskAndATargetThatCannotBeMovedAside) {
    struct Case {
        const char* name;
        size_t previousKb;
    } cases[] = {{"a copy of the previous file fits", 300}, {"no copy fits", 600}};
    if (!MountDataDir(1024)) GTEST_SKIP() << "mounting a size-limited tmpfs needs root";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string previous = test::PatternBytes(c.previousKb * KB, 21);
        machine->AddInstalled(L"abc.dic", previous, 2001);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(test::PatternBytes(2048 * KB, 22))}));
        {
            FileHolder holder(Installed(L"abc.dic"), L"rw");
            ASSERT_TRUE(holder.holding());
            Wizard wizard(machine->wizardExe);
            HWND dlg = wizard.WaitForDialog();
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{UpgradeFailed(ABC_NAME)});
        }
        ExpectDataDir({{L"abc.dic", previous}});
        DeleteFileW(Installed(L"abc.dic").c_str());
    }
}

// The target is held with no sharing at all while the host's service runs. The wizard asks
// the repair tool to stop the service (or, without a tool or when the tool does not end it,
// ends the service itself), tries once more, and fails the entry: the file stays as it was.
TEST_F(FaultTest, HeldTargetWithTheServiceStoppedEveryWay) {
    struct Case {
        const char* name;
        bool tool, refuse;
        DWORD serviceExit;
        const char* toolCalls;
    } cases[] = {
        {"repair tool missing", false, false, TERMINATED_EXIT_CODE, ""},
        {"repair tool does not end the service", true, true, TERMINATED_EXIT_CODE, "-S\r\n"},
        {"repair tool ends the service", true, false, 0, "-S\r\n"},
    };
    const std::wstring tool = machine->hostDir + L"\\" REPAIR_TOOL_NAME;
    const std::wstring toolCalls = machine->hostDir + L"\\" STANDIN_REPAIR_CALLS_FILE;
    const std::wstring refuse = machine->hostDir + L"\\" STANDIN_REPAIR_REFUSE_FILE;
    const std::wstring toolCopy = dir.path() + L"\\" REPAIR_TOOL_NAME;
    ASSERT_TRUE(CopyFileW(tool.c_str(), toolCopy.c_str(), FALSE));
    machine->AddPackage(L"abc.dir", MakePackage({Abc(test::PatternBytes(50 * KB, 31))}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        DeleteFileW(toolCalls.c_str());
        if (c.tool) {
            ASSERT_TRUE(CopyFileW(toolCopy.c_str(), tool.c_str(), FALSE));
        } else {
            DeleteFileW(tool.c_str());
        }
        if (c.refuse) {
            test::WriteFileBytes(refuse, "");
        } else {
            DeleteFileW(refuse.c_str());
        }
        Wizard service(machine->serviceExe);
        ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));
        {
            FileHolder holder(Installed(L"abc.dic"), L"none");
            ASSERT_TRUE(holder.holding());
            Wizard wizard(machine->wizardExe);
            HWND dlg = wizard.WaitForDialog();
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{UpgradeFailed(ABC_NAME)});
        }
        EXPECT_EQ(service.WaitForExit(), c.serviceExit);
        EXPECT_EQ(test::ReadFileBytes(toolCalls), c.toolCalls);
        ExpectDataDir({{L"abc.dic", ABC_OLD}});
    }
}

// A read-only dictionary file, and the read-only attribute on the data folder: the file is
// renamed to its backup once the bit is cleared, and the new file has default attributes.
// (As root Wine would write a read-only file anyway; the rule shows on the attribute.)
TEST_F(FaultTest, ReadOnlyAttributesDoNotStopTheUpgrade) {
    for (const bool onFolder : {false, true}) {
        SCOPED_TRACE(onFolder ? "read-only folder" : "read-only file");
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        SetFileAttributesW(Installed(L"abc.dic").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        if (onFolder) SetFileAttributesW(machine->dictData.c_str(), FILE_ATTRIBUTE_READONLY);
        const std::string abcNew = test::PatternBytes(5000, 41);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(abcNew)}));

        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
        EXPECT_EQ(GetFileAttributesW(Installed(L"abc.dic").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        SetFileAttributesW(machine->dictData.c_str(), FILE_ATTRIBUTE_DIRECTORY);
        ExpectDataDir({{L"abc.dic", abcNew}});
        SetFileAttributesW(Installed(L"abc.dic").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Installed(L"abc.dic").c_str());
    }
}

// A data folder that truly cannot be written (a read-only mount): both entries fail and the
// folder is as it was.
TEST_F(FaultTest, ReadOnlyDataFolderChangesNothing) {
    if (!MountDataDir(4096)) GTEST_SKIP() << "mounting a tmpfs needs root";
    machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
    ASSERT_TRUE(mount->MakeReadOnly());
    machine->AddPackage(L"dicts.dir", MakePackage({Abc("new abc"), Xyz("new xyz")}));

    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    const std::vector<std::wstring> expected = {
        UpgradeBegins(ABC_NAME), UpgradeFailed(ABC_NAME),
        Format(WIZ_TEXT_INSTALL_BEGIN_FORMAT, XYZ_NAME), Format(WIZ_TEXT_INSTALL_FAILED_FORMAT, XYZ_NAME)};
    EXPECT_EQ(InstallToTheEnd(wizard, dlg), expected);
    ExpectDataDir({{L"abc.dic", ABC_OLD}});
}

// The package is changed while the welcome page shows, after the plan was made from it.
TEST_F(FaultTest, PackageChangedAfterThePlan) {
    const std::string planned = MakePackage({Abc(test::PatternBytes(20 * KB, 51))});
    const std::string sameDictionary = MakePackage({Abc(test::PatternBytes(30 * KB, 52))});
    struct Case {
        const char* name;
        std::string replacement;
        bool packageBad;
        std::wstring line;
        std::string abcAfter;
    } cases[] = {
        {"entry data cut short", planned.substr(0, planned.size() - 5000), false, UpgradeFailed(ABC_NAME), ABC_OLD},
        {"directory cut short", planned.substr(0, 100), true, L"", ABC_OLD},
        {"another dictionary at the planned index", MakePackage({Xyz(test::PatternBytes(20 * KB, 53))}), false,
         UpgradeFailed(ABC_NAME), ABC_OLD},
        {"a new build of the same dictionary", sameDictionary, false, Upgraded(ABC_NAME),
         sameDictionary.substr(sameDictionary.size() - 30 * KB)},
    };
    const std::wstring package = machine->wizardDir + L"\\abc.dir";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        machine->AddPackage(L"abc.dir", planned);
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
        ASSERT_TRUE(test::WriteFileBytes(package, c.replacement));
        if (c.packageBad) {
            Click(dlg, IDC_BTN_MAINDLG_NEXT);
            HWND box = WaitForMessageBox(wizard.processId(), L"解压缩失败");
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(Text(box), WIZ_TEXT_ERROR_CAPTION);
            CloseMessageBox(box);
            ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));
            LeaveFinishedPage(wizard, dlg);
        } else {
            EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{c.line});
        }
        ExpectDataDir({{L"abc.dic", c.abcAfter}});
    }
}

// A package whose entry name differs from an installed file only by a dot or space at its
// end: Windows opens the installed file under that name, so the entry would overwrite it
// as a "new" file, without a backup or a date check, and a failure would delete it. Such a
// package counts as damaged: the plan fails and nothing is touched.
TEST_F(FaultTest, EntryNamedLikeAnInstalledFileButForItsEndIsRefused) {
    machine->AddInstalled(L"abc.dic", ABC_OLD, 2030);
    for (const wchar_t* ext : {L".dic.", L".dic ", L".dic. ."}) {
        SCOPED_TRACE(test::Utf8(ext));
        PackageEntry entry = Abc(test::PatternBytes(20 * KB, 81));
        entry.fileExt = ext;
        const std::string package = MakePackage({entry});
        machine->AddPackage(L"abc.dir", package.substr(0, package.size() - 100));
        Wizard wizard(machine->wizardExe);
        HWND box = WaitForMessageBox(wizard.processId(), WIZ_TEXT_PLAN_FAILED);
        ASSERT_NE(box, nullptr);
        CloseMessageBox(box);
        EXPECT_EQ(wizard.WaitForExit(), 2u);
        ExpectDataDir({{L"abc.dic", ABC_OLD}});
    }
}

// The moment an upgrade can be cut off (the wizard killed, the power gone), laid out as the
// wizard leaves it: the previous file under its backup name, with or without the first part
// of the new file at the target. The next run must offer the upgrade again, not call the
// cut-off file newer, and end with the complete new file.
TEST_F(FaultTest, NextRunFinishesAnUpgradeThatWasCutOff) {
    const std::string abcNew = test::PatternBytes(40 * KB, 61);
    struct Case {
        const char* name;
        bool partialTarget;
    } cases[] = {{"killed before the first write", false}, {"killed while writing", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(abcNew)}));
        machine->AddInstalled(L"abc.dic._gin_hh_", ABC_OLD, 2001);
        if (c.partialTarget) machine->AddInstalled(L"abc.dic", abcNew.substr(0, 8 * KB), 2030);

        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
        ExpectDataDir({{L"abc.dic", abcNew}});
        DeleteFileW(Installed(L"abc.dic").c_str());
    }
    // Leaving at the welcome page still gives the previous file back when only the backup
    // was left: the backup goes back as soon as the wizard looks.
    machine->AddInstalled(L"abc.dic._gin_hh_", ABC_OLD, 2001);
    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);
    ExpectDataDir({{L"abc.dic", ABC_OLD}});
}

// The real thing: the wizard killed in the middle of a large upgrade, then started again.
TEST_F(FaultTest, WizardKilledMidUpgradeThenRunAgain) {
    const std::string abcNew = test::PatternBytes(12 * 1024 * KB, 71);
    machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
    machine->AddPackage(L"abc.dir", MakePackage({Abc(abcNew)}));
    const std::wstring target = Installed(L"abc.dic");
    auto targetSize = [&]() -> uint64_t {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) return 0;
        return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    };
    {
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        // Some of the new file is on the disk, with the previous one under the backup name.
        ASSERT_TRUE(WaitUntil(
            [&] { return (test::FileExists(BackupPathOf(target)) && targetSize() > 0) || OnFinishedPage(dlg); },
            INSTALL_WAIT_MS));
        ASSERT_TRUE(wizard.Terminate());
    }
    if (targetSize() == abcNew.size()) GTEST_SKIP() << "the upgrade completed before the wizard could be killed";
    EXPECT_TRUE(test::ReadFileBytes(BackupPathOf(target)) == ABC_OLD)
        << "the previous file is not under the backup name";
    EXPECT_LT(targetSize(), abcNew.size());

    Wizard again(machine->wizardExe);
    HWND dlg = again.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
    EXPECT_EQ(InstallToTheEnd(again, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
    ExpectDataDir({{L"abc.dic", abcNew}});
}

}  // namespace
