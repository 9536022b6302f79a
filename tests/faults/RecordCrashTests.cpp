// The removal record and the entry of installed apps under kills: an install killed at every
// point, its record's included, and the kept copy's removal killed at every point. Right
// after each kill an entry that is listed must lead to a kept copy and a record, and every
// dictionary must be whole or removed and unregistered; the next run (an install, the
// entry's removal, or the setup folder's own) must settle it so that the entry's removal
// then takes everything: files, sections, pictures, the entry and the record's folder.
#include "base/CrashPoint.h"
#include "install/SetupIdentity.h"
#include "tests/e2e/InstalledAppsSupport.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

#define CRASH_WIZARD_NAME L"QuillboxCrashPoints.exe"
#define CRASH_SETUP_ID L"crash.setup"

const std::string ABC_DATA = test::PatternBytes(5000, 31);
const std::string XYZ_DATA = test::PatternBytes(7000, 32);

class RecordCrashTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        RemoveInstalledApps();
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC_DATA)}, true));
        machine->AddPackage(L"xyz.dir", MakePackage({Xyz(XYZ_DATA)}));
        machine->AddPicture(L"abc", "BMabc");
        machine->AddPicture(L"xyz", "BMxyz");
        const std::wstring info = L"\xFEFF[setup]\r\nid=" CRASH_SETUP_ID L"\r\n";
        test::WriteFileBytes(machine->wizardDir + L"\\" SETUP_INFO_FILE_NAME,
                             std::string(reinterpret_cast<const char*>(info.data()), info.size() * sizeof(wchar_t)));
        crashWizard = machine->wizardDir + L"\\" CRASH_WIZARD_NAME;
        ASSERT_TRUE(CopyFileW((test::ExeDir() + L"Quillbox_crashpoints.exe").c_str(), crashWizard.c_str(), FALSE));
    }
    void TearDown() override {
        RemoveInstalledApps();
        FaultTest::TearDown();
    }

    static DWORD Run(const std::wstring& exe, const std::wstring& switches, int crashAt = 0) {
        if (crashAt > 0) SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, std::to_wstring(crashAt).c_str());
        Wizard wizard(exe, switches);
        const DWORD code = wizard.WaitForExit(INSTALL_WAIT_MS);
        SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, nullptr);
        return code;
    }

    static std::wstring KeptCopy() { return RecordFolder(CRASH_SETUP_ID) + L"\\Quillbox.exe"; }

    // The entry's quiet removal when the entry is listed, else the setup folder's own.
    DWORD RemoveBestWay() const {
        std::wstring exe, arguments;
        if (SplitCommand(EntryValue(CRASH_SETUP_ID, L"QuietUninstallString"), exe, arguments))
            return Run(exe, arguments);
        return Run(machine->wizardExe, L"/S /UNINSTALL");
    }

    // A listed entry never leads nowhere, and never names a dictionary that is not there.
    void ExpectEntryConsistent() const {
        if (!EntryExists(CRASH_SETUP_ID)) return;
        EXPECT_TRUE(test::FileExists(KeptCopy())) << "listed, but its UninstallString leads nowhere";
        EXPECT_TRUE(test::FileExists(RecordFolder(CRASH_SETUP_ID) + L"\\record.txt")) << "listed without its record";
    }

    void ExpectDictionarySafe(const wchar_t* id, const std::string& data) const {
        SCOPED_TRACE(test::Utf8(id));
        const std::wstring target = Installed((std::wstring(id) + L".dic").c_str());
        if (test::FileExists(target)) {
            EXPECT_EQ(test::ReadFileBytes(target), data) << "a dictionary is partial";
        } else {
            EXPECT_NE(IniValue(machine->hostConfig, id, L"id"), id) << "removed but still registered";
        }
    }

    void ExpectInstalledAndListed() const {
        EXPECT_EQ(test::ReadFileBytes(Installed(L"abc.dic")), ABC_DATA);
        EXPECT_EQ(test::ReadFileBytes(Installed(L"xyz.dic")), XYZ_DATA);
        EXPECT_EQ(EntryValue(CRASH_SETUP_ID, L"abc", L"Dictionaries"), L"2024-05-01");
        EXPECT_EQ(EntryValue(CRASH_SETUP_ID, L"xyz", L"Dictionaries"), L"2024-05-01");
        EXPECT_FALSE(EntryValue(CRASH_SETUP_ID, L"DisplayName").empty());
        ExpectEntryConsistent();
    }

    static std::string Listing(const std::wstring& folder) {
        std::string left;
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
        if (find) {
            do left += test::Utf8(data.cFileName) + " ";
            while (FindNextFileW(find.get(), &data));
        }
        return left;
    }

    void ExpectNothingLeft() const {
        for (const wchar_t* id : {L"abc", L"xyz"}) {
            SCOPED_TRACE(test::Utf8(id));
            const std::wstring target = Installed((std::wstring(id) + L".dic").c_str());
            EXPECT_FALSE(test::FileExists(target));
            for (const wchar_t* suffix : WORK_FILE_SUFFIXES) EXPECT_FALSE(test::FileExists(target + suffix));
            EXPECT_NE(IniValue(machine->hostConfig, id, L"id"), id);
            EXPECT_FALSE(test::FileExists(machine->hostImages + L"\\" + id + L".bmp"));
        }
        EXPECT_FALSE(EntryExists(CRASH_SETUP_ID));
        const std::string left = Listing(RecordFolder(CRASH_SETUP_ID));
        EXPECT_FALSE(test::FileExists(RecordFolder(CRASH_SETUP_ID))) << "the record's folder is left: " << left;
    }

    std::wstring crashWizard;
};

