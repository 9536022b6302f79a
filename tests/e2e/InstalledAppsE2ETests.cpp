// Windows' list of installed apps: an install leaves an entry and a removal record, and the
// entry's UninstallString, run as the control panel runs it long after the setup folder is
// gone, removes exactly what that setup installed. The real Quillbox.exe throughout.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/CommandLine.h"
#include "app/WizardTexts.h"
#include "app/resource.h"
#include "base/ProtectedFolder.h"
#include "base/WorkFileNames.h"
#include "host/ProcessControl.h"
#include "install/SetupIdentity.h"
#include "tests/e2e/InstalledAppsSupport.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/faults/UnixMount.h"

using namespace e2e;

namespace {

#define SETUP_ID L"acme.dictionaries"
#define SETUP_ID_UTF8 "acme.dictionaries"

std::wstring BinDir() {
    wchar_t full[MAX_PATH];
    const std::wstring path = test::ExeDir() + L"..\\..\\bin\\";
    return std::wstring(full, GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr));
}

const std::string ABC = test::PatternBytes(5000, 1);
const std::string XYZ = test::PatternBytes(2048 * 3 + 1, 2);
const std::string QRS = test::PatternBytes(3000, 3);

PackageEntry Abc(const std::string& data, const wchar_t* date = L"2024-05-01") {
    return {L"abc", L".dic", date, L"ABC英汉词典", data};
}
PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", L"XYZ汉英词典", data}; }

class InstalledAppsE2E : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveInstalledApps();
        machine = std::make_unique<Machine>(dir.path());
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n"
                                 L"[qrs]\r\ndesc_name=QRS词典\r\n");
        machine->WriteHostConfig(L"[other]\r\nid=other\r\nenable=1\r\n");
        machine->Register();
    }
    void TearDown() override {
        RemoveInstalledApps();
        Machine::Unregister();
        test::EndProcessesNamed(L"Lexora.exe");
        test::EndProcessesNamed(DICT_SERVICE_NAME);
    }

    static DWORD RunSilently(const std::wstring& exe, const std::wstring& switches) {
        Wizard wizard(exe, switches);
        return wizard.WaitForExit();
    }

    // setup.ini as dictpack setup writes it.
    void WriteSetupInfo(const std::wstring& folder, const std::wstring& id, const std::wstring& name,
                        const std::wstring& publisher) const {
        const std::wstring text = L"\xFEFF[setup]\r\nid=" + id + L"\r\ndisplay_name=" + name + L"\r\npublisher=" +
                                  publisher + L"\r\n";
        test::WriteFileBytes(folder + L"\\" SETUP_INFO_FILE_NAME,
                             std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    }

    // Silently, or through the dialog: next, then the finish page closed without the host.
    void InstallBoth(bool byHand = false) {
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
        machine->AddPackage(L"xyz.dir", MakePackage({Xyz(XYZ)}));
        machine->AddPicture(L"abc", "BMabc");
        machine->AddPicture(L"xyz", "BMxyz");
        WriteSetupInfo(machine->wizardDir, SETUP_ID, L"", L"Acme Dictionaries Ltd.");
        if (!byHand) {
            ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
            return;
        }
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH); })) << "no finish page";
        SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, false);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        ASSERT_EQ(wizard.WaitForExit(), 1u);
    }

    // The command of the entry's value, run as the control panel does, with a log.
    std::unique_ptr<Wizard> StartEntryCommand(const std::wstring& id, const wchar_t* value) const {
        std::wstring exe, arguments;
        if (!SplitCommand(EntryValue(id, value), exe, arguments)) return nullptr;
        DeleteFileW(LogPath().c_str());
        return std::make_unique<Wizard>(exe, arguments + L" \"/LOG=" + LogPath() + L"\"");
    }
    std::wstring LogPath() const { return dir.path() + L"\\removal.log"; }
    std::string Log() const { return test::ReadFileBytes(LogPath()); }

    std::wstring Installed(const wchar_t* name) const { return machine->dictData + L"\\" + name; }
    std::wstring Picture(const wchar_t* id) const { return machine->hostImages + L"\\" + id + L".bmp"; }

    // No file, work file, section or picture of the dictionary is left.
    void ExpectGone(const wchar_t* id) const {
        SCOPED_TRACE(test::Utf8(id));
        const std::wstring target = Installed((std::wstring(id) + L".dic").c_str());
        EXPECT_FALSE(test::FileExists(target));
        EXPECT_FALSE(test::FileExists(target + L"._qb_reg_"));
        EXPECT_EQ(IniValue(machine->hostConfig, id, L"id"), L"");
        EXPECT_FALSE(test::FileExists(Picture(id)));
    }

    void ExpectNothingOfTheSetupLeft(const std::wstring& id) const {
        EXPECT_FALSE(EntryExists(id));
        EXPECT_FALSE(test::FileExists(RecordFolder(id))) << "the record's folder stays";
        EXPECT_EQ(IniValue(machine->hostConfig, L"other", L"enable"), L"1");
    }

    // A machine of its own for each case of a table, as SetUp lays it out.
    void FreshMachine(int index) {
        RemoveInstalledApps();
        machine = std::make_unique<Machine>(dir.path() + L"\\case" + std::to_wstring(index));
        ASSERT_TRUE(machine->Create(BinDir()));
        machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n"
                                 L"[qrs]\r\ndesc_name=QRS词典\r\n");
        machine->WriteHostConfig(L"[other]\r\nid=other\r\nenable=1\r\n");
        machine->Register();
    }

    // Another setup folder beside the first: the same wizard, its own packages and id.
    std::wstring SecondSetupFolder(const std::wstring& id, const std::vector<std::pair<std::wstring, std::string>>& packages) {
        const std::wstring second = machine->root + L"\\second";
        EXPECT_TRUE(test::MakeDirs(second));
        for (const wchar_t* file : {L"Quillbox.exe", L"dict_ver.dll", L"dictconfig.ini"})
            EXPECT_TRUE(CopyFileW((machine->wizardDir + L"\\" + file).c_str(), (second + L"\\" + file).c_str(), FALSE));
        for (const auto& package : packages) test::WriteFileBytes(second + L"\\" + package.first, package.second);
        WriteSetupInfo(second, id, L"", L"");
        return second;
    }

    // The two ways a setup is removed with nobody at the screen: the entry's QuietUninstallString,
    // or /S /UNINSTALL from its setup folder. Both log to LogPath().
    enum class Way { Entry, SetupFolder };
    DWORD RemoveQuietly(Way way, const std::wstring& id, const std::wstring& setupFolder) const {
        if (way == Way::Entry) {
            std::unique_ptr<Wizard> removal = StartEntryCommand(id, L"QuietUninstallString");
            return removal ? removal->WaitForExit() : ~0u;
        }
        DeleteFileW(LogPath().c_str());
        return RunSilently(setupFolder + L"\\Quillbox.exe", L"/S /UNINSTALL \"/LOG=" + LogPath() + L"\"");
    }
    std::unique_ptr<Wizard> StartRemovalByHand(Way way, const std::wstring& id) const {
        if (way == Way::Entry) return StartEntryCommand(id, L"UninstallString");
        DeleteFileW(LogPath().c_str());
        return std::make_unique<Wizard>(machine->wizardExe, L"/UNINSTALL \"/LOG=" + LogPath() + L"\"");
    }
    static const char* NameOf(Way way) { return way == Way::Entry ? "the entry's command" : "the setup folder's"; }

    test::TempDir dir{L"apps"};
    std::unique_ptr<Machine> machine;
};

