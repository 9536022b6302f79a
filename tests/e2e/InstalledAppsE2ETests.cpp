// Windows' list of installed apps: an install leaves an entry and a removal record, and the
// entry's UninstallString, run as the control panel runs it long after the setup folder is
// gone, removes exactly what that setup installed. The real Quillbox.exe throughout.
#include <gtest/gtest.h>

#include <memory>

#include "app/CommandLine.h"
#include "app/WizardTexts.h"
#include "app/resource.h"
#include "base/WorkFileNames.h"
#include "host/ProcessControl.h"
#include "install/SetupIdentity.h"
#include "tests/e2e/InstalledAppsSupport.h"
#include "tests/e2e/WizardDriver.h"

using namespace e2e;

namespace {

#define SETUP_ID L"acme.dictionaries"

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
        KillProcessByName(L"Lexora.exe");
        KillProcessByName(DICT_SERVICE_NAME);
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

// A dictionary the user changed is left with its section, and the entry stays, naming only
// it, while it is there; once the user deletes it, the next removal takes the entry too.
TEST_F(InstalledAppsE2E, ChangedDictionaryIsLeftAndTheEntryStays) {
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
    EXPECT_TRUE(EntryExists(SETUP_ID));
    EXPECT_EQ(EntryValue(SETUP_ID, L"abc", L"Dictionaries"), L"");
    EXPECT_EQ(EntryValue(SETUP_ID, L"xyz", L"Dictionaries"), L"2024-05-01");
    EXPECT_EQ(EntryValue(SETUP_ID, L"DisplayName"), L"XYZ汉英词典");

    ASSERT_TRUE(DeleteFileW(Installed(L"xyz.dic").c_str()));
    removal = StartEntryCommand(SETUP_ID, L"QuietUninstallString");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->WaitForExit(), 0u) << Log();
    // As in the setup folder's removal, a section left without its file is not the removal's
    // to judge: the picture stays with it.
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"id"), L"xyz");
    EXPECT_EQ(test::ReadFileBytes(Picture(L"xyz")), "BMxyz") << "the picture goes only with its section";
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

}  // namespace
