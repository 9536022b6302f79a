// The real Quillbox.exe walked by keyboard alone, with real input (SendInput), on every page.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/ProcessControl.h"
#include "standins/lexora/LexoraStandin.h"
#include "standins/lxdsvc/ServiceStop.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

std::wstring BinDir() {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW((test::ExeDir() + L"..\\..\\bin\\").c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

PackageEntry Abc(const std::string& data) { return {L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", data}; }
PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", L"XYZ汉英词典", data}; }

bool OnFinishedPage(HWND dlg) {
    return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH) && ControlText(dlg, IDC_BTN_MAINDLG_CANCEL) == WIZ_TEXT_FINISH;
}

using Chord = std::vector<WORD>;
const Chord ENTER{VK_RETURN}, SPACE{VK_SPACE}, ESC{VK_ESCAPE}, TAB{VK_TAB}, BACKTAB{VK_SHIFT, VK_TAB},
    ALT_F4{VK_MENU, VK_F4}, ALT_N{VK_MENU, 'N'}, ALT_C{VK_MENU, 'C'}, ALT_R{VK_MENU, 'R'};

// A key that does not do what it should leaves the wizard waiting; this much is plenty for one
// that does.
const DWORD KEY_OUTCOME_MS = 15000;

enum class KeyPage { Welcome, UpToDate, HostNotFound, FinishedSingle, FinishedSeveral };

// The control each page gives the focus when it appears.
int FocusOf(KeyPage page) {
    switch (page) {
    case KeyPage::Welcome: return IDC_BTN_MAINDLG_NEXT;
    case KeyPage::HostNotFound: return IDC_BTN_MAINDLG_DOWNLOAD;
    default: return IDC_BTN_MAINDLG_CANCEL;
    }
}

bool HasFocus(HWND dlg, int id) {
    return WaitUntil([&] { return FocusedWindow(dlg) == GetDlgItem(dlg, id); }, KEY_OUTCOME_MS);
}

struct KeyCase {
    const char* name;
    KeyPage page;
    std::vector<Chord> keys;
    int focusBeforeLastKey;  // 0: the page's own, checked when it appears
    DWORD exitCode;  // STILL_ACTIVE: the wizard goes on to its finished page
    bool hostStarted;
};

class WizardKeys : public ::testing::Test {
protected:
    void TearDown() override {
        Machine::Unregister();
        test::EndProcessesNamed(L"Lexora.exe");
        test::EndProcessesNamed(DICT_SERVICE_NAME);
    }

    // A machine of its own per case, so that every case starts from the same files.
    Machine& FreshMachine() {
        Machine::Unregister();
        test::EndProcessesNamed(L"Lexora.exe");
        machines.push_back(std::make_unique<Machine>(dir.path() + L"\\m" + std::to_wstring(machines.size())));
        Machine& m = *machines.back();
        EXPECT_TRUE(m.Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        return m;
    }

    // The dialog on the page asked for, reached from the start by keys alone.
    static HWND OpenOn(Wizard& wizard, KeyPage page) {
        HWND dlg = wizard.WaitForDialog();
        if (dlg == nullptr || !BringToForeground(dlg)) return nullptr;
        if (page == KeyPage::FinishedSingle || page == KeyPage::FinishedSeveral) {
            EXPECT_TRUE(HasFocus(dlg, IDC_BTN_MAINDLG_NEXT)) << "welcome page";
            TypeChord(ENTER);
            if (!WaitUntil([&] { return OnFinishedPage(dlg); }, KEY_OUTCOME_MS)) return nullptr;
        }
        return dlg;
    }

    test::TempDir dir{L"keys"};
    std::vector<std::unique_ptr<Machine>> machines;
};

TEST_F(WizardKeys, EveryPageAnswersItsKeys) {
    const int NEXT = IDC_BTN_MAINDLG_NEXT, BUTTON = IDC_BTN_MAINDLG_CANCEL, BOX = IDC_CHK_MAINDLG_LAUNCH;
    const KeyCase cases[] = {
        {"welcome: Enter installs", KeyPage::Welcome, {ENTER}, 0, STILL_ACTIVE, false},
        {"welcome: Space installs", KeyPage::Welcome, {SPACE}, 0, STILL_ACTIVE, false},
        {"welcome: Alt+N installs", KeyPage::Welcome, {ALT_N}, 0, STILL_ACTIVE, false},
        {"welcome: Tab, Tab back to next, Enter", KeyPage::Welcome, {TAB, TAB, ENTER}, NEXT, STILL_ACTIVE, false},
        {"welcome: Alt+C cancels", KeyPage::Welcome, {ALT_C}, 0, 1, false},
        {"welcome: Tab to cancel, Space", KeyPage::Welcome, {TAB, SPACE}, BUTTON, 1, false},
        {"welcome: Shift+Tab to cancel, Enter", KeyPage::Welcome, {BACKTAB, ENTER}, BUTTON, 1, false},
        {"welcome: Esc", KeyPage::Welcome, {ESC}, 0, 2, false},
        {"welcome: Alt+F4", KeyPage::Welcome, {ALT_F4}, 0, 2, false},
        {"up to date: Enter closes", KeyPage::UpToDate, {ENTER}, 0, 1, false},
        {"up to date: Tab stays, Space closes", KeyPage::UpToDate, {TAB, SPACE}, BUTTON, 1, false},
        {"up to date: Esc", KeyPage::UpToDate, {ESC}, 0, 2, false},
        {"up to date: Alt+F4", KeyPage::UpToDate, {ALT_F4}, 0, 2, false},
        {"host not found: Enter downloads", KeyPage::HostNotFound, {ENTER}, 0, 1, false},
        {"host not found: Tab to close, Space", KeyPage::HostNotFound, {TAB, SPACE}, BUTTON, 1, false},
        {"host not found: Esc", KeyPage::HostNotFound, {ESC}, 0, 2, false},
        {"host not found: Alt+F4", KeyPage::HostNotFound, {ALT_F4}, 0, 2, false},
        {"finished, several: Enter finishes", KeyPage::FinishedSeveral, {ENTER}, 0, 1, true},
        {"finished, several: Space finishes", KeyPage::FinishedSeveral, {SPACE}, 0, 1, true},
        {"finished, several: Alt+C finishes", KeyPage::FinishedSeveral, {ALT_C}, 0, 1, true},
        {"finished, several: Alt+R clears the box, Alt+C", KeyPage::FinishedSeveral, {ALT_R, ALT_C}, BOX, 1, false},
        {"finished, several: Shift+Tab to the box, Space, Tab, Enter", KeyPage::FinishedSeveral,
         {BACKTAB, SPACE, TAB, ENTER}, BUTTON, 1, false},
        {"finished, several: Esc", KeyPage::FinishedSeveral, {ESC}, 0, 2, false},
        {"finished, several: Alt+F4", KeyPage::FinishedSeveral, {ALT_F4}, 0, 2, false},
        {"finished, single: Enter finishes", KeyPage::FinishedSingle, {ENTER}, 0, 1, true},
        {"finished, single: Tab to the box, Space, Shift+Tab, Space", KeyPage::FinishedSingle,
         {TAB, SPACE, BACKTAB, SPACE}, BUTTON, 1, false},
        // Enter away from the buttons is IDOK, which closes without the host although the box is ticked.
        {"finished, single: Tab to the box, Enter", KeyPage::FinishedSingle, {TAB, ENTER}, BOX, 1, false},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        Machine& m = FreshMachine();
        if (c.page != KeyPage::HostNotFound) m.Register();
        if (c.page == KeyPage::UpToDate) m.AddInstalled(L"abc.dic", "newer", 2030);
        if (c.page == KeyPage::FinishedSeveral) {
            m.AddPackage(L"dicts.dir", MakePackage({Abc("abc data"), Xyz("xyz data")}));
        } else {
            m.AddPackage(L"abc.dir", MakePackage({Abc("abc data")}));
        }

        Wizard wizard(m.wizardExe);
        HWND dlg = OpenOn(wizard, c.page);
        ASSERT_NE(dlg, nullptr);
        EXPECT_TRUE(HasFocus(dlg, FocusOf(c.page)));
        for (size_t i = 0; i + 1 < c.keys.size(); ++i) TypeChord(c.keys[i]);
        if (c.focusBeforeLastKey != 0) {
            EXPECT_TRUE(HasFocus(dlg, c.focusBeforeLastKey));
        }
        TypeChord(c.keys.back());

        if (c.exitCode == STILL_ACTIVE) {
            EXPECT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }, KEY_OUTCOME_MS));
            EXPECT_TRUE(HasFocus(dlg, IDC_BTN_MAINDLG_CANCEL));
            TypeChord(ESC);
            EXPECT_EQ(wizard.WaitForExit(KEY_OUTCOME_MS), 2u);
        } else {
            EXPECT_EQ(wizard.WaitForExit(KEY_OUTCOME_MS), c.exitCode);
        }
        EXPECT_EQ(test::FileExists(m.hostDir + L"\\" LEXORA_STARTS_FILE), c.hostStarted);
    }
}

// The installing page: with the buttons disabled, the control that shows the progress has the
// focus, and no key closes the dialog or starts anything. An upgrade whose file another program
// holds keeps the worker waiting for the service to end, which the test decides.
TEST_F(WizardKeys, InstallingPageKeepsTheFocusAndIgnoresEveryKey) {
    struct Case {
        const char* name;
        bool several;
        int focus;
    } cases[] = {{"several", true, IDC_LST_MAINDLG_INFO}, {"single", false, IDC_STC_MAINDLG_TIPINFO}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine& m = FreshMachine();
        m.Register();
        if (c.several) {
            m.AddPackage(L"dicts.dir", MakePackage({Xyz("new xyz"), Abc("abc data")}));
        } else {
            m.AddPackage(L"xyz.dir", MakePackage({Xyz("new xyz")}));
        }
        m.AddInstalled(L"xyz.dic", "old xyz", 2001);
        test::WriteFileBytes(m.hostDir + L"\\" STANDIN_REPAIR_REFUSE_FILE, "");
        Wizard service(m.serviceExe);
        ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));
        qb::ScopedHandle held(CreateFileW((m.dictData + L"\\xyz.dic").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());

        Wizard wizard(m.wizardExe);
        HWND dlg = OpenOn(wizard, KeyPage::Welcome);
        ASSERT_NE(dlg, nullptr);
        TypeChord(ENTER);
        // The worker is held once it has shown the upgrade's first line.
        const std::wstring begin = L"正在升级您本地的《XYZ汉英词典》，请稍候 ...";
        ASSERT_TRUE(WaitUntil([&] {
            return c.several ? ListLines(dlg, IDC_LST_MAINDLG_INFO) == std::vector<std::wstring>{begin}
                             : ControlText(dlg, IDC_STC_MAINDLG_TIPINFO) == begin;
        }));
        EXPECT_FALSE(Enabled(dlg, IDC_BTN_MAINDLG_CANCEL));
        EXPECT_TRUE(HasFocus(dlg, c.focus));
        EXPECT_TRUE(Visible(dlg, c.focus));

        if (c.several) {
            for (const Chord& chord : {ESC, ENTER, SPACE, ALT_F4, ALT_C, ALT_N, TAB, BACKTAB}) TypeChord(chord);
            // Keys are handled in order: once Home has selected the list's line, the others are done.
            TypeChord({VK_HOME});
            EXPECT_TRUE(WaitUntil([&] {
                return SendMessageW(GetDlgItem(dlg, IDC_LST_MAINDLG_INFO), LB_GETCURSEL, 0, 0) == 0;
            }, KEY_OUTCOME_MS));
            EXPECT_TRUE(wizard.Running());
            EXPECT_TRUE(IsWindowVisible(dlg));
            EXPECT_FALSE(OnFinishedPage(dlg));
            EXPECT_TRUE(Visible(dlg, IDC_PRG_MAINDLG_PROGRESS));
        }

        held.reset();
        qb::ScopedHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, STANDIN_SERVICE_STOP_EVENT));
        ASSERT_TRUE(stop.valid());
        SetEvent(stop.get());
        ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));
        EXPECT_TRUE(HasFocus(dlg, IDC_BTN_MAINDLG_CANCEL));
        EXPECT_EQ(test::ReadFileBytes(m.dictData + L"\\xyz.dic"), "new xyz");
        TypeChord(ESC);
        EXPECT_EQ(wizard.WaitForExit(), 2u);
    }
}

