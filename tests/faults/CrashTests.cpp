// The wizard killed at every point of an install where the files change, at moments spread
// over long copies, and two wizards at once on one host. Right after each kill every
// dictionary must be whole (its previous bytes at its name or under its backup name, or its
// new bytes at its name) and the host's configuration must keep every section and key; the
// next start must then finish with every dictionary new and nothing of the engine's left.
#include <iostream>

#include "base/CrashPoint.h"
#include "tests/faults/FaultSupport.h"
#include "tests/faults/UnixMount.h"

namespace faults {
namespace {

#define CRASH_WIZARD_NAME L"QuillboxCrashPoints.exe"
#define OTHER_SECTIONS 300

struct Dictionary {
    std::wstring name;
    std::string before;  // empty: not installed before
    std::string after;
    bool held;  // another program keeps it open (read and write sharing): rewritten in place
};

class CrashTest : public FaultTest {
protected:
    // The host's configuration with many sections of other dictionaries.
    std::wstring OtherSections() const {
        std::wstring text;
        for (int i = 0; i < OTHER_SECTIONS; ++i)
            text += L"[other" + std::to_wstring(i) + L"]\r\nid=other" + std::to_wstring(i) + L"\r\ndesc_name=词典" +
                    std::to_wstring(i) + L"\r\nenable=1\r\n";
        return text;
    }

    void LayOut(const std::vector<Dictionary>& dictionaries) {
        for (const Dictionary& d : dictionaries) {
            DeleteFileW(Installed(d.name.c_str()).c_str());
            for (const wchar_t* suffix : WORK_FILE_SUFFIXES) DeleteFileW((Installed(d.name.c_str()) + suffix).c_str());
            if (!d.before.empty()) machine->AddInstalled(d.name, d.before, 2001);
        }
        machine->WriteHostConfig(OtherSections());
    }

    // What a kill may leave: each dictionary whole at its name, or its previous bytes under
    // the backup name; new bytes at the name are registered or carry their mark. A file held open by another program cannot be renamed, so it is
    // rewritten where it is; while that runs, its complete previous bytes are the backup and
    // the complete new file beside it marks it as being rewritten.
    void ExpectWholeAfterKill(const std::vector<Dictionary>& dictionaries, const std::string& where) {
        SCOPED_TRACE(where);
        for (const Dictionary& d : dictionaries) {
            SCOPED_TRACE(test::Utf8(d.name));
            const std::wstring target = Installed(d.name.c_str());
            const std::string now = test::ReadFileBytes(target);
            const std::string backup = test::ReadFileBytes(BackupPathOf(target));
            const bool targetWhole = test::FileExists(target) && (now == d.after || (!d.before.empty() && now == d.before));
            // New bytes at the name are either marked unregistered or named by the host's file.
            if (test::FileExists(target) && now == d.after && !test::FileExists(UnregisteredMarkOf(target))) {
                const std::wstring id = d.name.substr(0, d.name.find(L'.'));
                EXPECT_EQ(IniValue(machine->hostConfig, id.c_str(), L"id"), id)
                    << "the new dictionary lost its mark before it was registered";
            }
            if (d.before.empty()) {
                EXPECT_TRUE(!test::FileExists(target) || now == d.after) << "a new dictionary is partial";
            } else if (!targetWhole) {
                EXPECT_TRUE(backup == d.before) << "neither the dictionary nor its backup is whole";
                if (test::FileExists(target)) {
                    EXPECT_TRUE(d.held) << "a partial file holds the dictionary's name";
                    EXPECT_TRUE(test::ReadFileBytes(NewFilePathOf(target)) == d.after)
                        << "a file rewritten in place is not marked as such";
                }
            }
        }
        for (int i = 0; i < OTHER_SECTIONS; i += 37) {
            const std::wstring section = L"other" + std::to_wstring(i);
            EXPECT_EQ(IniValue(machine->hostConfig, section.c_str(), L"id"), section);
            EXPECT_EQ(IniValue(machine->hostConfig, section.c_str(), L"desc_name"), L"词典" + std::to_wstring(i));
        }
        EXPECT_EQ(IniValue(machine->hostConfig, L"other299", L"enable"), L"1");
    }

