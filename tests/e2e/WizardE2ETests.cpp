// The real Quillbox.exe on a machine laid out in a scratch folder, driven from outside.
#include <gtest/gtest.h>

#include <memory>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/ProcessControl.h"
#include "standins/lexora/LexoraStandin.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

std::wstring BinDir() { return FullPath(test::ExeDir() + L"..\\..\\bin\\"); }

std::wstring ArtifactPath(const std::wstring& name) {
    const std::wstring dir = FullPath(test::ExeDir() + L"..\\..\\artifacts");
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + name + L".bmp";
}

const wchar_t DICT_CONFIG[] =
    L"[abc]\r\nid_net=abc-net\r\ndesc_name=ABC英汉词典\r\ncatalog=英汉\r\n"
    L"[xyz]\r\ndesc_name=XYZ汉英词典\r\nfrom=zh\r\nto=en\r\n";

PackageEntry Abc(const std::string& data) { return {L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", data}; }
PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", L"XYZ汉英词典", data}; }

enum class Page { HostNotFound, UpToDate, Welcome };
enum class Action { CancelButton, Escape, CaptionClose, IdOk, Download };

class WizardE2E : public ::testing::Test {
protected:
    void SetUp() override {
        machine = std::make_unique<Machine>(dir.path());
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteDictConfig(DICT_CONFIG);
    }
    void TearDown() override {
        Machine::Unregister();
        test::EndProcessesNamed(L"Lexora.exe");
        test::EndProcessesNamed(DICT_SERVICE_NAME);
    }

    void Prepare(Page page) {
        if (page == Page::HostNotFound) return;
        machine->Register();
        if (page == Page::UpToDate) {
            machine->AddPackage(L"abc.dir", MakePackage({Abc("new")}));
            machine->AddInstalled(L"abc.dic", "newer", 2030);
        } else {
            machine->AddPackage(L"abc.dir", MakePackage({Abc("new")}));
        }
    }

    static HWND ShownDialog(Wizard& wizard) {
        HWND dlg = wizard.WaitForDialog();
        EXPECT_NE(dlg, nullptr);
        return dlg;
    }

    static bool OnFinishedPage(HWND dlg) {
        return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH) && ControlText(dlg, IDC_BTN_MAINDLG_CANCEL) == WIZ_TEXT_FINISH;
    }

    test::TempDir dir{L"e2e"};
    std::unique_ptr<Machine> machine;
};

TEST_F(WizardE2E, FirstPagesShowTheirTextsAndButtons) {
    struct Case {
        Page page;
        const wchar_t* shot;
        const wchar_t* message;
        bool next, download;
        const wchar_t* button;
    } cases[] = {
        {Page::HostNotFound, L"host-not-found", WIZ_TEXT_HOST_NOT_FOUND, false, true, WIZ_TEXT_CLOSE},
        {Page::UpToDate, L"up-to-date", WIZ_TEXT_UP_TO_DATE, false, false, WIZ_TEXT_CLOSE},
        {Page::Welcome, L"welcome",
         L"词典安装向导将帮助您安装《ABC英汉词典》本地词典数据。\r\n\r\n"
         L"点击“下一步”继续安装过程，点击“取消”退出词典安装向导。",
         true, false, WIZ_TEXT_CANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.shot));
        Prepare(c.page);
        Wizard wizard(machine->wizardExe);
        HWND dlg = ShownDialog(wizard);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(Text(dlg), WIZ_TEXT_TITLE);
        EXPECT_EQ(ControlText(dlg, IDC_STC_MAINDLG_TIPINFO), c.message);
        EXPECT_TRUE(Visible(dlg, IDC_STC_MAINDLG_TIPINFO));
        EXPECT_FALSE(Visible(dlg, IDC_LST_MAINDLG_INFO));
        EXPECT_FALSE(Visible(dlg, IDC_PRG_MAINDLG_PROGRESS));
        EXPECT_FALSE(Visible(dlg, IDC_CHK_MAINDLG_LAUNCH));
        EXPECT_EQ(Visible(dlg, IDC_BTN_MAINDLG_NEXT), c.next);
        EXPECT_EQ(Visible(dlg, IDC_BTN_MAINDLG_DOWNLOAD), c.download);
        if (c.next) {
            EXPECT_EQ(ControlText(dlg, IDC_BTN_MAINDLG_NEXT), WIZ_TEXT_NEXT);
        }
        if (c.download) {
            EXPECT_EQ(ControlText(dlg, IDC_BTN_MAINDLG_DOWNLOAD), WIZ_TEXT_DOWNLOAD);
        }
        EXPECT_EQ(ControlText(dlg, IDC_BTN_MAINDLG_CANCEL), c.button);
        EXPECT_TRUE(SaveScreenshot(dlg, ArtifactPath(c.shot)));
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        Machine::Unregister();
        DeleteFileW((machine->wizardDir + L"\\abc.dir").c_str());
        DeleteFileW((machine->dictData + L"\\abc.dic").c_str());
    }
}