// An install (through the dialog, and silent) writes the entry and the record; with the setup
// folder deleted, the entry's command, by hand with Yes and quietly, removes every dictionary, section and picture of
// the setup, then the entry and the record, and ends 0.
TEST_F(InstalledAppsE2E, EntryRemovesTheSetupAfterItsFolderIsGone) {
    for (const bool byHand : {true, false}) {
        SCOPED_TRACE(byHand ? "by hand" : "quietly");
        InstallBoth(byHand);
        const std::wstring kept = RecordFolder(SETUP_ID) + L"\\Quillbox.exe";
        EXPECT_EQ(UninstallEntries(), std::vector<std::wstring>{SETUP_ID});
        EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayName"), L"ABC英汉词典、XYZ汉英词典");
        EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayVersion"), L"2024-05-01");
        EXPECT_EQ(EntryValue(SETUP_ID, L"Publisher"), L"Acme Dictionaries Ltd.");
        EXPECT_EQ(EntryValue(SETUP_ID, L"UninstallString"), L"\"" + kept + L"\" /UNINSTALL");
        EXPECT_EQ(EntryValue(SETUP_ID, L"QuietUninstallString"), L"\"" + kept + L"\" /UNINSTALL /S");
        EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayIcon"), kept + L",0");
        EXPECT_EQ(EntryValue(SETUP_ID, L"EstimatedSize"), std::to_wstring((ABC.size() + XYZ.size() + 1023) / 1024));
        EXPECT_EQ(EntryValue(SETUP_ID, L"InstallDate").size(), 8u);
        EXPECT_EQ(EntryValue(SETUP_ID, L"NoModify"), L"1");
        EXPECT_EQ(EntryValue(SETUP_ID, L"NoRepair"), L"1");
        EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"2024-05-01");
        EXPECT_EQ(EntryValue(SETUP_ID, L"xyz", L"Dictionaries"), L"2024-05-01");
        EXPECT_TRUE(test::FileExists(kept));
        EXPECT_TRUE(test::FileExists(RecordFolder(SETUP_ID) + L"\\dict_ver.dll"));
        const std::string record = test::ReadFileBytes(RecordFolder(SETUP_ID) + L"\\record.txt");
        EXPECT_FALSE(record.empty());
        EXPECT_EQ(record.find(ABC.substr(0, 64)), std::string::npos) << "package data in the record";
        EXPECT_FALSE(test::FileExists(RecordFolder(SETUP_ID) + L"\\abc.dir"));

        const std::wstring setupCopy = dir.path() + L"\\kept-setup";
        ASSERT_TRUE(MoveFileW(machine->wizardDir.c_str(), setupCopy.c_str())) << "the setup folder is deleted";
        std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, byHand ? L"UninstallString" : L"QuietUninstallString");
        ASSERT_TRUE(removal && removal->started());
        if (byHand) {
            HWND box = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_QUESTION);
            ASSERT_NE(box, nullptr);
            EXPECT_NE(MessageBoxText(box).find(L"《ABC英汉词典》\r\n《XYZ汉英词典》"), std::wstring::npos)
                << test::Utf8(MessageBoxText(box));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
            HWND done = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_DONE);
            ASSERT_NE(done, nullptr);
            CloseMessageBox(done);
        }
        EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
        ExpectGone(L"abc");
        ExpectGone(L"xyz");
        ExpectNothingOfTheSetupLeft(SETUP_ID);
        // The copy that ran cannot delete its own file: it waits elsewhere for the next start.
        EXPECT_NE(PendingDeletes().find(L"\\Quillbox\\Removed\\"), std::wstring::npos) << test::Utf8(PendingDeletes());
        ASSERT_TRUE(MoveFileW(setupCopy.c_str(), machine->wizardDir.c_str()));
    }
}