    // Every dictionary new, whole and registered; nothing of the engine's own left.
    void ExpectAllNew(const std::vector<Dictionary>& dictionaries) {
        std::map<std::wstring, std::string> expected;
        for (const Dictionary& d : dictionaries) expected[d.name] = d.after;
        ExpectDataDir(expected);
        for (int i = 0; i < OTHER_SECTIONS; i += 37) {
            const std::wstring section = L"other" + std::to_wstring(i);
            EXPECT_EQ(IniValue(machine->hostConfig, section.c_str(), L"id"), section);
        }
        EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"desc_name"), ABC_NAME);
        EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"desc_name"), XYZ_NAME);
        EXPECT_EQ(IniValue(machine->hostConfig, L"qrs", L"desc_name"), QRS_NAME);
    }

    // The normal wizard, started after a kill, finishes the install.
    void FinishWithTheRealWizard() {
        Wizard again(machine->wizardExe);
        HWND dlg = again.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        if (Visible(dlg, IDC_BTN_MAINDLG_NEXT)) {
            InstallToTheEnd(again, dlg);
        } else {
            Click(dlg, IDC_BTN_MAINDLG_CANCEL);  // already up to date
            EXPECT_EQ(again.WaitForExit(), 1u);
        }
    }

    // The dialog of the wizard, or null once it has ended without one.
    static HWND DialogWhileRunning(Wizard& wizard) {
        HWND dlg = nullptr;
        WaitUntil([&] { return !wizard.Running() || (dlg = wizard.WaitForDialog(50)) != nullptr; }, INSTALL_WAIT_MS);
        return dlg;
    }
};

// Every point of an install where the files change, one kill each: a new dictionary, an
// upgrade by rename, an upgrade of a file the host holds open (rewritten in place), and the
// registration of each in a host configuration of 300 other sections.
TEST_F(CrashTest, KilledAtEveryPointOfTheInstall) {
    const std::vector<Dictionary> dictionaries = {
        {L"abc.dic", test::PatternBytes(300 * KB, 1), test::PatternBytes(310 * KB, 2), false},
        {L"qrs.dic", "", test::PatternBytes(120 * KB, 3), false},
        {L"xyz.dic", test::PatternBytes(90 * KB, 4), test::PatternBytes(70 * KB, 5), true},
    };
    machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n[qrs]\r\ndesc_name=QRS词典\r\n");
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(dictionaries[0].after), Qrs(dictionaries[1].after),
                                                   Xyz(dictionaries[2].after)}));
    const std::wstring crashWizard = machine->wizardDir + L"\\" CRASH_WIZARD_NAME;
    ASSERT_TRUE(CopyFileW((test::ExeDir() + L"Quillbox_crashpoints.exe").c_str(), crashWizard.c_str(), FALSE));

    int killed = 0;
    for (int point = 1; point < 200; ++point) {
        const std::string where = "killed at point " + std::to_string(point);
        LayOut(dictionaries);
        FileHolder holder(Installed(L"xyz.dic"), L"rw", FileHolder::ThisProcess);
        ASSERT_TRUE(holder.holding());
        SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, std::to_wstring(point).c_str());
        Wizard wizard(crashWizard);
        SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, nullptr);
        HWND dlg = DialogWhileRunning(wizard);
        ASSERT_NE(dlg, nullptr) << where << ": ended before its dialog";
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return !wizard.Running() || OnFinishedPage(dlg); }, INSTALL_WAIT_MS));
        if (wizard.Running()) {
            LeaveFinishedPage(wizard, dlg);
            ExpectAllNew(dictionaries);
            break;  // no point left in this install
        }
        ASSERT_EQ(wizard.WaitForExit(), static_cast<DWORD>(QB_CRASH_EXIT_CODE)) << where;
        ++killed;
        ExpectWholeAfterKill(dictionaries, where);
        FinishWithTheRealWizard();
        SCOPED_TRACE(where);
        ExpectAllNew(dictionaries);
        if (HasFailure()) break;
    }
    EXPECT_GE(killed, 12) << "fewer crash points than the install has steps";
    std::cout << "[ info     ] killed at " << killed << " points, then finished\n";
}

