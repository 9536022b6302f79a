// The files a kill can leave beside a dictionary, laid out by hand, and what the next start
// of the real wizard makes of each through its scan and plan: the page it shows, and the
// data folder after the user cancels there. No dictionary is partial afterwards, and an
// interrupted upgrade is dated by its complete previous file.
#include <ostream>

#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

const std::string BEFORE = test::PatternBytes(150 * KB, 91);
const std::string AFTER = test::PatternBytes(170 * KB, 92);
const std::string NEWER = test::PatternBytes(160 * KB, 93);  // a complete file newer than the package
const std::string PARTIAL = AFTER.substr(0, 64 * KB);

struct Leftover {
    const char* name;
    std::string target;  // empty: absent
    WORD targetYear;
    std::string backup, newFile, copy;
    bool mark;            // the empty mark of a registration to come
    const wchar_t* date;  // of the package's entry
    const wchar_t* page;  // the welcome page's summary, or null for the up-to-date page
    std::string after;    // abc.dic after a cancel on that page; empty: absent
    std::string backupAfter = std::string();  // its backup then; empty: none
    bool markAfter = false;
    friend void PrintTo(const Leftover& l, std::ostream* os) { *os << l.name; }
};

// Each row of the state table through the real start: its recovery, its scan and its plan.
class RecoveryTest : public FaultTest, public ::testing::WithParamInterface<Leftover> {};

TEST_P(RecoveryTest, NextStartLeavesEveryDictionaryWhole) {
    const Leftover& l = GetParam();
    const std::wstring target = Installed(L"abc.dic");
    PackageEntry entry = Abc(AFTER);
    entry.dateText = l.date;
    machine->AddPackage(L"abc.dir", MakePackage({entry}));
    if (!l.target.empty()) machine->AddInstalled(L"abc.dic", l.target, l.targetYear);
    if (!l.backup.empty()) machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, l.backup, 2001);
    if (!l.newFile.empty()) test::WriteFileBytes(NewFilePathOf(target), l.newFile);
    if (!l.copy.empty()) test::WriteFileBytes(CopyFilePathOf(target), l.copy);
    if (l.mark) test::WriteFileBytes(UnregisteredMarkOf(target), "");

    EXPECT_EQ(StartAndCancel(), l.page != nullptr ? Welcome(l.page) : std::wstring(WIZ_TEXT_UP_TO_DATE));
    std::map<std::wstring, std::string> expected;
    if (!l.after.empty()) expected[L"abc.dic"] = l.after;
    if (!l.backupAfter.empty()) expected[L"abc.dic" BACKUP_SUFFIX] = l.backupAfter;
    if (l.markAfter) expected[L"abc.dic" UNREGISTERED_SUFFIX] = "";
    ExpectDataDir(expected);
}

const wchar_t UPGRADE[] = L"升级《ABC英汉词典》";
const wchar_t INSTALL[] = L"安装《ABC英汉词典》";
const wchar_t PACKAGE_DATE[] = L"2024-05-01";
const wchar_t OLDER_THAN_BEFORE[] = L"2000-06-01";
const wchar_t BACKUP_DATE[] = L"2001-01-01";  // the date AddInstalled gives the backup

INSTANTIATE_TEST_SUITE_P(
    States, RecoveryTest,
    ::testing::Values(
        Leftover{"new_file_only", "", 0, "", PARTIAL, "", true, PACKAGE_DATE, INSTALL, ""},
        Leftover{"mark_only", "", 0, "", "", "", true, PACKAGE_DATE, INSTALL, ""},
        Leftover{"backup_only", "", 0, BEFORE, "", "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"backup_and_new_file", "", 0, BEFORE, PARTIAL, "", true, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"backup_and_new_file_without_mark", "", 0, BEFORE, PARTIAL, "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"rewritten_in_place", PARTIAL, 2030, BEFORE, AFTER, "", true, PACKAGE_DATE, UPGRADE, BEFORE},
        // Dated by the previous file, not by the cut-off one: an older package is not installed.
        Leftover{"rewritten_in_place_older_package", PARTIAL, 2030, BEFORE, AFTER, "", true, OLDER_THAN_BEFORE,
                 nullptr, BEFORE},
        // The mark without the new file says the target holds the complete new bytes: the
        // backup is stale, never restored over it, and the mark waits for the registration.
        Leftover{"stale_backup_beside_newer_file", NEWER, 2030, BEFORE, "", "", true, PACKAGE_DATE, nullptr, NEWER,
                 "", true},
        Leftover{"stale_backup_beside_older_file", BEFORE, 2001, NEWER, "", "", true, PACKAGE_DATE, UPGRADE, BEFORE,
                 "", true},
        // A target and a backup with none of the engine's evidence (another installer that wrote
        // in place, killed): the target may be partial, so both stay, and the backup dates the
        // dictionary; a package of that date or later offers to put it whole.
        Leftover{"leftover_partial_target_and_backup", PARTIAL, 2030, BEFORE, "", "", false, PACKAGE_DATE, UPGRADE,
                 PARTIAL, BEFORE},
        Leftover{"leftover_and_package_of_the_backups_date", PARTIAL, 2030, BEFORE, "", "", false, BACKUP_DATE,
                 UPGRADE, PARTIAL, BEFORE},
        Leftover{"leftover_and_older_package", PARTIAL, 2030, BEFORE, "", "", false, OLDER_THAN_BEFORE, nullptr,
                 PARTIAL, BEFORE},
        Leftover{"leftover_beside_newer_file", NEWER, 2030, BEFORE, "", "", false, PACKAGE_DATE, UPGRADE, NEWER,
                 BEFORE},
        Leftover{"previous_back_new_file_left", BEFORE, 2001, "", PARTIAL, "", true, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"copy_cut_short", BEFORE, 2001, "", "", BEFORE.substr(0, 10 * KB), false, PACKAGE_DATE, UPGRADE,
                 BEFORE},
        Leftover{"copy_cut_short_beside_leftover_backup", BEFORE, 2001, NEWER, "", BEFORE.substr(0, 10 * KB), false,
                 PACKAGE_DATE, UPGRADE, BEFORE, NEWER}),
    [](const ::testing::TestParamInfo<Leftover>& info) { return std::string(info.param.name); });

