// Removal through the real wizard against what it may find: every state of the table, a file
// that changes between the question and the delete, files that other programs hold, and
// dictionaries of which one file is not ours. Judged by exit code, the data folder byte for
// byte, the host's section, the picture, and what a later start makes of what is left.
#include "app/CommandLine.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

#define REMOVAL_LOG L"removal.log"

const std::string OURS = test::PatternBytes(5000, 41);
const std::string OTHER = test::PatternBytes(5000, 42);  // another build of the same size
const std::string PARTIAL = OURS.substr(0, 1500);
const std::string DIP = test::PatternBytes(3000, 43);

const DWORD FAILED = WIZ_EXIT_INSTALL_FAILED;

class RemovalTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        machine->WriteHostConfig(L"[other]\r\nid=other\r\nenable=1\r\n");
        machine->AddPicture(L"abc", "BMabc");
    }

    DWORD Run(const std::wstring& switches) const {
        Wizard wizard(machine->wizardExe, switches);
        return wizard.WaitForExit(INSTALL_WAIT_MS);
    }
    DWORD Remove() const { return Run(L"/S /UNINSTALL \"/LOG=" + LogPath() + L"\""); }
    std::wstring LogPath() const { return dir.path() + L"\\" REMOVAL_LOG; }
    std::string Log() const { return test::ReadFileBytes(LogPath()); }

    bool Registered() const { return IniValue(machine->hostConfig, L"abc", L"id") == L"abc"; }
    bool PictureThere() const { return test::FileExists(machine->hostImages + L"\\abc.bmp"); }

    // Every file of abc in the data folder replaced by these (suffix after "abc.dic", bytes).
    void LayOut(const std::vector<std::pair<std::wstring, std::string>>& files) const {
        for (const wchar_t* suffix : {L"", BACKUP_SUFFIX, NEW_FILE_SUFFIX, COPY_FILE_SUFFIX, UNREGISTERED_SUFFIX})
            DeleteFileW((Installed(L"abc.dic") + suffix).c_str());
        for (const auto& file : files) ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dic") + file.first, file.second));
    }

    void ExpectOtherSectionKept() const { EXPECT_EQ(IniValue(machine->hostConfig, L"other", L"id"), L"other"); }
};