TEST_F(WizardE2E, EveryWayOutOfTheFirstPagesEndsWithItsExitCode) {
    struct Case {
        Page page;
        Action action;
        DWORD exitCode;
    } cases[] = {
        {Page::Welcome, Action::CancelButton, 1}, {Page::Welcome, Action::Escape, 2},
        {Page::Welcome, Action::CaptionClose, 2}, {Page::Welcome, Action::IdOk, 1},
        {Page::UpToDate, Action::Escape, 2},      {Page::UpToDate, Action::CaptionClose, 2},
        {Page::HostNotFound, Action::Download, 1}, {Page::HostNotFound, Action::Escape, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "page " << static_cast<int>(c.page) << ", action "
                                        << static_cast<int>(c.action));
        Prepare(c.page);
        Wizard wizard(machine->wizardExe);
        HWND dlg = ShownDialog(wizard);
        ASSERT_NE(dlg, nullptr);
        switch (c.action) {
        case Action::CancelButton: Click(dlg, IDC_BTN_MAINDLG_CANCEL); break;
        case Action::Escape: PressKey(dlg, VK_ESCAPE); break;
        case Action::CaptionClose: CloseByCaption(dlg); break;
        case Action::IdOk: PostCommand(dlg, IDOK); break;
        case Action::Download: Click(dlg, IDC_BTN_MAINDLG_DOWNLOAD); break;
        }
        EXPECT_EQ(wizard.WaitForExit(), c.exitCode);
        Machine::Unregister();
    }
}

// One entry: texts go to the message line. The box cleared at the end starts nothing.
TEST_F(WizardE2E, SingleUpgradeInstallsAndFinishesWithoutStartingTheHost) {
    machine->Register();
    const std::string data = test::PatternBytes(2048 * 2 + 10, 7);
    machine->AddPackage(L"xyz.dir", MakePackage({Xyz(data)}));
    machine->AddInstalled(L"XYZ.DIC", "old dictionary", 2001);
    machine->AddPicture(L"xyz", "BMxyz-picture");
    machine->WriteHostConfig(L"[xyz]\r\nid=xyz\r\ncatalog=旧目录\r\n");

    Wizard wizard(machine->wizardExe);
    HWND dlg = ShownDialog(wizard);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(ControlText(dlg, IDC_STC_MAINDLG_TIPINFO),
              L"词典安装向导将帮助您升级《XYZ汉英词典》本地词典数据。\r\n\r\n"
              L"点击“下一步”继续安装过程，点击“取消”退出词典安装向导。");
    Click(dlg, IDC_BTN_MAINDLG_NEXT);
    ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));

    EXPECT_EQ(ControlText(dlg, IDC_STC_MAINDLG_TIPINFO), L"已为您成功升级《XYZ汉英词典》到最新的版本。");
    EXPECT_TRUE(Visible(dlg, IDC_STC_MAINDLG_TIPINFO));
    EXPECT_FALSE(Visible(dlg, IDC_LST_MAINDLG_INFO));
    EXPECT_FALSE(Visible(dlg, IDC_PRG_MAINDLG_PROGRESS));
    EXPECT_FALSE(Visible(dlg, IDC_BTN_MAINDLG_NEXT));
    EXPECT_TRUE(Checked(dlg, IDC_CHK_MAINDLG_LAUNCH));
    EXPECT_EQ(ControlText(dlg, IDC_CHK_MAINDLG_LAUNCH), WIZ_TEXT_LAUNCH);
    EXPECT_EQ(ProgressPos(dlg, IDC_PRG_MAINDLG_PROGRESS), 3);
    EXPECT_TRUE(Enabled(dlg, IDC_BTN_MAINDLG_CANCEL));
    EXPECT_TRUE(SaveScreenshot(dlg, ArtifactPath(L"finished-single")));

    SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, false);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);

    EXPECT_EQ(test::ReadFileBytes(machine->dictData + L"\\XYZ.DIC"), data);
    EXPECT_EQ(test::ReadFileBytes(machine->hostImages + L"\\xyz.bmp"), "BMxyz-picture");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"desc_name"), L"XYZ汉英词典");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"catalog"), L"旧目录");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"enable"), L"");
    EXPECT_FALSE(test::FileExists(machine->hostDir + L"\\" LEXORA_STARTS_FILE));
}