// The points of the start: the wizard killed while it settles what an earlier kill left
// (each state an install goes through), then started again.
TEST_F(CrashTest, KilledWhileSettlingAnEarlierKill) {
    const std::string before = test::PatternBytes(200 * KB, 6), after = test::PatternBytes(220 * KB, 7);
    machine->AddPackage(L"abc.dir", MakePackage({Abc(after)}));
    const std::wstring crashWizard = machine->wizardDir + L"\\" CRASH_WIZARD_NAME;
    ASSERT_TRUE(CopyFileW((test::ExeDir() + L"Quillbox_crashpoints.exe").c_str(), crashWizard.c_str(), FALSE));
    const std::wstring target = Installed(L"abc.dic");
    struct Leftover {
        const char* name;
        bool target, held;
        std::string targetBytes;
        bool backup, newFile, copy;
    } leftovers[] = {
        {"backup only", false, false, "", true, false, false},
        {"backup and new file", false, false, "", true, true, false},
        {"rewritten in place", true, false, after.substr(0, 100 * KB), true, true, false},
        {"rewritten in place, held", true, true, after.substr(0, 100 * KB), true, true, false},
        {"copy cut short", true, false, before, false, false, true},
    };
    for (const Leftover& l : leftovers) {
        for (int point = 1; point <= 3; ++point) {
            const std::string where = std::string(l.name) + ", killed at point " + std::to_string(point);
            SCOPED_TRACE(where);
            LayOut({{L"abc.dic", "", after, false}});
            // Files as old as the dictionary they came from, so that the package is newer.
            if (l.target) machine->AddInstalled(L"abc.dic", l.targetBytes, 2001);
            if (l.backup) machine->AddInstalled(L"abc.dic" BACKUP_SUFFIX, before, 2001);
            if (l.newFile) test::WriteFileBytes(NewFilePathOf(target), after);
            if (l.copy) test::WriteFileBytes(CopyFilePathOf(target), before.substr(0, 50 * KB));
            std::unique_ptr<FileHolder> holder;
            if (l.held) holder = std::make_unique<FileHolder>(target, L"rw", FileHolder::ThisProcess);
            SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, std::to_wstring(point).c_str());
            {
                Wizard wizard(crashWizard);
                SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, nullptr);
                HWND dlg = DialogWhileRunning(wizard);
                if (dlg != nullptr) {
                    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
                    EXPECT_EQ(wizard.WaitForExit(), 1u);
                }
            }
            // A target beside a backup and a new file was being rewritten in place.
            ExpectWholeAfterKill({{L"abc.dic", before, after, l.target && l.newFile}}, where);
            FinishWithTheRealWizard();
            holder.reset();
            ExpectDataDir({{L"abc.dic", after}});
        }
    }
}