// Every state a dictionary can be found in, removed, and then a later start (an install from a
// setup folder without it): what the removal took never comes back, what it left stays as it
// was, and a dictionary it could not prove is ours keeps its section.
TEST_F(RemovalTest, EveryStateOfTheTableThenALaterStart) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::wstring, std::string>> files;
        DWORD exitCode;
        std::map<std::wstring, std::string> left;  // abc's files after the removal
        bool registered;
    } cases[] = {
        {"complete", {{L"", OURS}}, 0, {}, false},
        {"unregistered, its mark beside it", {{L"", OURS}, {UNREGISTERED_SUFFIX, ""}}, 0, {}, false},
        {"another installer's backup, a copy of ours", {{L"", OURS}, {BACKUP_SUFFIX, OURS}}, 0, {}, false},
        {"another installer's backup, another build",
         {{L"", OURS}, {BACKUP_SUFFIX, OTHER}},
         FAILED,
         {{L"abc.dic", OURS}, {L"abc.dic" BACKUP_SUFFIX, OTHER}},
         true},
        {"moved aside", {{BACKUP_SUFFIX, OURS}, {NEW_FILE_SUFFIX, PARTIAL}}, 0, {}, false},
        {"rewrite cut", {{L"", PARTIAL}, {BACKUP_SUFFIX, OURS}, {NEW_FILE_SUFFIX, OTHER}}, 0, {}, false},
        {"stale backup", {{L"", OURS}, {BACKUP_SUFFIX, OTHER}, {UNREGISTERED_SUFFIX, ""}}, 0, {}, false},
        {"previous file back", {{L"", OURS}, {NEW_FILE_SUFFIX, PARTIAL}}, 0, {}, false},
        {"copy cut short", {{L"", OURS}, {COPY_FILE_SUFFIX, PARTIAL}}, 0, {}, false},
        // Nothing of it is on the machine; the section is not this removal's to judge.
        {"new install cut", {{NEW_FILE_SUFFIX, PARTIAL}, {UNREGISTERED_SUFFIX, ""}}, 0, {}, true},
        {"another build", {{L"", OTHER}}, 0, {{L"abc.dic", OTHER}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW((machine->wizardDir + L"\\xyz.dir").c_str());
        machine->AddPackage(L"abc.dir", MakePackage({Abc(OURS)}, true));
        LayOut({});
        ASSERT_EQ(Run(L"/S"), 0u);
        ASSERT_TRUE(Registered());
        LayOut(c.files);

        EXPECT_EQ(Remove(), c.exitCode) << Log();
        ExpectDataDir(c.left);
        EXPECT_EQ(Registered(), c.registered);
        EXPECT_EQ(PictureThere(), c.registered);
        ExpectOtherSectionKept();

        // A later start from a setup folder without abc settles what it finds, and installs xyz.
        DeleteFileW((machine->wizardDir + L"\\abc.dir").c_str());
        machine->AddPackage(L"xyz.dir", MakePackage({Xyz(DIP)}));
        EXPECT_EQ(Run(L"/S"), 0u);
        std::map<std::wstring, std::string> after = c.left;
        after[L"xyz.dic"] = DIP;
        ExpectDataDir(after);
        EXPECT_EQ(Registered(), c.registered);
        DeleteFileW(Installed(L"xyz.dic").c_str());
    }
}

// By hand the question names what goes; between it and the Yes another program writes a newer
// build, or puts one in place by a rename. That file is left, with its section and picture.
TEST_F(RemovalTest, FileChangedBetweenTheQuestionAndTheDeleteIsLeft) {
    struct Case {
        const char* name;
        bool byRename;
    } cases[] = {{"written over", false}, {"replaced by a rename", true}};
    machine->AddPackage(L"abc.dir", MakePackage({Abc(OURS)}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Run(L"/S"), 0u);
        ASSERT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), OURS);
        Wizard wizard(machine->wizardExe, L"/UNINSTALL \"/LOG=" + LogPath() + L"\"");
        HWND question = WaitForMessageBox(wizard.processId(), WIZ_TEXT_REMOVE_QUESTION);
        ASSERT_NE(question, nullptr);
        if (c.byRename) {
            const std::wstring newer = dir.path() + L"\\newer.dic";
            ASSERT_TRUE(test::WriteFileBytes(newer, OTHER));
            ASSERT_TRUE(MoveFileExW(newer.c_str(), Installed(L"abc.dic").c_str(), MOVEFILE_REPLACE_EXISTING));
        } else {
            ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dic"), OTHER));
        }
        PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
        HWND done = WaitForMessageBox(wizard.processId(), WIZ_TEXT_REMOVE_DONE);
        ASSERT_NE(done, nullptr);
        CloseMessageBox(done);
        EXPECT_EQ(wizard.WaitForExit(), 0u);
        ExpectDataDir({{L"abc.dic", OTHER}});
        EXPECT_TRUE(Registered());
        EXPECT_TRUE(PictureThere());
        EXPECT_NE(Log().find(test::Utf8(L"left, a different build: " + Installed(L"abc.dic"))), std::string::npos)
            << Log();
        DeleteFileW(Installed(L"abc.dic").c_str());
    }
}

