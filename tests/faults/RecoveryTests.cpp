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
    bool held;            // another program holds the target open, sharing reading and writing
    const wchar_t* date;  // of the package's entry
    const wchar_t* page;  // the welcome page's summary, or null for the up-to-date page
    std::string after;    // abc.dic after a cancel on that page; empty: absent
    friend void PrintTo(const Leftover& l, std::ostream* os) { *os << l.name; }
};

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
    // A kill after the mark of a registration to come is put down leaves it too.
    if (!l.newFile.empty()) test::WriteFileBytes(UnregisteredMarkOf(target), "");
    std::unique_ptr<FileHolder> holder;
    if (l.held) {
        holder = std::make_unique<FileHolder>(target, L"rw");
        ASSERT_TRUE(holder->holding());
    }

    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(FirstPageText(dlg), l.page != nullptr ? Welcome(l.page) : std::wstring(WIZ_TEXT_UP_TO_DATE));
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);
    holder.reset();
    if (l.after.empty()) {
        ExpectDataDir({});
    } else {
        ExpectDataDir({{L"abc.dic", l.after}});
    }
}

const wchar_t UPGRADE[] = L"升级《ABC英汉词典》";
const wchar_t INSTALL[] = L"安装《ABC英汉词典》";
const wchar_t PACKAGE_DATE[] = L"2024-05-01";
const wchar_t OLDER_THAN_BEFORE[] = L"2000-06-01";

INSTANTIATE_TEST_SUITE_P(
    States, RecoveryTest,
    ::testing::Values(
        Leftover{"new_file_only", "", 0, "", PARTIAL, "", false, PACKAGE_DATE, INSTALL, ""},
        Leftover{"backup_only", "", 0, BEFORE, "", "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"backup_and_new_file", "", 0, BEFORE, PARTIAL, "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"rewritten_in_place", PARTIAL, 2030, BEFORE, AFTER, "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"rewritten_in_place_held", PARTIAL, 2030, BEFORE, AFTER, "", true, PACKAGE_DATE, UPGRADE, BEFORE},
        // Dated by the previous file, not by the cut-off one: an older package is not installed.
        Leftover{"rewritten_in_place_older_package", PARTIAL, 2030, BEFORE, AFTER, "", false, OLDER_THAN_BEFORE,
                 nullptr, BEFORE},
        // A backup beside a complete file is stale: never restored over it, never a downgrade.
        Leftover{"stale_backup_beside_newer_file", NEWER, 2030, BEFORE, "", "", false, PACKAGE_DATE, nullptr, NEWER},
        Leftover{"stale_backup_beside_older_file", BEFORE, 2001, NEWER, "", "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"previous_back_new_file_left", BEFORE, 2001, "", PARTIAL, "", false, PACKAGE_DATE, UPGRADE, BEFORE},
        Leftover{"copy_cut_short", BEFORE, 2001, "", "", BEFORE.substr(0, 10 * KB), false, PACKAGE_DATE, UPGRADE,
                 BEFORE},
        Leftover{"copy_cut_short_beside_stale_backup", BEFORE, 2001, NEWER, "", BEFORE.substr(0, 10 * KB), false,
                 PACKAGE_DATE, UPGRADE, BEFORE}),
    [](const ::testing::TestParamInfo<Leftover>& info) { return std::string(info.param.name); });

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
    Wizard again(machine->wizardExe);
    HWND dlg = again.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(again.WaitForExit(), 1u);
    ExpectDataDir({{L"abc.dic", BEFORE}});
}

// A run killed after a dictionary took its new bytes but before it was registered leaves the
// mark beside it: the next run installs it again from an entry of the same date, and so
// registers it. Without the mark the same file is up to date.
TEST_F(FaultTest, UnregisteredDictionaryIsInstalledAgain) {
    PackageEntry entry = Abc(AFTER);
    entry.dateText = L"2024-01-01";
    machine->AddPackage(L"abc.dir", MakePackage({entry}));
    for (const bool marked : {false, true}) {
        SCOPED_TRACE(marked ? "marked" : "not marked");
        machine->AddInstalled(L"abc.dic", AFTER, 2024);  // dated 2024-01-01, as the entry
        if (marked) test::WriteFileBytes(Installed(L"abc.dic") + UNREGISTERED_SUFFIX, "");
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        if (!marked) {
            EXPECT_EQ(FirstPageText(dlg), WIZ_TEXT_UP_TO_DATE);
            Click(dlg, IDC_BTN_MAINDLG_CANCEL);
            EXPECT_EQ(wizard.WaitForExit(), 1u);
            EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"");
            continue;
        }
        ASSERT_EQ(FirstPageText(dlg), Welcome(L"升级《ABC英汉词典》"));
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Upgraded(ABC_NAME)});
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"desc_name"), ABC_NAME);
        ExpectDataDir({{L"abc.dic", AFTER}});
    }
}

// A copy of the host's configuration left by a kill goes; the configuration stays as it was.
TEST_F(FaultTest, LeftoverCopyOfTheHostConfigurationIsRemoved) {
    machine->WriteHostConfig(L"[other]\r\nid=other\r\n");
    const std::string configuration = test::ReadFileBytes(machine->hostConfig);
    test::WriteFileBytes(NewFilePathOf(machine->hostConfig), configuration.substr(0, 7));
    machine->AddPackage(L"abc.dir", MakePackage({Abc(AFTER)}));
    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);
    EXPECT_FALSE(test::FileExists(NewFilePathOf(machine->hostConfig)));
    EXPECT_TRUE(test::ReadFileBytes(machine->hostConfig) == configuration);
}

}  // namespace
}  // namespace faults