// The real wizard killed at moments spread over an install of large files, where most of the
// time goes into copying: half the kills by TerminateProcess, half by kill -9 of the Wine
// process.
TEST_F(CrashTest, KilledAtMomentsSpreadOverLargeCopies) {
    const std::vector<Dictionary> dictionaries = {
        {L"abc.dic", test::PatternBytes(3 * 1024 * KB, 11), test::PatternBytes(9 * 1024 * KB, 12), false},
        {L"qrs.dic", "", test::PatternBytes(6 * 1024 * KB, 13), false},
        {L"xyz.dic", test::PatternBytes(2 * 1024 * KB, 14), test::PatternBytes(3 * 1024 * KB, 15), true},
    };
    machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n[qrs]\r\ndesc_name=QRS词典\r\n");
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(dictionaries[0].after), Qrs(dictionaries[1].after),
                                                   Xyz(dictionaries[2].after)}));
    const std::wstring scratchName = dir.path().substr(dir.path().find_last_of(L'\\') + 1);
    const test::TempDir killStatus{L"kill"};

    // One install to the end first: how long the copying takes on this machine.
    DWORD fullMs = 0;
    {
        LayOut(dictionaries);
        FileHolder holder(Installed(L"xyz.dic"), L"rw", FileHolder::ThisProcess);
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        const DWORD start = GetTickCount();
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }, INSTALL_WAIT_MS));
        fullMs = GetTickCount() - start;
        LeaveFinishedPage(wizard, dlg);
        ExpectAllNew(dictionaries);
    }
    const int kills = 16;
    int partial = 0;
    for (int k = 1; k <= kills; ++k) {
        const bool unixKill = k % 2 == 0;
        const DWORD at = fullMs * k / (kills + 1);
        const std::string where = std::string(unixKill ? "kill -9" : "TerminateProcess") + " after " +
                                  std::to_string(at) + " of " + std::to_string(fullMs) + " ms";
        SCOPED_TRACE(where);
        LayOut(dictionaries);
        FileHolder holder(Installed(L"xyz.dic"), L"rw", FileHolder::ThisProcess);
        ASSERT_TRUE(holder.holding());
        {
            Wizard wizard(machine->wizardExe);
            HWND dlg = wizard.WaitForDialog();
            ASSERT_NE(dlg, nullptr);
            Click(dlg, IDC_BTN_MAINDLG_NEXT);
            Sleep(at);
            if (unixKill) {
                // As `kill -9` on its Unix process: the wizard's command line holds the test's
                // own scratch folder name, which the shell's own line (its status file lies
                // elsewhere; "[f]aults_...") must not.
                const std::string name = test::Utf8(scratchName);
                ASSERT_EQ(RunShell("pkill -9 -f '[" + name.substr(0, 1) + "]" + name.substr(1) + "'", killStatus.path()), 0);
                ASSERT_NE(wizard.WaitForExit(), static_cast<DWORD>(STILL_ACTIVE));
            } else {
                ASSERT_TRUE(wizard.Terminate());
            }
        }
        for (const Dictionary& d : dictionaries)
            if (test::FileExists(NewFilePathOf(Installed(d.name.c_str())))) ++partial;
        ExpectWholeAfterKill(dictionaries, where);
        FinishWithTheRealWizard();
        ExpectAllNew(dictionaries);
        if (HasFailure()) break;
    }
    std::cout << "[ info     ] install of " << fullMs << " ms killed " << kills << " times, " << partial
              << " times with a new file half written\n";
}

// Two wizards at once against one host: from two folders with two builds of a dictionary,
// and the same executable started twice at the same moment. One installs, the other says
// that another install is running (the same executable never says so: it brings the first
// one forward) and changes nothing; the dictionary ends as one build, whole.
TEST_F(CrashTest, TwoWizardsAtOnceInstallOneBuildWhole) {
    const std::string buildA = test::PatternBytes(4 * 1024 * KB, 21), buildB = test::PatternBytes(4 * 1024 * KB, 22);
    machine->AddPackage(L"abc.dir", MakePackage({Abc(buildA)}));
    const std::wstring otherDir = dir.path() + L"\\other";
    ASSERT_TRUE(CreateDirectoryW(otherDir.c_str(), nullptr));
    for (const wchar_t* file : {L"Quillbox.exe", L"dict_ver.dll", L"dictconfig.ini"})
        ASSERT_TRUE(CopyFileW((machine->wizardDir + L"\\" + file).c_str(), (otherDir + L"\\" + file).c_str(), FALSE));
    test::WriteFileBytes(otherDir + L"\\abc.dir", MakePackage({Abc(buildB)}));

    for (int round = 0; round < 6; ++round) {
        const bool sameExe = round % 2 == 1;
        SCOPED_TRACE(std::string(sameExe ? "same executable" : "two folders") + ", round " + std::to_string(round));
        DeleteFileW(Installed(L"abc.dic").c_str());
        Wizard first(machine->wizardExe);
        Wizard second(sameExe ? machine->wizardExe : otherDir + L"\\Quillbox.exe");
        // Whoever shows a dialog installs; the other must end, or say another install runs.
        HWND dlgs[2] = {};
        bool done[2] = {};
        Wizard* wizards[2] = {&first, &second};
        ASSERT_TRUE(WaitUntil([&] {
            for (int i = 0; i < 2; ++i) {
                if (done[i]) continue;
                if (!wizards[i]->Running()) {
                    done[i] = true;
                } else if (HWND box = WaitForMessageBox(wizards[i]->processId(), WIZ_TEXT_ANOTHER_INSTALL, 0)) {
                    // A double start of one executable is one wizard: the second waits for
                    // the first one's dialog and brings it forward.
                    EXPECT_FALSE(sameExe) << "a second start of the same executable showed the box";
                    CloseMessageBox(box);
                    done[i] = true;
                } else if ((dlgs[i] = wizards[i]->WaitForDialog(20)) != nullptr) {
                    done[i] = true;
                }
            }
            return done[0] && done[1];
        }));
        int installers = 0;
        for (int i = 0; i < 2; ++i) {
            if (dlgs[i] == nullptr || !wizards[i]->Running()) continue;
            // The same executable may have found the first dialog and brought it forward.
            if (i == 1 && sameExe && dlgs[0] == dlgs[1]) continue;
            ++installers;
            InstallToTheEnd(*wizards[i], dlgs[i]);
        }
        EXPECT_EQ(installers, 1);
        for (Wizard* wizard : wizards) {
            const DWORD code = wizard->WaitForExit();
            EXPECT_TRUE(code == 0 || code == 1 || code == 2) << code;
        }
        const std::string installed = test::ReadFileBytes(Installed(L"abc.dic"));
        EXPECT_TRUE(installed == buildA || installed == buildB) << "a mix of two builds, or partial";
        ExpectDataDir({{L"abc.dic", installed}});
    }
}

