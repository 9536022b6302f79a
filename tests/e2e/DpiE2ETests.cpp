// The wizard at the display scalings users run: 96, 144 and 192 DPI. The screen's DPI is a
// registry value that a process reads when it starts, so each DPI runs in a child of this
// program started after the value is set; the child builds the real dialog (linked in, with
// the shipped template and manifest) on a machine laid out for it and checks it from inside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "app/WizardMessages.h"
#include "app/resource.h"
#include "framework/AppModule.h"
#include "tests/app/BarPaintCheck.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

const wchar_t DESKTOP_KEY[] = L"Control Panel\\Desktop";
const wchar_t LOG_PIXELS[] = L"LogPixels";
const wchar_t CHILD_DPI_VARIABLE[] = L"QB_DPI_CHILD";
const DWORD SHOT_DPI = 144;

// Six dictionaries with long names: at 96 DPI their welcome text just fills the grown line.
const wchar_t* const LONG_NAMES[] = {
    L"牛津高阶英汉双解词典", L"柯林斯英汉双解大词典", L"朗文当代高级英语辞典",
    L"韦氏大学英语词典全本", L"剑桥高级学习者词典", L"新世纪汉英科技大词典",
};

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

std::wstring ArtifactPath(const std::wstring& name) {
    const std::wstring dir = FullPath(test::ExeDir() + L"..\\..\\artifacts");
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + name + L".bmp";
}

DWORD ChildDpi() {
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(CHILD_DPI_VARIABLE, value, 16) > 0 ? static_cast<DWORD>(_wtoi(value)) : 0;
}

// ---- the parent: one child per DPI ----

// The desktop's LogPixels, put back as it was when the test ends.
class LogPixelsSetting {
public:
    LogPixelsSetting() {
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, DESKTOP_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &raw,
                            nullptr) == ERROR_SUCCESS)
            m_key.reset(raw);
        DWORD size = sizeof m_previous;
        m_hadValue = m_key && RegQueryValueExW(m_key.get(), LOG_PIXELS, nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(&m_previous), &size) == ERROR_SUCCESS;
    }
    ~LogPixelsSetting() {
        if (!m_key) return;
        if (m_hadValue) {
            Set(m_previous);
        } else {
            RegDeleteValueW(m_key.get(), LOG_PIXELS);
        }
    }
    bool Set(DWORD dpi) {
        return m_key && RegSetValueExW(m_key.get(), LOG_PIXELS, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                       sizeof dpi) == ERROR_SUCCESS;
    }

private:
    qb::ScopedRegKey m_key;
    DWORD m_previous = 0;
    bool m_hadValue = false;
};

// Runs this program's child tests with the DPI in the environment; their output and exit code.
DWORD RunChild(DWORD dpi, std::string& output) {
    const std::wstring outPath = test::ExeDir() + L"dpi-child-" + std::to_wstring(dpi) + L".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    DWORD code = STILL_ACTIVE;
    {
        qb::ScopedHandle out(CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                                         nullptr));
        if (!out) return code;
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(exe) + L"\" --gtest_filter=DialogAtThisDpi.*";
        SetEnvironmentVariableW(CHILD_DPI_VARIABLE, std::to_wstring(dpi).c_str());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
        PROCESS_INFORMATION info = {};
        const BOOL started = CreateProcessW(exe, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                           test::ExeDir().c_str(), &startup, &info);
        SetEnvironmentVariableW(CHILD_DPI_VARIABLE, nullptr);
        if (!started) return code;
        qb::ScopedHandle process(info.hProcess);
        qb::ScopedHandle thread(info.hThread);
        if (WaitForSingleObject(process.get(), E2E_GENEROUS_WAIT_MS * 3) == WAIT_TIMEOUT)
            TerminateProcess(process.get(), STILL_ACTIVE);
        GetExitCodeProcess(process.get(), &code);
    }
    output = test::ReadFileBytes(outPath);
    DeleteFileW(outPath.c_str());
    return code;
}

TEST(WizardAtDpi, MessageLineHoldsItsTextAndTheBarPaintsTrueAtEveryScaling) {
    if (ChildDpi() != 0) GTEST_SKIP() << "the child runs only its own tests";
    LogPixelsSetting setting;
    for (const DWORD dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(dpi);
        ASSERT_TRUE(setting.Set(dpi));
        std::string output;
        const DWORD code = RunChild(dpi, output);
        EXPECT_EQ(code, 0u) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        for (size_t at = output.find("[ info"); at != std::string::npos; at = output.find("[ info", at + 1))
            std::printf("%lu DPI %s\n", dpi, output.substr(at, output.find('\n', at) - at).c_str());
    }
}

// ---- the child: the real dialog at the DPI it started with ----

EntryItem Entry(const std::wstring& name, EntryAction action, uint32_t size) {
    EntryItem entry;
    entry.dictId = name;
    entry.displayName = name;
    entry.size = size;
    entry.action = action;
    return entry;
}