TEST_F(RecordCrashTest, InstallKilledAtEveryStepThenSettledByTheNextRun) {
    int killed = 0;
    for (int point = 1; point < 100; ++point) {
        SCOPED_TRACE("install killed at point " + std::to_string(point));
        const DWORD code = Run(crashWizard, L"/S", point);
        if (code != QB_CRASH_EXIT_CODE) {
            EXPECT_EQ(code, 0u) << "the install ran to its end";
            ExpectInstalledAndListed();
            EXPECT_EQ(RemoveBestWay(), 0u);
            ExpectNothingLeft();
            break;
        }
        ++killed;
        ExpectDictionarySafe(L"abc", ABC_DATA);
        ExpectDictionarySafe(L"xyz", XYZ_DATA);
        ExpectEntryConsistent();
        // The next install, or, with everything in place, the run that finds it up to date.
        EXPECT_EQ(Run(machine->wizardExe, L"/S"), 0u);
        ExpectInstalledAndListed();
        EXPECT_EQ(RemoveBestWay(), 0u);
        ExpectNothingLeft();
    }
    std::cout << "[ figure ] install with its record killed at " << killed << " points\n";
    EXPECT_GE(killed, 10);
}

TEST_F(RecordCrashTest, RemovalFromTheRecordKilledAtEveryStepThenSettledByTheNextRun) {
    int killed = 0;
    for (int point = 1; point < 100; ++point) {
        SCOPED_TRACE("removal killed at point " + std::to_string(point));
        // Installed by the crash-point build, so that the kept copy is that build too.
        ASSERT_EQ(Run(crashWizard, L"/S"), 0u);
        ExpectInstalledAndListed();
        const DWORD code = Run(KeptCopy(), L"/UNINSTALL /S", point);
        if (code != QB_CRASH_EXIT_CODE) {
            EXPECT_EQ(code, 0u) << "the removal ran to its end";
            ExpectNothingLeft();
            break;
        }
        ++killed;
        ExpectDictionarySafe(L"abc", ABC_DATA);
        ExpectDictionarySafe(L"xyz", XYZ_DATA);
        ExpectEntryConsistent();
        // Every other kill is followed by an install first.
        if (point % 2 == 0) {
            EXPECT_EQ(Run(machine->wizardExe, L"/S"), 0u);
            ExpectInstalledAndListed();
        }
        EXPECT_EQ(RemoveBestWay(), 0u);
        ExpectNothingLeft();
    }
    std::cout << "[ figure ] removal from the record killed at " << killed << " points\n";
    EXPECT_GE(killed, 10);
}

// Version 2 of the setup (the same id) upgrades abc and adds xyz, killed at each of its points;
// then the entry that version 1 left is run. Whatever the kill left placed, the record and the
// pending mark (written before the first dictionary is touched) name it together, so the
// entry's removal takes everything and nothing of the setup is left without an entry.
TEST_F(RecordCrashTest, SecondVersionKilledAtEveryStepThenTheEntryTakesEverything) {
    const std::string newerAbc = test::PatternBytes(6000, 33);
    const std::string version1 = MakePackage({Abc(ABC_DATA)}, true);
    const std::string version2 = MakePackage({{L"abc", L".dic", L"2024-06-01", ABC_NAME, newerAbc}}, true);
    const std::string xyzPackage = test::ReadFileBytes(machine->wizardDir + L"\\xyz.dir");
    int killed = 0;
    for (int point = 1; point < 100; ++point) {
        SCOPED_TRACE("version 2 killed at point " + std::to_string(point));
        machine->AddPackage(L"abc.dir", version1);
        DeleteFileW((machine->wizardDir + L"\\xyz.dir").c_str());
        ASSERT_EQ(Run(machine->wizardExe, L"/S"), 0u);
        ASSERT_TRUE(EntryExists(CRASH_SETUP_ID));
        machine->AddPackage(L"abc.dir", version2);
        machine->AddPackage(L"xyz.dir", xyzPackage);
        const DWORD code = Run(crashWizard, L"/S", point);
        if (code == QB_CRASH_EXIT_CODE) {
            ++killed;
        } else {
            EXPECT_EQ(code, 0u) << "version 2 ran to its end";
        }
        // Mid-upgrade abc may be moved aside for recovery to settle; never partial at its name.
        const std::string abc = test::ReadFileBytes(Installed(L"abc.dic"));
        EXPECT_TRUE(!test::FileExists(Installed(L"abc.dic")) || abc == ABC_DATA || abc == newerAbc) << "abc is partial";
        ExpectDictionarySafe(L"xyz", XYZ_DATA);
        ExpectEntryConsistent();
        std::wstring exe, arguments;
        ASSERT_TRUE(SplitCommand(EntryValue(CRASH_SETUP_ID, L"QuietUninstallString"), exe, arguments))
            << "the setup is on the machine without an entry";
        EXPECT_EQ(Run(exe, arguments), 0u);
        ExpectNothingLeft();
        if (code != QB_CRASH_EXIT_CODE) break;
    }
    std::cout << "[ figure ] version 2 killed at " << killed << " points\n";
    EXPECT_GE(killed, 10);
}

}  // namespace
}  // namespace faults