// Two entries, one new and one upgrade; the box left ticked stops the service, enables both
// dictionaries, starts the host and has it show its dictionary manager.
TEST_F(WizardE2E, TwoEntriesInstallAndTheTickedBoxStartsTheHost) {
    machine->Register();
    const std::string abc = test::PatternBytes(5000, 1);
    const std::string xyz = test::PatternBytes(2048 * 3 + 1, 2);
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(abc), Xyz(xyz)}));
    machine->AddInstalled(L"xyz.dic", "old", 2001);
    machine->AddPicture(L"abc", "BMabc");
    Wizard service(machine->serviceExe);
    ASSERT_TRUE(WaitUntil([] { DWORD id; return FindProcessByName(DICT_SERVICE_NAME, id); }));

    Wizard wizard(machine->wizardExe);
    HWND dlg = ShownDialog(wizard);
    ASSERT_NE(dlg, nullptr);
    EXPECT_NE(ControlText(dlg, IDC_STC_MAINDLG_TIPINFO).find(L"安装《ABC英汉词典》升级《XYZ汉英词典》本地词典数据。"),
              std::wstring::npos);
    Click(dlg, IDC_BTN_MAINDLG_NEXT);
    ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));

    // Each entry's begin line and then its result, before the next entry begins.
    const std::vector<std::wstring> expected = {
        L"正在为您安装《ABC英汉词典》，请稍候 ...", L"已为您成功安装《ABC英汉词典》。",
        L"正在升级您本地的《XYZ汉英词典》，请稍候 ...", L"已为您成功升级《XYZ汉英词典》到最新的版本。"};
    EXPECT_EQ(ListLines(dlg, IDC_LST_MAINDLG_INFO), expected);
    EXPECT_TRUE(Visible(dlg, IDC_LST_MAINDLG_INFO));
    EXPECT_FALSE(Visible(dlg, IDC_STC_MAINDLG_TIPINFO));
    EXPECT_EQ(ProgressHigh(dlg, IDC_PRG_MAINDLG_PROGRESS), 3 + 4);
    EXPECT_EQ(ProgressPos(dlg, IDC_PRG_MAINDLG_PROGRESS), 3 + 4);
    EXPECT_TRUE(SaveScreenshot(dlg, ArtifactPath(L"finished-two")));

    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(wizard.WaitForExit(), 1u);

    EXPECT_EQ(test::ReadFileBytes(machine->dictData + L"\\abc.dic"), abc);
    EXPECT_EQ(test::ReadFileBytes(machine->dictData + L"\\xyz.dic"), xyz);
    EXPECT_EQ(test::ReadFileBytes(machine->hostImages + L"\\abc.bmp"), "BMabc");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"id_net"), L"abc-net");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"catalog"), L"英汉");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"to"), L"en");
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"enable"), L"1");
    EXPECT_EQ(IniValue(machine->hostConfig, L"xyz", L"enable"), L"1");
    EXPECT_EQ(service.WaitForExit(), 0u) << "the service was not stopped";
    const std::wstring shown = machine->hostDir + L"\\" LEXORA_MANAGER_SHOWN_FILE;
    ASSERT_TRUE(WaitUntil([&] { return !test::ReadFileBytes(shown).empty(); })) << "the host never got the message";
    EXPECT_EQ(test::ReadFileBytes(shown), test::Utf8(L"abc\tABC英汉词典\r\nxyz\tXYZ汉英词典\r\n"));
}

std::wstring Line(const wchar_t* format, const std::wstring& name) {
    std::wstring text = format;
    return text.replace(text.find(L"%s"), 2, name);
}