// A dictionary the user changed is no longer the setup's: it is left with its section and
// picture, and its claim goes with the rest, so the entry goes and the run ends 0. A detection
// rule on the entry is false from then on, as the setup's files are gone or not its own.
TEST_F(InstalledAppsE2E, ChangedDictionaryIsLeftAndTheEntryGoes) {
    InstallBoth();
    const std::string changed = test::PatternBytes(XYZ.size(), 77);
    ASSERT_TRUE(test::WriteFileBytes(Installed(L"xyz.dic"), changed));
    std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
    // The kept copy logs as the setup folder's removal does, a key=value line per file included.
    EXPECT_NE(Log().find("entry id=abc file=abc.dic action=remove outcome=removed error=0"), std::string::npos) << Log();
    EXPECT_NE(Log().find("entry id=xyz file=xyz.dic action=remove outcome=left error=0"), std::string::npos) << Log();
    EXPECT_NE(Log().find("left, a different build: "), std::string::npos) << Log();
    ExpectGone(L"abc");
    EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), changed);
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"id"), L"xyz");
    EXPECT_EQ(test::ReadFileBytes(Picture(L"xyz")), "BMxyz");
    ExpectNothingOfTheSetupLeft(SETUP_ID);
}

// The kept copy reads each file by the state table, as the setup folder's removal does: a
// copy of ours that another installer left beside abc.dic as its backup goes first, so no
// later start can put abc.dic back.
TEST_F(InstalledAppsE2E, KeptCopyTakesABackupOfOursFirst) {
    InstallBoth();
    const std::wstring backup = Installed(L"abc.dic") + BACKUP_SUFFIX;
    ASSERT_TRUE(CopyFileW(Installed(L"abc.dic").c_str(), backup.c_str(), FALSE));
    std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
    ExpectGone(L"abc");
    ExpectGone(L"xyz");
    EXPECT_FALSE(test::FileExists(backup)) << "a later start would put it back";
    ExpectNothingOfTheSetupLeft(SETUP_ID);
}

// Two setup folders give two entries; removing one leaves the other's dictionary and entry.
// Without setup.ini each is named by its packages.
TEST_F(InstalledAppsE2E, TwoSetupFoldersGiveTwoEntries) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}));
    const std::wstring second = dir.path() + L"\\second";
    ASSERT_TRUE(test::MakeDirs(second));
    for (const wchar_t* file : {L"Quillbox.exe", L"dict_ver.dll", L"dictconfig.ini"})
        ASSERT_TRUE(CopyFileW((machine->wizardDir + L"\\" + file).c_str(), (second + L"\\" + file).c_str(), FALSE));
    test::WriteFileBytes(second + L"\\qrs.dir", MakePackage({{L"qrs", L".dic", L"2024-05-01", L"QRS词典", QRS}}));
    ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
    ASSERT_EQ(RunSilently(second + L"\\Quillbox.exe", L"/S"), 0u);

    const std::wstring first = DigestSetupId({L"abc.dir"}), other = DigestSetupId({L"qrs.dir"});
    ASSERT_NE(first, other);
    EXPECT_EQ(UninstallEntries().size(), 2u);
    EXPECT_EQ(EntryValue(first, L"DisplayName"), L"ABC英汉词典");
    EXPECT_EQ(EntryValue(other, L"DisplayName"), L"QRS词典");
    EXPECT_EQ(EntryValue(first, L"Publisher"), L"");

    std::unique_ptr<Wizard> removal = StartEntryCommand(other, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
    ExpectGone(L"qrs");
    ExpectNothingOfTheSetupLeft(other);
    EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
    EXPECT_EQ(EntryValue(first, L"abc", L"Dictionaries"), L"2024-05-01");

    // The setup folder's own removal takes the entry once nothing of it is left.
    EXPECT_EQ(RunSilently(machine->wizardExe, L"/S /UNINSTALL"), 0u);
    ExpectGone(L"abc");
    ExpectNothingOfTheSetupLeft(first);
}