bool SetHostLocation(const std::wstring& location) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, KEY_SET_VALUE, &raw) != ERROR_SUCCESS) return false;
    qb::ScopedRegKey key(raw);
    return RegSetValueExW(key.get(), HOST_VALUE_LOCATION, 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()),
                          static_cast<DWORD>((location.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The lock knows the data folder, not its spelling: with the host's Location changed to
// the same folder through another drive letter (or the \\?\ form) while a wizard is open,
// a second wizard from another folder still finds the lock held and changes nothing.
TEST_F(CrashTest, OneLockThroughAnotherDriveLetter) {
    machine->AddPackage(L"abc.dir", MakePackage({Abc(test::PatternBytes(64 * KB, 23))}));
    const std::string root = faults::UnixPath(machine->root);
    const std::string drives = faults::UnixPath(L"C:\\");
    ASSERT_FALSE(root.empty());
    ASSERT_FALSE(drives.empty());
    // The prefix's dosdevices holds a link per drive letter to a Unix folder; C: is reached
    // through it or straight at drive_c.
    const size_t cut = drives.find("/dosdevices/") != std::string::npos ? drives.find("/dosdevices/") : drives.rfind("/drive_c");
    ASSERT_NE(cut, std::string::npos) << drives;
    const std::string link = drives.substr(0, cut) + "/dosdevices/q:";
    ASSERT_EQ(faults::RunShell("rm -f '" + link + "' && ln -s '" + root + "' '" + link + "'", dir.path() + L"\\sh"), 0)
        << link;
    const std::wstring hostThroughQ = L"Q:" + machine->hostDir.substr(machine->root.size());
    ASSERT_TRUE(test::FileExists(L"Q:" + machine->hostExe.substr(machine->root.size()))) << "the drive letter does not reach the folder";
    const std::wstring otherDir = dir.path() + L"\\other";
    ASSERT_TRUE(CreateDirectoryW(otherDir.c_str(), nullptr));
    for (const wchar_t* file : {L"Quillbox.exe", L"dict_ver.dll", L"dictconfig.ini", L"abc.dir"})
        ASSERT_TRUE(CopyFileW((machine->wizardDir + L"\\" + file).c_str(), (otherDir + L"\\" + file).c_str(), FALSE));

    for (const std::wstring& spelling : {hostThroughQ, L"\\\\?\\" + machine->hostDir}) {
        SCOPED_TRACE(test::Utf8(spelling));
        machine->Register();
        Wizard first(machine->wizardExe);
        HWND dlg = first.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        ASSERT_TRUE(SetHostLocation(spelling));
        Wizard second(otherDir + L"\\Quillbox.exe");
        HWND box = WaitForMessageBox(second.processId(), WIZ_TEXT_ANOTHER_INSTALL);
        ASSERT_NE(box, nullptr) << "a second wizard took a lock of its own";
        CloseMessageBox(box);
        EXPECT_EQ(second.WaitForExit(), 2u);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(first.WaitForExit(), 1u);
    }
    faults::RunShell("rm -f '" + link + "'", dir.path() + L"\\sh");
}

}  // namespace
}  // namespace faults