// Each entry's result line stands right after its begin line, before the next entry begins,
// whatever became of the entries before it: a sealed entry changed after sealing fails
// between two that are installed, and a hundred entries each show theirs in turn.
TEST_F(WizardE2E, EachResultLineFollowsItsBeginLine) {
    struct Planned {
        PackageEntry entry;
        bool upgrade, fails;
    };
    std::vector<Planned> failingBetween = {
        {Abc(test::PatternBytes(5000, 1)), false, false},
        {{L"qrs", L".dic", L"2024-05-01", L"QRS词典", test::PatternBytes(9000, 3)}, false, true},
        {Xyz(test::PatternBytes(3000, 2)), true, false},
    };
    std::vector<Planned> hundred;
    for (int i = 0; i < 100; ++i) {
        wchar_t id[8], name[16];
        swprintf(id, 8, L"d%03d", i);
        swprintf(name, 16, L"D%03d词典", i);
        hundred.push_back({{id, L".dic", L"2024-05-01", name, test::PatternBytes(100 + i, i)}, false, false});
    }
    const struct {
        const char* name;
        const std::vector<Planned>& planned;
    } cases[] = {{"a failed entry between two good ones", failingBetween}, {"a hundred entries", hundred}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine = std::make_unique<Machine>(dir.path() + L"\\" + std::to_wstring(&c - cases));
        ASSERT_TRUE(machine->Create(BinDir()));
        machine->WriteDictConfig(DICT_CONFIG);
        machine->Register();
        std::vector<PackageEntry> entries;
        std::vector<std::wstring> expected;
        for (const Planned& p : c.planned) {
            entries.push_back(p.entry);
            if (p.upgrade) machine->AddInstalled(p.entry.dictId + p.entry.fileExt, "old", 2001);
            const bool install = !p.upgrade;
            expected.push_back(Line(install ? WIZ_TEXT_INSTALL_BEGIN_FORMAT : WIZ_TEXT_UPGRADE_BEGIN_FORMAT,
                                    p.entry.displayName));
            const wchar_t* result = p.fails ? (install ? WIZ_TEXT_INSTALL_FAILED_FORMAT : WIZ_TEXT_UPGRADE_FAILED_FORMAT)
                                            : (install ? WIZ_TEXT_INSTALL_DONE_FORMAT : WIZ_TEXT_UPGRADE_DONE_FORMAT);
            expected.push_back(Line(result, p.entry.displayName));
        }
        std::string package = MakePackage(entries, true);
        for (const Planned& p : c.planned)
            if (p.fails) package[package.find(p.entry.data) + 100] ^= 0x55;  // changed after sealing
        machine->AddPackage(L"dicts.dir", package);

        Wizard wizard(machine->wizardExe);
        HWND dlg = ShownDialog(wizard);
        ASSERT_NE(dlg, nullptr);
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));
        EXPECT_EQ(ListLines(dlg, IDC_LST_MAINDLG_INFO), expected);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        for (const Planned& p : c.planned)
            EXPECT_EQ(IniValue(machine->hostConfig, p.entry.dictId.c_str(), L"id"), p.fails ? L"" : p.entry.dictId)
                << test::Utf8(p.entry.dictId);
    }
}

// A package damaged after the plan was made: a list line and a box "错误" that holds the
// install; meanwhile nothing closes the dialog. The other package is still installed.
TEST_F(WizardE2E, DamagedPackageIsReportedAndTheInstallGoesOn) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc("abc data")}));
    machine->AddPackage(L"xyz.dir", MakePackage({Xyz("xyz data")}));
    Wizard wizard(machine->wizardExe);
    HWND dlg = ShownDialog(wizard);
    ASSERT_NE(dlg, nullptr);
    const std::wstring damaged = machine->wizardDir + L"\\xyz.dir";
    ASSERT_TRUE(test::WriteFileBytes(damaged, "not a package any more"));
    Click(dlg, IDC_BTN_MAINDLG_NEXT);

    HWND box = WaitForMessageBox(wizard.processId(), L"解压缩失败");
    ASSERT_NE(box, nullptr);
    const std::wstring expected = L"“" + damaged + L"” 解压缩失败，请确认您从官方网站下载本词典安装包!";
    EXPECT_EQ(Text(box), WIZ_TEXT_ERROR_CAPTION);
    EXPECT_NE(MessageBoxText(box).find(expected), std::wstring::npos);
    EXPECT_FALSE(Enabled(dlg, IDC_BTN_MAINDLG_NEXT));
    EXPECT_FALSE(Enabled(dlg, IDC_BTN_MAINDLG_CANCEL));
    EXPECT_TRUE(Visible(dlg, IDC_PRG_MAINDLG_PROGRESS));
    EXPECT_TRUE(SaveScreenshot(dlg, ArtifactPath(L"installing")));
    EXPECT_TRUE(SaveScreenshot(box, ArtifactPath(L"package-bad-box")));
    PostCommand(dlg, IDCANCEL);
    PostCommand(dlg, IDOK);
    CloseByCaption(dlg);
    Sleep(300);
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_TRUE(wizard.Running());

    CloseMessageBox(box);
    ASSERT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }));
    const std::vector<std::wstring> lines = ListLines(dlg, IDC_LST_MAINDLG_INFO);
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"已为您成功安装《ABC英汉词典》。"), lines.end());
    EXPECT_EQ(test::ReadFileBytes(machine->dictData + L"\\abc.dic"), "abc data");

    // Esc on the finished page leaves without the host, although the box is ticked.
    EXPECT_TRUE(Checked(dlg, IDC_CHK_MAINDLG_LAUNCH));
    PressKey(dlg, VK_ESCAPE);
    EXPECT_EQ(wizard.WaitForExit(), 2u);
    EXPECT_EQ(IniValue(machine->hostConfig, L"abc", L"enable"), L"");
    EXPECT_FALSE(test::FileExists(machine->hostDir + L"\\" LEXORA_STARTS_FILE));
}