// A newer setup of the same id updates the one entry and its record; its removal takes the
// newer file.
TEST_F(InstalledAppsE2E, UpgradeFromANewerSetupOfTheSameIdUpdatesTheOneEntry) {
    InstallBoth();
    const std::string newer = test::PatternBytes(9000, 5);
    machine->AddPackage(L"abc.dir", MakePackage({Abc(newer, L"2024-06-01")}, true));
    DeleteFileW((machine->wizardDir + L"\\xyz.dir").c_str());
    WriteSetupInfo(machine->wizardDir, SETUP_ID, L"Acme 词典 2024", L"Acme Dictionaries Ltd.");
    ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
    ASSERT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), newer);
    EXPECT_EQ(UninstallEntries(), std::vector<std::wstring>{SETUP_ID});
    EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayName"), L"Acme 词典 2024");
    EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayVersion"), L"2024-06-01");
    EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"2024-06-01");
    EXPECT_EQ(EntryValue(SETUP_ID, L"xyz", L"Dictionaries"), L"2024-05-01") << "the first install's xyz is kept";
    EXPECT_EQ(EntryValue(SETUP_ID, L"EstimatedSize"), std::to_wstring((newer.size() + XYZ.size() + 1023) / 1024));

    std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
    ExpectGone(L"abc");
    ExpectGone(L"xyz");
    ExpectNothingOfTheSetupLeft(SETUP_ID);
}

// A run that installs nothing writes nothing: the host missing, every dictionary up to date
// (newer ones installed), every entry failing.
TEST_F(InstalledAppsE2E, NothingIsWrittenWithoutAnInstall) {
    struct Case {
        const char* name;
        bool host;
        bool newerInstalled;
        bool damaged;
        DWORD exitCode;
    } cases[] = {
        {"host missing", false, false, false, WIZ_EXIT_INSTALL_FAILED},
        {"up to date", true, true, false, WIZ_EXIT_SUCCESS},
        {"every entry fails", true, false, true, WIZ_EXIT_INSTALL_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir scratch{L"apps-none"};
        Machine m(scratch.path());
        ASSERT_TRUE(m.Create(BinDir()));
        if (c.host) m.Register(); else Machine::Unregister();
        std::string package = MakePackage({Abc(ABC)}, true);
        if (c.damaged) package[package.find(ABC) + 10] ^= 0x55;
        m.AddPackage(L"abc.dir", package);
        if (c.newerInstalled) {
            m.AddInstalled(L"abc.dic", "a newer build", 2030);
            m.WriteHostConfig(L"[abc]\r\nid=abc\r\n");
        }
        EXPECT_EQ(RunSilently(m.wizardExe, L"/S"), c.exitCode);
        EXPECT_TRUE(UninstallEntries().empty());
        EXPECT_FALSE(test::FileExists(RecordFolder(DigestSetupId({L"abc.dir"})))) << "a record's folder was left";
    }
}

// Setup A put abc.dic there; setup B's packages hold the same bytes, so B found it and left it
// (named in B's record and entry for detection only) and placed qrs. Whichever is removed
// first, by its entry or from its setup folder, abc stays with its section and picture while
// the other still names it, and only the removed setup's claim and entry go. B never put abc
// there, so B's removal never takes it: removed last, it leaves abc as it found it.
TEST_F(InstalledAppsE2E, TwoSetupsSharingAnIdenticalDictionary) {
    const std::wstring placedBy = SETUP_ID, foundBy = L"other.dictionaries";
    struct Case {
        bool placingSetupFirst;
        Way way;
    } cases[] = {{false, Way::Entry}, {false, Way::SetupFolder}, {true, Way::Entry}, {true, Way::SetupFolder}};
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.placingSetupFirst ? "the placing setup" : "the finding setup") +
                     " removed first through " + NameOf(c.way));
        FreshMachine(++index);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
        machine->AddPicture(L"abc", "BMabc");
        WriteSetupInfo(machine->wizardDir, placedBy, L"", L"");
        const std::wstring second = SecondSetupFolder(
            foundBy, {{L"abc.dir", MakePackage({Abc(ABC)})},
                      {L"qrs.dir", MakePackage({{L"qrs", L".dic", L"2024-05-01", L"QRS词典", QRS}})}});
        ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
        ASSERT_EQ(RunSilently(second + L"\\Quillbox.exe", L"/S"), 0u);
        EXPECT_EQ(EntryValue(foundBy, L"abc", L"Dictionaries"), L"2024-05-01") << "found and left: named for detection";

        const std::wstring first = c.placingSetupFirst ? placedBy : foundBy;
        const std::wstring last = c.placingSetupFirst ? foundBy : placedBy;
        const std::wstring firstFolder = c.placingSetupFirst ? machine->wizardDir : second;
        const std::wstring lastFolder = c.placingSetupFirst ? second : machine->wizardDir;
        EXPECT_EQ(RemoveQuietly(c.way, first, firstFolder), 0u) << Log();
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
        EXPECT_EQ(test::ReadFileBytes(Picture(L"abc")), "BMabc");
        EXPECT_NE(Log().find("entry id=abc file=abc.dic action=remove outcome=kept error=0"), std::string::npos) << Log();
        EXPECT_FALSE(EntryExists(first));
        EXPECT_EQ(EntryValue(last, L"abc", L"Dictionaries"), L"2024-05-01") << "the other setup's detection";

        EXPECT_EQ(RemoveQuietly(c.way, last, lastFolder), 0u) << Log();
        EXPECT_FALSE(EntryExists(last));
        EXPECT_FALSE(test::FileExists(RecordFolder(last)));
        ExpectGone(L"qrs");
        if (c.placingSetupFirst) {
            EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC) << "the finding setup never put it there";
            EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
        } else {
            ExpectGone(L"abc");
        }
    }
}