// A leftover target with its backup and nothing of the engine's beside them, installed over:
// the package's bytes take the name whole and only then does the backup go; cancelled, both
// stayed (the table above).
TEST_F(FaultTest, LeftoverIsPutWholeByAnInstallOfTheBackupsDateOrLater) {
    PackageEntry entry = Abc(AFTER);
    entry.dateText = BACKUP_DATE;
    machine->AddPackage(L"abc.dir", MakePackage({entry}));
    machine->AddInstalled(L"abc.dic", PARTIAL, 2030);
    machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, BEFORE, 2001);
    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
    ExpectDataDir({{L"abc.dic", AFTER}});
}

// Without the host (here its executable is gone) the wizard only says so: what a kill left
// in the data folder stays for a start that finds the host.
TEST_F(FaultTest, HostNotFoundChangesNothing) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, BEFORE, 2001);
    test::WriteFileBytes(NewFilePathOf(Installed(L"abc.dic")), PARTIAL);
    ASSERT_TRUE(DeleteFileW(machine->hostExe.c_str()));
    EXPECT_EQ(StartAndCancel(), WIZ_TEXT_HOST_NOT_FOUND);
    ExpectDataDir({{L"abc.dic" BACKUP_SUFFIX, BEFORE}, {L"abc.dic" NEW_FILE_SUFFIX, PARTIAL}});
}

// Files beside names a package could never install are not the engine's, whatever they end
// in: a start leaves them exactly as they are.
TEST_F(FaultTest, FilesOutsideTheEntryNameRuleAreLeftAlone) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    const std::map<std::wstring, std::string> files = {
        {L"report" BACKUP_SUFFIX, "a lone report"},
        {L"notes" NEW_FILE_SUFFIX, "notes"},
        {L".." BACKUP_SUFFIX, "dots"},
        {L"a.dic " BACKUP_SUFFIX, "trailing space"},
        {L"x.dic" BACKUP_SUFFIX NEW_FILE_SUFFIX, "two suffixes"},
        // A name a package could install, with its backup and none of the engine's evidence.
        {L"notes.txt", "notes, partly saved"},
        {L"notes.txt" BACKUP_SUFFIX, "notes"},
    };
    for (const auto& file : files) ASSERT_TRUE(test::WriteFileBytes(Installed(file.first.c_str()), file.second));
    StartAndCancel();
    ExpectDataDir(files);
}

// A dictionary cut off while rewritten in place, held by another program during the next
// start with each sharing mode: the start puts the backup back where the holder lets it (in
// one step, or by rewriting the target's bytes), never deletes the target first, and leaves
// the dictionary unsettled where it cannot; once the holder lets go, the dictionary is whole
// at its name after the next start at the latest.
TEST_F(FaultTest, HeldWhileSettledWithEverySharingMode) {
    const std::wstring target = Installed(L"abc.dic");
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    const struct {
        const wchar_t* mode;
        bool settledWhileHeld;
    } holders[] = {{L"none", false}, {L"r", false}, {L"rw", true}, {L"rwd", true}};
    for (const auto& h : holders) {
        SCOPED_TRACE(test::Utf8(h.mode));
        machine->AddInstalled(L"abc.dic", PARTIAL, 2030);
        machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, BEFORE, 2001);
        test::WriteFileBytes(NewFilePathOf(target), AFTER);
        test::WriteFileBytes(UnregisteredMarkOf(target), "");
        {
            FileHolder holder(target, h.mode);
            ASSERT_TRUE(holder.holding());
            EXPECT_EQ(StartAndCancel(), Welcome(UPGRADE));
        }
        if (h.settledWhileHeld) {
            ExpectDataDir({{L"abc.dic", BEFORE}});
            continue;
        }
        EXPECT_TRUE(test::ReadFileBytes(target) == PARTIAL) << "unsettled, and untouched";
        EXPECT_TRUE(test::ReadFileBytes(BackupPathOf(target)) == BEFORE);
        StartAndCancel();
        ExpectDataDir({{L"abc.dic", BEFORE}});
    }
}