TEST_F(WizardE2E, PlanThatCannotBeBuiltShowsFailAndNoDialog) {
    machine->Register();
    machine->AddPackage(L"broken.dir", "garbage, not a package");
    Wizard wizard(machine->wizardExe);
    HWND box = WaitForMessageBox(wizard.processId(), WIZ_TEXT_PLAN_FAILED);
    ASSERT_NE(box, nullptr);
    HWND dlg = FindWindowW(nullptr, WIZ_TEXT_TITLE);
    EXPECT_TRUE(dlg == nullptr || !IsWindowVisible(dlg));
    CloseMessageBox(box);
    EXPECT_EQ(wizard.WaitForExit(), 2u);
}

TEST_F(WizardE2E, SecondStartBringsTheFirstDialogBackAndEnds) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc("abc")}));
    Wizard first(machine->wizardExe);
    HWND dlg = ShownDialog(first);
    ASSERT_NE(dlg, nullptr);
    ShowWindow(dlg, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(dlg) != FALSE; }));

    Wizard second(machine->wizardExe);
    EXPECT_EQ(second.WaitForExit(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(dlg) && IsWindowVisible(dlg); }));
    EXPECT_TRUE(first.Running());

    // A copy elsewhere is another file: it does not share the handle, but it would install
    // into the same host, so it says that another install is running and ends.
    const std::wstring otherDir = dir.path() + L"\\other";
    CreateDirectoryW(otherDir.c_str(), nullptr);
    CopyFileW(machine->wizardExe.c_str(), (otherDir + L"\\Quillbox.exe").c_str(), FALSE);
    Wizard other(otherDir + L"\\Quillbox.exe");
    HWND box = WaitForMessageBox(other.processId(), WIZ_TEXT_ANOTHER_INSTALL);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(box), WIZ_TEXT_TITLE);
    CloseMessageBox(box);
    EXPECT_EQ(other.WaitForExit(), 2u);

    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(first.WaitForExit(), 1u);
    // After the first has ended, a new start runs normally.
    Wizard again(machine->wizardExe);
    HWND againDlg = again.WaitForDialog();
    ASSERT_NE(againDlg, nullptr);
    Click(againDlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(again.WaitForExit(), 1u);
}

// A window another program made to look like the wizard's dialog (its class, title and Next
// button) is not a start of this executable: the wizard opens its own dialog and leaves that
// window as it is.
TEST_F(WizardE2E, LookalikeWindowOfAnotherProgramIsNotTheWizard) {
    machine->Register();
    machine->AddPackage(L"abc.dir", MakePackage({Abc("abc")}));
    HWND lookalike = CreateWindowExW(0, L"#32770", WIZ_TEXT_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                     nullptr, nullptr);
    ASSERT_NE(lookalike, nullptr);
    CreateWindowExW(0, L"BUTTON", WIZ_TEXT_NEXT, WS_CHILD | WS_VISIBLE, 10, 10, 80, 24, lookalike,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_BTN_MAINDLG_NEXT)), nullptr, nullptr);
    ShowWindow(lookalike, SW_MINIMIZE);

    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    EXPECT_NE(dlg, nullptr) << "the wizard ended, taking the lookalike for itself";
    EXPECT_TRUE(IsIconic(lookalike)) << "the lookalike was brought forward";
    if (dlg != nullptr) {
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
    }
    DestroyWindow(lookalike);
}

}  // namespace