// The finish with the box ticked stops the service with the dialog hidden, for up to 20 s; a
// second start meanwhile brings the dialog back and ends at once instead of waiting it out.
TEST_F(WizardKeys, SecondStartIsAnsweredWhileTheFinishStopsTheService) {
    Machine& m = FreshMachine();
    m.Register();
    m.AddPackage(L"abc.dir", MakePackage({Abc("abc data")}));
    test::WriteFileBytes(m.hostDir + L"\\" STANDIN_REPAIR_REFUSE_FILE, "");
    Wizard service(m.serviceExe);
    ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));

    Wizard first(m.wizardExe);
    HWND dlg = OpenOn(first, KeyPage::FinishedSingle);
    ASSERT_NE(dlg, nullptr);
    TypeChord(ENTER);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(dlg); }));

    // Held up, the second start would wait out the repair tool's 10 s of polls.
    const DWORD UNHELD_START_MS = 5000;
    const DWORD start = GetTickCount();
    Wizard second(m.wizardExe);
    EXPECT_EQ(second.WaitForExit(UNHELD_START_MS), 0u);
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, UNHELD_START_MS);
    std::printf("second start while the service is being stopped: ended after %lu ms\n", took);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(dlg) != FALSE; }, UNHELD_START_MS));
    EXPECT_TRUE(first.Running());

    qb::ScopedHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, STANDIN_SERVICE_STOP_EVENT));
    ASSERT_TRUE(stop.valid());
    SetEvent(stop.get());
    EXPECT_EQ(first.WaitForExit(), 1u);
    EXPECT_EQ(service.WaitForExit(), 0u) << "the service was terminated, not stopped";
    EXPECT_EQ(IniValue(m.hostConfig, L"abc", L"enable"), L"1");
    EXPECT_TRUE(test::FileExists(m.hostDir + L"\\" LEXORA_STARTS_FILE));
}

}  // namespace