// An upgrade of a dictionary another program holds open, with each sharing mode: where the
// holder lets the target be renamed or written, the new build is installed whole; where it
// does not, the entry fails before anything is made, and nothing is left beside the target.
TEST_F(FaultTest, UpgradeOfAHeldDictionaryWithEverySharingMode) {
    const std::wstring target = Installed(L"abc.dic");
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    const struct {
        const wchar_t* mode;
        bool installs;
    } holders[] = {{L"none", false}, {L"r", false}, {L"rw", true}, {L"rwd", true}};
    for (const auto& h : holders) {
        SCOPED_TRACE(test::Utf8(h.mode));
        machine->AddInstalled(L"abc.dic", BEFORE, 2001);
        {
            FileHolder holder(target, h.mode);
            ASSERT_TRUE(holder.holding());
            Wizard wizard(machine->wizardExe);
            HWND dlg = wizard.WaitForDialog();
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(InstallToTheEnd(wizard, dlg),
                      std::vector<std::wstring>{h.installs ? Upgraded(ABC_NAME) : UpgradeFailed(ABC_NAME)});
        }
        ExpectDataDir({{L"abc.dic", h.installs ? AFTER : BEFORE}});
    }
}

// A file rewritten in place when the wizard was killed, held by another program that lets
// others read it but not write or delete it, so that the start cannot put its backup back: it is dated by the backup, its
// upgrade fails without touching it or the backup, and once the program lets go the next
// start puts the previous file back.
TEST_F(FaultTest, UnsettledDictionaryIsNeverReplaced) {
    const std::wstring target = Installed(L"abc.dic");
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    machine->AddInstalled(L"abc.dic", PARTIAL, 2030);
    machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, BEFORE, 2001);
    test::WriteFileBytes(NewFilePathOf(target), AFTER);
    {
        FileHolder holder(target, L"r");
        ASSERT_TRUE(holder.holding());
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{UpgradeFailed(ABC_NAME)});
    }
    EXPECT_TRUE(test::ReadFileBytes(BackupPathOf(target)) == BEFORE);
    EXPECT_TRUE(test::ReadFileBytes(target) == PARTIAL);
    StartAndCancel();
    ExpectDataDir({{L"abc.dic", BEFORE}});
}

// A dictionary the host cannot see is not installed: a run killed after the file took its new
// bytes but before they were registered leaves the mark beside it, and a host's configuration
// can lose the section (rewritten by another installer or the host's repair). Either way the
// next run installs it again from an entry of the same date, and so registers it. With its
// section and no mark the same file is up to date; without a configuration to register into,
// the files alone decide.
TEST_F(FaultTest, DictionaryTheHostCannotSeeIsInstalledAgain) {
    PackageEntry entry = Abc(AFTER);
    entry.dateText = L"2024-01-01";
    machine->AddPackage(L"abc.dir", MakePackage({entry}));
    const struct {
        const char* name;
        bool marked;
        const wchar_t* hostConfig;  // null: no file at all
        bool installsAgain;
    } cases[] = {
        {"registered", false, L"[other]\r\nid=other\r\n[ABC]\r\nid=abc\r\n", false},
        {"marked, section still there", true, L"[other]\r\nid=other\r\n[abc]\r\nid=abc\r\n", true},
        {"section lost", false, L"[other]\r\nid=other\r\n", true},
        {"section without its id, another naming it", false, L"[abc]\r\ndesc_name=old\r\n[other]\r\nid=abc\r\n", true},
        {"no configuration", false, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddInstalled(L"abc.dic", AFTER, 2024);  // dated 2024-01-01, as the entry
        if (c.marked) test::WriteFileBytes(Installed(L"abc.dic") + UNREGISTERED_SUFFIX, "");
        DeleteFileW(machine->hostConfig.c_str());
        if (c.hostConfig) machine->WriteHostConfig(c.hostConfig);
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        if (!c.installsAgain) {
            EXPECT_EQ(FirstPageText(dlg), WIZ_TEXT_UP_TO_DATE);
            Click(dlg, IDC_BTN_MAINDLG_CANCEL);
            EXPECT_EQ(wizard.WaitForExit(), 1u);
            continue;
        }
        ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"desc_name"), ABC_NAME);
        EXPECT_NE(IniValue(machine->hostConfig, L"other", L"id"), L"") << "another section was lost";
        ExpectDataDir({{L"abc.dic", AFTER}});
    }
}

// A copy of the host's configuration left by a kill goes; the configuration stays as it was.
TEST_F(FaultTest, LeftoverCopyOfTheHostConfigurationIsRemoved) {
    machine->WriteHostConfig(L"[other]\r\nid=other\r\n");
    const std::string configuration = test::ReadFileBytes(machine->hostConfig);
    test::WriteFileBytes(NewFilePathOf(machine->hostConfig), configuration.substr(0, 7));
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    StartAndCancel();
    EXPECT_FALSE(test::FileExists(NewFilePathOf(machine->hostConfig)));
    EXPECT_TRUE(test::ReadFileBytes(machine->hostConfig) == configuration);
}

}  // namespace
}  // namespace faults