// A setup that upgraded a dictionary the host already had (its section holding keys the host
// and the user set) and placed another anew: its removal, quiet through either way or by
// hand, takes only the new one. The upgraded dictionary stays at the build it has now, with
// its whole section and its picture; the question says why, and so does the log.
TEST_F(InstalledAppsE2E, UpgradedDictionaryOfTheHostStaysWithItsSection) {
    struct Case {
        Way way;
        bool byHand;
    } cases[] = {{Way::Entry, false}, {Way::SetupFolder, false}, {Way::Entry, true}, {Way::SetupFolder, true}};
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(NameOf(c.way)) + (c.byHand ? ", by hand" : ", quietly"));
        FreshMachine(++index);
        machine->AddInstalled(L"abc.dic", "the host's own older build", 2020);
        machine->WriteHostConfig(L"[other]\r\nid=other\r\nenable=1\r\n"
                                 L"[abc]\r\nid=abc\r\ndesc_name=ABC英汉词典\r\nenable=1\r\nuser_order=3\r\n");
        InstallBoth();
        ASSERT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC) << "upgraded";
        const std::string picture = test::ReadFileBytes(Picture(L"abc"));

        if (c.byHand) {
            std::unique_ptr<Wizard> removal = StartRemovalByHand(c.way, SETUP_ID);
            ASSERT_TRUE(removal && removal->started());
            HWND box = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_QUESTION);
            ASSERT_NE(box, nullptr);
            const std::wstring question = MessageBoxText(box);
            EXPECT_NE(question.find(std::wstring(WIZ_TEXT_REMOVE_LIST) + L"《XYZ汉英词典》\r\n"), std::wstring::npos)
                << test::Utf8(question);
            EXPECT_NE(question.find(std::wstring(WIZ_TEXT_KEPT_BEFORE_LIST) + L"《ABC英汉词典》\r\n"), std::wstring::npos)
                << test::Utf8(question);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
            HWND done = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_DONE);
            ASSERT_NE(done, nullptr);
            CloseMessageBox(done);
            EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
        } else {
            EXPECT_EQ(RemoveQuietly(c.way, SETUP_ID, machine->wizardDir), 0u) << Log();
        }
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"user_order"), L"3");
        EXPECT_EQ(test::ReadFileBytes(Picture(L"abc")), picture);
        EXPECT_NE(Log().find("kept at the build it has, on this PC before this setup"), std::string::npos) << Log();
        ExpectGone(L"xyz");
        ExpectNothingOfTheSetupLeft(SETUP_ID);
    }
}

// Another build put in abc's place, and xyz held by another program: the removal takes
// neither, ends 1603, and the entry stays naming only xyz (abc's detection value goes with its
// claim). Once xyz is let go the next removal takes it and the entry, and ends 0; the other
// build stays with its section.
TEST_F(InstalledAppsE2E, EntryStaysOnlyWhileSomethingOursIsLeft) {
    int index = 0;
    for (const Way way : {Way::Entry, Way::SetupFolder}) {
        SCOPED_TRACE(NameOf(way));
        FreshMachine(++index);
        InstallBoth();
        const std::string other = test::PatternBytes(ABC.size(), 88);
        ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dic"), other));
        {
            qb::ScopedHandle held(CreateFileW(Installed(L"xyz.dic").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                              0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_EQ(RemoveQuietly(way, SETUP_ID, machine->wizardDir), static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED))
                << Log();
        }
        EXPECT_NE(Log().find("left, held by another program"), std::string::npos) << Log();
        EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), XYZ);
        EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayName"), L"XYZ汉英词典");
        EXPECT_EQ(EntryValue(SETUP_ID, L"xyz", L"Dictionaries"), L"2024-05-01");
        EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"") << "another build is not the setup's";

        EXPECT_EQ(RemoveQuietly(way, SETUP_ID, machine->wizardDir), 0u) << Log();
        ExpectGone(L"xyz");
        ExpectNothingOfTheSetupLeft(SETUP_ID);
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), other);
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id"), L"abc");
    }
}