// Stands in for the worker: the test sends the worker's messages itself.
HANDLE WINAPI NoWorker(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int ClientHeight(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return client.bottom;
}

// The height the static's text takes when it is laid out as the static lays it out: its own
// font, its own width, broken at words.
int TextHeight(HWND staticControl) {
    RECT rect = {};
    GetClientRect(staticControl, &rect);
    const std::wstring text = Text(staticControl);
    HDC dc = GetDC(staticControl);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(staticControl, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(staticControl, dc);
    return rect.bottom - rect.top;
}

void ExpectTextFits(HWND dlg, const char* page) {
    HWND line = GetDlgItem(dlg, IDC_STC_MAINDLG_TIPINFO);
    const int needed = TextHeight(line), height = ClientHeight(line);
    EXPECT_LE(needed, height) << page << ": the message line cuts its text";
    std::printf("[ info     ] %s: text %d px high in a line of %d px\n", page, needed, height);
}

class DialogAtThisDpi : public ::testing::Test {
protected:
    void SetUp() override {
        m_dpi = ChildDpi();
        if (m_dpi == 0) GTEST_SKIP() << "run by WizardAtDpi in a child started at its DPI";
        test::WriteFileBytes(m_host / L"host.exe", "");
        test::MakeDirs(m_host / L"plugin\\localquery\\dictdata");
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        g_appModule.Init(nullptr, GetModuleHandleW(nullptr));
        g_appModule.AddMessageLoop(&m_loop);
        CMainDlg::SetThreadCreatorForTesting(NoWorker);
    }
    void TearDown() override {
        if (m_dpi == 0) return;
        Close();
        g_appModule.RemoveMessageLoop();
        CMainDlg::SetThreadCreatorForTesting(nullptr);
        test::HostRegistry::Delete();
        DeleteFileW(PackagePath().c_str());
        Pump();
    }

    static std::wstring PackagePath() { return test::ExeDir() + L"six.dir"; }

    // A dialog that plans from what lies beside this program, or from the entries given.
    HWND Open(std::vector<EntryItem> entries = {}, bool planned = false) {
        Close();
        m_dlg = std::make_unique<CMainDlg>();
        if (planned) {
            PackageItem package;
            package.filePath = L"C:\\none.dir";
            package.entries = std::make_unique<std::vector<EntryItem>>(std::move(entries));
            m_dlg->GetInstallManager().Packages().push_back(std::move(package));
            m_dlg->GetInstallManager().MarkPlanned();
        }
        HWND dlg = m_dlg->Create(nullptr);
        if (dlg != nullptr) {
            ShowWindow(dlg, SW_SHOWNORMAL);
            UpdateWindow(dlg);
            Pump();
        }
        return dlg;
    }
    void Close() {
        if (m_dlg && m_dlg->IsWindow()) m_dlg->DestroyWindow();
        m_dlg.reset();
        Pump();
    }
    void Shot(HWND dlg, const wchar_t* page) const {
        if (m_dpi != SHOT_DPI) return;
        EXPECT_TRUE(SaveScreenshot(dlg, ArtifactPath(L"dpi144-" + std::wstring(page))));
    }

    DWORD m_dpi = 0;
    test::TempDir m_host{L"dpihost"};
    CMessageLoop m_loop;
    std::unique_ptr<CMainDlg> m_dlg;
};

TEST_F(DialogAtThisDpi, EveryPageShowsItsWholeText) {
    // Before the host is registered: the host-not-found page.
    HWND dlg = Open();
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_HOST_NOT_FOUND);
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    ASSERT_NE(getDpi, nullptr);
    ASSERT_EQ(getDpi(dlg), m_dpi) << "the process is not aware of the screen's DPI";
    ExpectTextFits(dlg, "host not found");
    Shot(dlg, L"host-not-found");

    test::HostRegistry registry(m_host.path().c_str(), L"host.exe");
    dlg = Open({Entry(L"a", ACTION_SKIP, 1)}, true);
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_UP_TO_DATE);
    ExpectTextFits(dlg, "up to date");
    Shot(dlg, L"up-to-date");

    // The welcome page from a real package of six dictionaries.
    std::vector<PackageEntry> six;
    for (int i = 0; i < 6; ++i) six.push_back({L"long" + std::to_wstring(i), L".dic", L"2024-05-01", LONG_NAMES[i], "x"});
    ASSERT_TRUE(test::WriteFileBytes(PackagePath(), MakePackage(six)));
    dlg = Open();
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_WELCOME);
    HWND line = GetDlgItem(dlg, IDC_STC_MAINDLG_TIPINFO);
    const int grown = ClientHeight(line);
    ExpectTextFits(dlg, "welcome");
    Shot(dlg, L"welcome");
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    EXPECT_EQ(grown - ClientHeight(line), MulDiv(WIZ_MESSAGE_LINE_GROWTH, static_cast<int>(m_dpi), 96))
        << "the line grows by its share of the font";

    // Single-entry mode keeps the message line on the installing page, at its template height.
    dlg = Open({Entry(LONG_NAMES[0], ACTION_UPGRADE, 2048u * 1000)}, true);
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_WELCOME);
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    SendMessageW(dlg, WM_WIZ_INSTALL_BEGIN, 0, 0);
    SendMessageW(dlg, WM_WIZ_ITEM_BEGIN, reinterpret_cast<WPARAM>(LONG_NAMES[0]), ACTION_UPGRADE);
    ExpectTextFits(dlg, "installing");
    ExpectBarPaintsAsAWhole(dlg, 1000);
    Shot(dlg, L"installing");
    SendMessageW(dlg, WM_WIZ_ITEM_DONE, reinterpret_cast<WPARAM>(LONG_NAMES[0]), ACTION_UPGRADE);
    SendMessageW(dlg, WM_WIZ_INSTALL_END, 0, 0);
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_FINISHED);
    ExpectTextFits(dlg, "finished");
    Shot(dlg, L"finished");
}

}  // namespace
