// A removal killed at every point where it changes a file. Right after each kill every
// dictionary must be installed and registered, installed and unregistered, or removed and
// unregistered (never removed and still registered), and every other section of the host's
// file must be as before; the next run (a removal, or an install and then a removal) must
// settle it.
#include "base/CrashPoint.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

#define CRASH_WIZARD_NAME L"QuillboxCrashPoints.exe"
#define OTHER_SECTIONS 50

const std::string ABC_DATA = test::PatternBytes(5000, 21);
const std::string XYZ_DATA = test::PatternBytes(7000, 22);

class RemovalCrashTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        machine->AddPackage(L"abc.dir", MakePackage({Abc(ABC_DATA)}, true));
        machine->AddPackage(L"xyz.dir", MakePackage({Xyz(XYZ_DATA)}));
        machine->AddPicture(L"abc", "BMabc");
        machine->AddPicture(L"xyz", "BMxyz");
    }

    static std::wstring OtherSection(int i) { return L"other" + std::to_wstring(i); }

    void InstallBoth() {
        std::wstring text;
        for (int i = 0; i < OTHER_SECTIONS; ++i)
            text += L"[" + OtherSection(i) + L"]\r\nid=" + OtherSection(i) + L"\r\nenable=1\r\n";
        machine->WriteHostConfig(text);
        EXPECT_EQ(RunWizard(machine->wizardExe, L"/S"), 0u);
    }

    static DWORD RunWizard(const std::wstring& exe, const wchar_t* switches) {
        Wizard wizard(exe, switches);
        return wizard.WaitForExit(INSTALL_WAIT_MS);
    }

    bool Registered(const wchar_t* id) const { return IniValue(machine->hostConfig, id, L"id") == id; }

    void ExpectSafeAfterKill(const wchar_t* id, const std::string& data) {
        SCOPED_TRACE(test::Utf8(id));
        const std::wstring target = machine->dictData + L"\\" + id + L".dic";
        if (test::FileExists(target)) {
            EXPECT_EQ(test::ReadFileBytes(target), data) << "a dictionary is partial";
        } else {
            EXPECT_FALSE(Registered(id)) << "removed but still registered";
        }
    }

    void ExpectOthersKept() const {
        for (int i = 0; i < OTHER_SECTIONS; ++i) {
            const std::wstring section = OtherSection(i);
            EXPECT_EQ(IniValue(machine->hostConfig, section.c_str(), L"id"), section);
            EXPECT_EQ(IniValue(machine->hostConfig, section.c_str(), L"enable"), L"1");
        }
    }

    void ExpectAllRemoved() {
        for (const wchar_t* id : {L"abc", L"xyz"}) {
            SCOPED_TRACE(test::Utf8(id));
            const std::wstring target = machine->dictData + L"\\" + id + L".dic";
            EXPECT_FALSE(test::FileExists(target));
            for (const wchar_t* suffix : WORK_FILE_SUFFIXES) EXPECT_FALSE(test::FileExists(target + suffix));
            EXPECT_FALSE(Registered(id));
            EXPECT_FALSE(test::FileExists(machine->hostImages + L"\\" + id + L".bmp"));
        }
        ExpectOthersKept();
    }
};

TEST_F(RemovalCrashTest, KilledAtEveryStepThenSettledByTheNextRun) {
    const std::wstring crashWizard = machine->wizardDir + L"\\" CRASH_WIZARD_NAME;
    ASSERT_TRUE(CopyFileW((test::ExeDir() + L"Quillbox_crashpoints.exe").c_str(), crashWizard.c_str(), FALSE));

    int killed = 0;
    for (int point = 1; point < 100; ++point) {
        SCOPED_TRACE("killed at point " + std::to_string(point));
        InstallBoth();
        ASSERT_TRUE(Registered(L"abc") && Registered(L"xyz"));
        SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, std::to_wstring(point).c_str());
        const DWORD code = RunWizard(crashWizard, L"/S /UNINSTALL");
        SetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, nullptr);
        if (code != QB_CRASH_EXIT_CODE) {
            EXPECT_EQ(code, 0u) << "the removal ran to its end";
            ExpectAllRemoved();
            break;
        }
        ++killed;
        ExpectSafeAfterKill(L"abc", ABC_DATA);
        ExpectSafeAfterKill(L"xyz", XYZ_DATA);
        ExpectOthersKept();
        // Every other kill is followed by an install first: it registers a dictionary the
        // kill left unregistered, and the removal after it takes everything.
        if (point % 2 == 0) {
            EXPECT_EQ(RunWizard(machine->wizardExe, L"/S"), 0u);
            EXPECT_TRUE(Registered(L"abc") && Registered(L"xyz"));
            EXPECT_EQ(test::ReadFileBytes(machine->dictData + L"\\abc.dic"), ABC_DATA);
        }
        EXPECT_EQ(RunWizard(machine->wizardExe, L"/S /UNINSTALL"), 0u);
        ExpectAllRemoved();
    }
    std::cout << "[ figure ] removal killed at " << killed << " points\n";
    EXPECT_GE(killed, 8);
}

}  // namespace
}  // namespace faults