// The host's data folder renamed away for a moment: nothing can be told, so either removal
// ends 1603 and keeps the record and the entry; once it is back they work as always. The
// host's registry values gone: nothing of the setup can be left in a host that is not there,
// so either removal takes the record and the entry and ends 0, touching no file.
TEST_F(InstalledAppsE2E, DataFolderAwayKeepsTheEntryHostGoneSettlesIt) {
    int index = 0;
    for (const Way way : {Way::Entry, Way::SetupFolder}) {
        SCOPED_TRACE(NameOf(way));
        FreshMachine(++index);
        InstallBoth();
        const std::wstring away = machine->dictData + L".away";
        ASSERT_TRUE(MoveFileW(machine->dictData.c_str(), away.c_str()));
        EXPECT_EQ(RemoveQuietly(way, SETUP_ID, machine->wizardDir), static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED))
            << Log();
        ASSERT_TRUE(MoveFileW(away.c_str(), machine->dictData.c_str()));
        EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"2024-05-01");
        EXPECT_TRUE(test::FileExists(RecordFolder(SETUP_ID) + L"\\record.txt"));

        Machine::Unregister();
        EXPECT_EQ(RemoveQuietly(way, SETUP_ID, machine->wizardDir), 0u) << Log();
        machine->Register();
        ExpectNothingOfTheSetupLeft(SETUP_ID);
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC) << "no file is touched without a host";
    }
}

// By hand, one box per case, after the removal: abc lies beside a backup of another build, so
// nothing of the setup can go. Both removals ask first, naming abc as staying, and then show
// that something could not be removed, once; neither says beforehand that nothing is there.
TEST_F(InstalledAppsE2E, OneOutcomeBoxByHand) {
    int index = 0;
    for (const Way way : {Way::Entry, Way::SetupFolder}) {
        SCOPED_TRACE(NameOf(way));
        FreshMachine(++index);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
        WriteSetupInfo(machine->wizardDir, SETUP_ID, L"", L"");
        ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
        ASSERT_TRUE(test::WriteFileBytes(Installed(L"abc.dic") + BACKUP_SUFFIX, test::PatternBytes(ABC.size(), 89)));

        std::unique_ptr<Wizard> removal = StartRemovalByHand(way, SETUP_ID);
        ASSERT_TRUE(removal && removal->started());
        HWND box = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_QUESTION);
        ASSERT_NE(box, nullptr) << "no question: " << Log();
        EXPECT_NE(MessageBoxText(box).find(std::wstring(WIZ_TEXT_LEAVE_LIST) + L"《ABC英汉词典》\r\n"), std::wstring::npos)
            << test::Utf8(MessageBoxText(box));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
        HWND failed = WaitForMessageBox(removal->processId(), WIZ_TEXT_REMOVE_FAILED);
        ASSERT_NE(failed, nullptr) << Log();
        CloseMessageBox(failed);
        EXPECT_EQ(removal->WaitForExit(), static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED)) << Log();
        EXPECT_TRUE(EntryExists(SETUP_ID)) << "something of the setup is left";
        DeleteFileW((Installed(L"abc.dic") + BACKUP_SUFFIX).c_str());
    }
}

// A silent install whose record cannot be written (a folder stands at the record's work name)
// puts its dictionaries in place but ends 1603: the log says a detection rule on the entry
// would not tell the truth, and the pending mark stays. The next run, with nothing left to
// install, silent or the dialog's up-to-date page, writes the record and the entry from the
// mark; the entry's removal then takes everything.
TEST_F(InstalledAppsE2E, RecordNotWrittenEndsTheSilentInstallWith1603) {
    int index = 0;
    for (const bool dialog : {false, true}) {
        SCOPED_TRACE(dialog ? "settled by the dialog" : "settled silently");
        FreshMachine(++index);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(test::PatternBytes(ABC.size(), 9), L"2024-04-01")}, true));
        WriteSetupInfo(machine->wizardDir, SETUP_ID, L"", L"");
        ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
        const std::wstring blocker = RecordFolder(SETUP_ID) + L"\\record.txt.new";
        const std::wstring pending = RecordFolder(SETUP_ID) + L"\\install.pending";
        ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr));
        DeleteFileW(LogPath().c_str());
        EXPECT_EQ(RunSilently(machine->wizardExe, L"/S \"/LOG=" + LogPath() + L"\""),
                  static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED));
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC);
        EXPECT_NE(Log().find("would not tell the truth"), std::string::npos) << Log();
        EXPECT_TRUE(test::FileExists(pending));

        ASSERT_TRUE(RemoveDirectoryW(blocker.c_str()));
        if (dialog) {
            Wizard wizard(machine->wizardExe);
            HWND dlg = wizard.WaitForDialog();
            ASSERT_NE(dlg, nullptr);
            EXPECT_TRUE(WaitUntil([&] { return !test::FileExists(pending); })) << "the up-to-date page left the mark";
            Click(dlg, IDC_BTN_MAINDLG_CANCEL);
            EXPECT_EQ(wizard.WaitForExit(), 1u);
        } else {
            EXPECT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
        }
        EXPECT_FALSE(test::FileExists(pending));
        EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayVersion"), L"2024-05-01");
        std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
        ASSERT_TRUE(removal);
        EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
        ExpectGone(L"abc");
        ExpectNothingOfTheSetupLeft(SETUP_ID);
    }
}