// A dictionary of two files, abc.dic always ours, abc.dip as the case says: the dictionary
// goes only when both are ours and can be taken; otherwise both files, the section and the
// picture stay. A file the host's service holds is taken as an install takes it: the service
// is stopped first.
TEST_F(RemovalTest, DictionaryGoesOnlyWithEveryFileOurs) {
    const std::wstring repairTool = machine->hostDir + L"\\" REPAIR_TOOL_NAME;
    DeleteFileW(repairTool.c_str());  // the service is ended at once, without the tool's 10 s
    const std::wstring serviceHolder = dir.path() + L"\\" DICT_SERVICE_NAME;
    ASSERT_TRUE(CopyFileW((test::ExeDir() + FAULT_HOLDER_EXE).c_str(), serviceHolder.c_str(), FALSE));
    enum Dip { DIP_OURS, DIP_EDITED, DIP_HELD_NONE, DIP_HELD_READ, DIP_HELD_BY_SERVICE, DIP_NOT_IN_PACKAGE };
    struct Case {
        const char* name;
        Dip dip;
        DWORD exitCode;
        bool removed;
        const char* logged;
    } cases[] = {
        {"both ours", DIP_OURS, 0, true, "removed and unregistered"},
        {"abc.dip edited", DIP_EDITED, 0, false, "left, a different build"},
        {"abc.dip held, nothing shared", DIP_HELD_NONE, FAILED, false, "left, held by another program"},
        {"abc.dip held, reading shared", DIP_HELD_READ, FAILED, false, "left, held by another program"},
        {"abc.dip held by the host's service", DIP_HELD_BY_SERVICE, 0, true, "removed and unregistered"},
        {"abc.dip of no package", DIP_NOT_IN_PACKAGE, 0, false, "left with its dictionary"},
    };
    const PackageEntry dic = Abc(OURS);
    const PackageEntry dip = {L"abc", L".dip", L"2024-05-01", ABC_NAME, DIP};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The setup's record names what it installed: a file of no package is put there by another hand.
        const bool dipOfNoPackage = c.dip == DIP_NOT_IN_PACKAGE;
        machine->AddPackage(L"abc.dir", dipOfNoPackage ? MakePackage({dic}, true) : MakePackage({dic, dip}, true));
        ASSERT_EQ(Run(L"/S"), 0u);
        ASSERT_TRUE(Registered());
        if (dipOfNoPackage) {
            ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dip"), DIP));
        }
        std::string dipBytes = DIP;
        if (c.dip == DIP_EDITED) {
            dipBytes = test::PatternBytes(DIP.size(), 44);
            ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dip"), dipBytes));
        }
        std::unique_ptr<FileHolder> holder;
        if (c.dip == DIP_HELD_NONE || c.dip == DIP_HELD_READ || c.dip == DIP_HELD_BY_SERVICE) {
            holder = std::make_unique<FileHolder>(Installed(L"abc.dip"), c.dip == DIP_HELD_READ ? L"r" : L"none",
                                                  c.dip == DIP_HELD_BY_SERVICE ? serviceHolder
                                                                               : test::ExeDir() + FAULT_HOLDER_EXE);
            ASSERT_TRUE(holder->holding());
        }
        EXPECT_EQ(Remove(), c.exitCode) << Log();
        holder.reset();
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
        if (c.removed) {
            ExpectDataDir({});
        } else {
            ExpectDataDir({{L"abc.dic", OURS}, {L"abc.dip", dipBytes}});
        }
        EXPECT_EQ(Registered(), !c.removed);
        EXPECT_EQ(PictureThere(), !c.removed);
        ExpectOtherSectionKept();
        LayOut({});
        DeleteFileW(Installed(L"abc.dip").c_str());
    }
}

// A dictionary that recovery cannot make whole (cut off while rewritten in place, and held by
// a program that shares only reading) is left exactly as it is; once the program lets go, the
// next start puts the previous file back.
TEST_F(RemovalTest, DictionaryNotCompleteAfterRecoveryIsLeft) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(OURS)}, true));
    ASSERT_EQ(Run(L"/S"), 0u);
    LayOut({{L"", PARTIAL}, {BACKUP_SUFFIX, OURS}, {NEW_FILE_SUFFIX, OTHER}});
    {
        FileHolder holder(Installed(L"abc.dic"), L"r");
        ASSERT_TRUE(holder.holding());
        EXPECT_EQ(Remove(), FAILED) << Log();
    }
    EXPECT_NE(Log().find("left, not complete after recovery"), std::string::npos) << Log();
    ExpectDataDir({{L"abc.dic", PARTIAL}, {L"abc.dic" BACKUP_SUFFIX, OURS}, {L"abc.dic" NEW_FILE_SUFFIX, OTHER}});
    EXPECT_TRUE(Registered());
    EXPECT_EQ(Remove(), 0u) << Log();
    ExpectDataDir({});
    EXPECT_FALSE(Registered());
}

}  // namespace
}  // namespace faults
