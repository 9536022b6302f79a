// Real faults met by the real Quillbox.exe: a full disk, a file another program holds, a
// service that will not stop, read-only files and folders, a package changed behind the
// wizard's back, the wizard killed in the middle of an upgrade. Each case checks what the
// user sees, then that the dictionary data folder holds exactly the dictionaries it should,
// byte for byte, with no partial file and no backup left over.
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

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

// A virus scanner reads the new file the moment it appears and keeps it open, without delete
// sharing, until a moment after the install wants to give it the dictionary's name: the rename
// is tried again and the dictionary arrives, new or upgraded.
TEST_F(FaultTest, NewFileHeldByAScannerForAMoment) {
    const std::string bytes = test::PatternBytes(512 * KB, 5);
    machine->AddPackage(L"abc.dir", MakePackage({Abc(bytes)}));
    for (const bool upgrade : {false, true}) {
        SCOPED_TRACE(upgrade ? "upgrade" : "new");
        DeleteFileW(Installed(L"abc.dic").c_str());
        if (upgrade) machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        qb::ScopedHandle holding(CreateEventW(nullptr, TRUE, FALSE, FAULT_HOLDER_READY_EVENT));
        const std::wstring target = Installed(L"abc.dic");
        Wizard scanner(test::ExeDir() + FAULT_HOLDER_EXE, L"scan \"" + NewFilePathOf(target) + L"\" " +
                                                           FAULT_HOLDER_READY_EVENT + L" \"" +
                                                           UnregisteredMarkOf(target) + L"\"");
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        const std::vector<std::wstring> lines = InstallToTheEnd(wizard, dlg);
        EXPECT_EQ(WaitForSingleObject(holding.get(), 0), WAIT_OBJECT_0) << "the scanner never held the new file";
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), upgrade ? Upgraded(ABC_NAME) : Format(WIZ_TEXT_INSTALL_DONE_FORMAT, ABC_NAME));
        EXPECT_EQ(scanner.WaitForExit(), 0u);
        ExpectDataDir({{L"abc.dic", bytes}});
    }
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
        // The wizard starts the service it stopped again once it ends without starting the
        // host; the next case starts its own.
        EXPECT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }))
            << "the stopped service was not started again";
        EXPECT_TRUE(KillProcessByName(DICT_SERVICE_NAME));
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
    const std::string newerBuild = MakePackage({Abc(test::PatternBytes(30 * KB, 52))});
    PackageEntry older = Abc(test::PatternBytes(20 * KB, 54));
    older.dateText = L"2023-01-01";
    const std::string olderBuild = MakePackage({older});
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
        // What is installed is what was planned: another build, newer or older, is refused.
        {"another build of the same dictionary", newerBuild, false, UpgradeFailed(ABC_NAME), ABC_OLD},
        {"an older build of the same size", olderBuild, false, UpgradeFailed(ABC_NAME), ABC_OLD},
        {"the same package written again", planned, false, Upgraded(ABC_NAME), planned.substr(planned.size() - 20 * KB)},
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
        ExpectPlanFailsChangingNothing({{L"abc.dic", ABC_OLD}});
    }
}

}  // namespace
}  // namespace faults