// The kept folder copied elsewhere (an administrator looking at it, beside files of theirs, or
// into another setup's record folder) and started there with /UNINSTALL: it refuses (1603, a box
// by hand) and touches nothing: neither the files beside it nor the real setup's dictionaries,
// entry and record.
TEST_F(InstalledAppsE2E, KeptCopyElsewhereRefusesAndTouchesNothing) {
    InstallBoth();
    const std::wstring kept = RecordFolder(SETUP_ID);
    const std::string record = test::ReadFileBytes(kept + L"\\record.txt");
    const std::vector<std::pair<std::wstring, std::string>> theirs = {
        {L"notes.txt", "notes"}, {L"photo.jpg", "\xFF\xD8\xFFJFIF"}, {L"report.docx", "PK\x03\x04"}};
    struct Case {
        const char* name;
        std::wstring folder;
        bool byHand;
    } cases[] = {
        {"a folder of the administrator's, quietly", dir.path() + L"\\inspect", false},
        {"a folder of the administrator's, by hand", dir.path() + L"\\inspect", true},
        {"another setup's record folder", RecordFolder(L"other.setup"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::MakeDirs(c.folder));
        for (const wchar_t* name : {L"Quillbox.exe", L"dict_ver.dll", L"record.txt"})
            ASSERT_TRUE(CopyFileW((kept + L"\\" + name).c_str(), (c.folder + L"\\" + name).c_str(), FALSE));
        for (const auto& file : theirs) ASSERT_TRUE(test::WriteFileBytes(c.folder + L"\\" + file.first, file.second));

        DeleteFileW(LogPath().c_str());
        Wizard removal(c.folder + L"\\Quillbox.exe", c.byHand ? L"/UNINSTALL \"/LOG=" + LogPath() + L"\""
                                                              : L"/UNINSTALL /S \"/LOG=" + LogPath() + L"\"");
        if (c.byHand) {
            HWND box = WaitForMessageBox(removal.processId(), WIZ_TEXT_REMOVE_FAILED);
            ASSERT_NE(box, nullptr);
            CloseMessageBox(box);
        }
        EXPECT_EQ(removal.WaitForExit(), static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED)) << Log();
        EXPECT_NE(Log().find("does not run from the record folder of setup " SETUP_ID_UTF8), std::string::npos) << Log();
        for (const auto& file : theirs) EXPECT_EQ(test::ReadFileBytes(c.folder + L"\\" + file.first), file.second);
        EXPECT_TRUE(test::ReadFileBytes(c.folder + L"\\record.txt") == record) << "the copied record changed";
        EXPECT_TRUE(test::FileExists(c.folder + L"\\Quillbox.exe"));
        EXPECT_TRUE(test::ReadFileBytes(Installed(L"abc.dic")) == ABC) << "abc.dic changed";
        EXPECT_TRUE(test::ReadFileBytes(Installed(L"xyz.dic")) == XYZ) << "xyz.dic changed";
        EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"2024-05-01");
        EXPECT_TRUE(test::ReadFileBytes(kept + L"\\record.txt") == record) << "the real record changed";
        EXPECT_TRUE(test::FileExists(kept + L"\\Quillbox.exe"));
        test::RemoveTree(c.folder);
    }
    EXPECT_EQ(UninstallEntries(), std::vector<std::wstring>{SETUP_ID});
}

// Before the first install, another user planted a link at Removed\ leading to a folder of
// theirs (a read-only file in it), and a folder at Setups\<id>\ holding a Quillbox.exe of other
// bytes, leftovers at the names of the files being written, and a folder of theirs. The install
// keeps the wizard's own bytes, readable by every user for the entry's icon; the removal takes
// the dictionaries and only the names the wizard writes, and nothing behind the link.
TEST_F(InstalledAppsE2E, PlantedFoldersAndLinksBeforeTheFirstInstall) {
    const std::wstring victim = dir.path() + L"\\victim", removed = L"C:\\ProgramData\\Quillbox\\Removed";
    const std::wstring kept = RecordFolder(SETUP_ID);
    ASSERT_TRUE(test::MakeDirs(victim));
    ASSERT_TRUE(test::WriteFileBytes(victim + L"\\precious.txt", "precious"));
    ASSERT_TRUE(test::WriteFileBytes(victim + L"\\readonly.txt", "read-only"));
    ASSERT_TRUE(SetFileAttributesW((victim + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(test::MakeDirs(kept + L"\\theirs"));
    ASSERT_EQ(faults::RunShell("ln -s '" + faults::UnixPath(victim) + "' '" + faults::UnixPath(removed) + "'",
                               dir.path() + L"\\sh"),
              0);
    ASSERT_TRUE(test::WriteFileBytes(kept + L"\\theirs\\file.txt", "theirs"));
    for (const wchar_t* name : {L"Quillbox.exe", L"Quillbox.exe.new", L"dict_ver.dll.new", L"record.txt.new"})
        ASSERT_TRUE(test::WriteFileBytes(kept + L"\\" + name, "planted"));

    InstallBoth();
    EXPECT_TRUE(test::ReadFileBytes(kept + L"\\Quillbox.exe") == test::ReadFileBytes(machine->wizardExe))
        << "the kept wizard is not the wizard's bytes";
    EXPECT_TRUE(test::ReadFileBytes(kept + L"\\dict_ver.dll") == test::ReadFileBytes(machine->wizardDir + L"\\dict_ver.dll"))
        << "the kept version library is not the wizard's";
    for (const wchar_t* name : {L"Quillbox.exe.new", L"dict_ver.dll.new", L"record.txt.new"})
        EXPECT_FALSE(test::FileExists(kept + L"\\" + name)) << test::Utf8(name);
    // Read back where this system keeps permissions: nobody but SYSTEM, the Administrators and
    // the account that owns %ProgramData% may change the kept wizard, and every user may read it.
    {
        qb::ScopedHandle file(CreateFileW((kept + L"\\Quillbox.exe").c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        qb::ScopedLocalMemory owned(descriptor);
        ASSERT_NE(dacl, nullptr);
        bool everyUserReads = false;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* raw = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, &raw));
            const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
            PSID sid = const_cast<DWORD*>(&ace->SidStart);
            const bool everyone = IsWellKnownSid(sid, WinWorldSid) || IsWellKnownSid(sid, WinBuiltinUsersSid);
            if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || !everyone) continue;
            everyUserReads = everyUserReads || (ace->Mask & FILE_READ_DATA) != 0;
            EXPECT_EQ(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE), 0u);
        }
        EXPECT_TRUE(everyUserReads) << "the entry's icon cannot be read by every user";
    }

    const bool linkMovable = NameIsItself(removed);
    std::unique_ptr<Wizard> removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    // Where the system cannot move the link as itself, the running copy has nowhere to go: the
    // removal says so rather than follow the link.
    EXPECT_EQ(removal->WaitForExit(), linkMovable ? 0u : static_cast<DWORD>(WIZ_EXIT_INSTALL_FAILED)) << Log();
    ExpectGone(L"abc");
    ExpectGone(L"xyz");
    EXPECT_EQ(test::ReadFileBytes(victim + L"\\precious.txt"), "precious");
    EXPECT_EQ(test::ReadFileBytes(victim + L"\\readonly.txt"), "read-only");
    std::vector<std::wstring> behindTheLink;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((victim + L"\\*").c_str(), &data));
    if (find) {
        do {
            if (data.cFileName[0] != L'.') behindTheLink.push_back(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
    }
    EXPECT_EQ(behindTheLink, (std::vector<std::wstring>{L"precious.txt", L"readonly.txt"}));
    EXPECT_EQ(test::ReadFileBytes(kept + L"\\theirs\\file.txt"), "theirs") << "a file the wizard did not write";
    EXPECT_FALSE(test::FileExists(kept + L"\\dict_ver.dll"));
    if (!linkMovable) {
        ASSERT_EQ(faults::RunShell("rm '" + faults::UnixPath(removed) + "'", dir.path() + L"\\sh"), 0);
    }
}

// A setup id that Windows would read as another name ("abc." is the folder "abc") or as a
// device ("nul", "com1.x") is not the entry's name: the digest of the package names is, so the
// install leaves one entry, its record, and a removal that takes everything.
TEST_F(InstalledAppsE2E, SetupIdsWindowsWouldReadOtherwiseGiveTheDigest) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC)}, true));
    const std::wstring digest = DigestSetupId({L"abc.dir"});
    for (const wchar_t* id : {L"abc.", L"nul", L"com1.x"}) {
        SCOPED_TRACE(test::Utf8(id));
        WriteSetupInfo(machine->wizardDir, id, L"", L"Acme Dictionaries Ltd.");
        ASSERT_EQ(RunSilently(machine->wizardExe, L"/S"), 0u);
        EXPECT_EQ(UninstallEntries(), std::vector<std::wstring>{digest});
        EXPECT_TRUE(test::FileExists(RecordFolder(digest) + L"\\record.txt"));
        EXPECT_FALSE(test::FileExists(RecordFolder(L"abc")));
        std::unique_ptr<Wizard> removal = StartEntryCommand(digest, L"QuietUninstallString");
        ASSERT_TRUE(removal);
        EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
        ExpectGone(L"abc");
        ExpectNothingOfTheSetupLeft(digest);
    }
}

}  // namespace
