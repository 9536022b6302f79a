#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "app/DialogReporter.h"
#include "app/MainDlg.h"
#include "app/WizardMessages.h"
#include "app/WizardTexts.h"
#include "framework/AppModule.h"
#include "tests/app/BarPaintCheck.h"
#include "tests/support/TestSupport.h"

namespace {

// ---- the framework's loop ----

struct RecordingFilter : CMessageFilter {
    RecordingFilter(std::vector<int>& log, int id, bool consume) : log(log), id(id), consume(consume) {}
    BOOL PreTranslateMessage(MSG*) override {
        log.push_back(id);
        return consume;
    }
    std::vector<int>& log;
    int id;
    bool consume;
};

TEST(MessageLoop, AsksTheNewestFilterFirstAndStopsAtTheFirstThatConsumes) {
    std::vector<int> log;
    RecordingFilter older(log, 1, false), middle(log, 2, true), newest(log, 3, false);
    CMessageLoop loop;
    loop.AddMessageFilter(&older);
    loop.AddMessageFilter(&middle);
    loop.AddMessageFilter(&newest);
    MSG msg = {};
    EXPECT_TRUE(loop.PreTranslateMessage(&msg));
    EXPECT_EQ(log, (std::vector<int>{3, 2}));
}

// A mouse move after an idle round starts no new round; any other message does.
TEST(MessageLoop, RunsIdleHandlersOncePerIdlePeriodAndReturnsTheQuitCode) {
    static std::atomic<bool> nudged{false};
    struct Poster : CIdleHandler {
        BOOL OnIdle() override {
            ++calls;
            if (calls == 2) nudgedBeforeSecondRound = nudged.load();
            PostThreadMessageW(GetCurrentThreadId(), calls == 1 ? WM_MOUSEMOVE : calls == 2 ? WM_USER : WM_QUIT, 3, 0);
            return FALSE;
        }
        int calls = 0;
        bool nudgedBeforeSecondRound = false;
    } poster;
    CMessageLoop loop;
    loop.AddIdleHandler(&poster);
    std::thread nudge([id = GetCurrentThreadId()] {
        Sleep(300);
        nudged = true;
        PostThreadMessageW(id, WM_USER, 0, 0);
    });
    EXPECT_EQ(loop.Run(), 3);
    nudge.join();
    EXPECT_EQ(poster.calls, 3);
    EXPECT_TRUE(poster.nudgedBeforeSecondRound);
}

TEST(AppModule, KeepsOneLoopPerThread) {
    CMessageLoop loop;
    ASSERT_TRUE(g_appModule.AddMessageLoop(&loop));
    EXPECT_FALSE(g_appModule.AddMessageLoop(&loop));
    EXPECT_EQ(g_appModule.GetMessageLoop(), &loop);
    CMessageLoop* seen = &loop;
    std::thread other([&] { seen = g_appModule.GetMessageLoop(); });
    other.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_TRUE(g_appModule.RemoveMessageLoop());
    EXPECT_EQ(g_appModule.GetMessageLoop(), nullptr);
}

// ---- the dialog template ----

struct ControlLayout {
    DWORD id;
    const wchar_t* className;
    DWORD style;
    short x, y, cx, cy;
};

TEST(DialogTemplate, HasTheWizardsLayoutStylesAndTabOrder) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_MAINDLG), MAKEINTRESOURCEW(5));
    ASSERT_NE(found, nullptr);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    auto word = [&p] { WORD v; memcpy(&v, p, 2); p += 2; return v; };
    auto dword = [&p] { DWORD v; memcpy(&v, p, 4); p += 4; return v; };
    auto text = [&p, &word] {
        std::wstring s;
        for (WORD c = word(); c != 0; c = word()) s += static_cast<wchar_t>(c);
        return s;
    };
    auto align = [&p, found = p] { while ((p - found) % 4) ++p; };
    ASSERT_EQ(word(), 1);
    ASSERT_EQ(word(), 0xFFFF);
    dword();
    EXPECT_EQ(dword(), 0u);            // extended style
    EXPECT_EQ(dword(), 0x00C80040u);   // WS_CAPTION | WS_SYSMENU | DS_SETFONT
    const WORD count = word();
    EXPECT_EQ(word(), 0); EXPECT_EQ(word(), 0); EXPECT_EQ(word(), 291); EXPECT_EQ(word(), 81);
    EXPECT_EQ(word(), 0);  // no menu
    EXPECT_EQ(word(), 0);  // the default dialog class
    EXPECT_EQ(text(), L"Quillbox");
    EXPECT_EQ(word(), 9);
    EXPECT_EQ(word(), 400);
    word();  // italic, charset
    EXPECT_EQ(text(), L"Tahoma");

    const ControlLayout expected[] = {
        {1000, L"Static", 0x50020000, 10, 17, 270, 23},
        {1001, L"msctls_progress32", 0x50000001, 10, 44, 270, 9},
        {1002, L"Button", 0x50010000, 176, 59, 50, 12},
        {1003, L"Button", 0x50010000, 98, 59, 75, 12},
        {1004, L"Button", 0x50010000, 230, 59, 50, 12},
        {1006, L"ListBox", 0x50A10101, 10, 11, 270, 25},
        {1008, L"Button", 0x50010003, 10, 41, 270, 10},
    };
    ASSERT_EQ(count, 7);
    for (const ControlLayout& c : expected) {
        SCOPED_TRACE(c.id);
        align();
        dword();                    // help id
        EXPECT_EQ(dword(), 0u);     // extended style
        EXPECT_EQ(dword(), c.style);
        EXPECT_EQ(static_cast<short>(word()), c.x);
        EXPECT_EQ(static_cast<short>(word()), c.y);
        EXPECT_EQ(static_cast<short>(word()), c.cx);
        EXPECT_EQ(static_cast<short>(word()), c.cy);
        EXPECT_EQ(dword(), c.id);
        // A predefined class may be stored by its atom or by its name; both make the same control.
        std::wstring className;
        if (*reinterpret_cast<const WORD*>(p) == 0xFFFF) {
            word();
            const WORD atom = word();
            className = atom == 0x80 ? L"Button" : atom == 0x82 ? L"Static" : atom == 0x83 ? L"ListBox" : L"?";
        } else {
            className = text();
        }
        EXPECT_EQ(_wcsicmp(className.c_str(), c.className), 0) << test::Utf8(className);
        if (*reinterpret_cast<const WORD*>(p) == 0xFFFF) { word(); word(); } else { text(); }
        p += word();  // creation data
    }
}

// ---- the dialog, on a plan made by hand ----

EntryItem Entry(const wchar_t* name, EntryAction action, uint32_t size) {
    EntryItem entry;
    entry.dictId = name;
    entry.displayName = name;
    entry.size = size;
    entry.action = action;
    return entry;
}

HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// Stands in for a worker that the test itself plays by sending the messages.
HANDLE WINAPI IdleThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFileBytes(m_host / L"host.exe", "");
        m_registry = std::make_unique<test::HostRegistry>(m_host.path().c_str(), L"host.exe");
        g_appModule.Init(nullptr, GetModuleHandleW(nullptr));
        g_appModule.AddMessageLoop(&m_loop);
        CMainDlg::SetThreadCreatorForTesting(IdleThread);
    }
    void TearDown() override {
        if (m_dlg && m_dlg->IsWindow()) m_dlg->DestroyWindow();
        m_dlg.reset();
        g_appModule.RemoveMessageLoop();
        CMainDlg::SetThreadCreatorForTesting(nullptr);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    }

    HWND Open(std::vector<EntryItem> entries) {
        m_dlg = std::make_unique<CMainDlg>();
        PackageItem package;
        package.filePath = L"C:\\none.dir";
        package.entries = std::make_unique<std::vector<EntryItem>>(std::move(entries));
        m_dlg->GetInstallManager().Packages().push_back(std::move(package));
        m_dlg->GetInstallManager().MarkPlanned();
        HWND dlg = m_dlg->Create(nullptr);
        if (dlg != nullptr) ShowWindow(dlg, SW_SHOWNORMAL);
        return dlg;
    }

    HWND Item(int id) const { return GetDlgItem(m_dlg->m_hWnd, id); }
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return SendMessageW(m_dlg->m_hWnd, msg, wParam, lParam);
    }
    int Pos() const { return static_cast<int>(SendMessageW(Item(IDC_PRG_MAINDLG_PROGRESS), PBM_GETPOS, 0, 0)); }
    int High() const {
        return static_cast<int>(SendMessageW(Item(IDC_PRG_MAINDLG_PROGRESS), PBM_GETRANGE, FALSE, 0));
    }
    UINT CloseItemState() const { return GetMenuState(GetSystemMenu(m_dlg->m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND); }
    static int QuitCode() {
        MSG msg;
        return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? static_cast<int>(msg.wParam) : -1;
    }

    test::TempDir m_host{L"apphost"};
    std::unique_ptr<test::HostRegistry> m_registry;
    CMessageLoop m_loop;
    std::unique_ptr<CMainDlg> m_dlg;
};

TEST_F(MainDlgTest, AnswersTheWorkersMessagesAsTheWorkerExpects) {
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 10), Entry(L"b", ACTION_UPGRADE, 10)}), nullptr);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    ASSERT_EQ(m_dlg->GetPage(), WIZ_PAGE_INSTALLING);
    const wchar_t* name = L"名";
    struct Case {
        UINT msg;
        LPARAM lParam;
        LRESULT answer;
    } cases[] = {
        {WM_WIZ_INSTALL_BEGIN, 0, 1}, {WM_WIZ_STEP, 0, 1},
        {WM_WIZ_ITEM_BEGIN, 1, 1},    {WM_WIZ_ITEM_BEGIN, 2, 1}, {WM_WIZ_ITEM_BEGIN, 0, 0}, {WM_WIZ_ITEM_BEGIN, 3, 0},
        {WM_WIZ_ITEM_DONE, 2, 1},     {WM_WIZ_ITEM_DONE, 7, 0},
        {WM_WIZ_ITEM_FAILED, 1, 1},   {WM_WIZ_ITEM_FAILED, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.msg << " lParam " << c.lParam);
        EXPECT_EQ(Send(c.msg, reinterpret_cast<WPARAM>(name), c.lParam), c.answer);
    }
    // Only the answered-1 per-entry messages left a line.
    EXPECT_EQ(SendMessageW(Item(IDC_LST_MAINDLG_INFO), LB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(Send(WM_WIZ_INSTALL_END), 1);
    EXPECT_EQ(m_dlg->GetPage(), WIZ_PAGE_FINISHED);
}

TEST_F(MainDlgTest, InstallingPageCannotBeClosedAndTheFinishedPageCan) {
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 4096)}), nullptr);
    EXPECT_FALSE(CloseItemState() & MF_GRAYED);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    EXPECT_TRUE(CloseItemState() & MF_GRAYED);
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_BTN_MAINDLG_NEXT)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_BTN_MAINDLG_CANCEL)));
    Send(WM_COMMAND, IDCANCEL, 0);
    Send(WM_COMMAND, IDOK, 0);
    Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(m_dlg->IsWindow());
    EXPECT_EQ(QuitCode(), -1);

    Send(WM_WIZ_INSTALL_END);
    EXPECT_FALSE(CloseItemState() & MF_GRAYED);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_BTN_MAINDLG_CANCEL)));
    Send(WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(m_dlg->IsWindow());
    EXPECT_EQ(QuitCode(), 2);
}

// Single-entry mode shows texts on the message line, which shrinks back to its template height.
TEST_F(MainDlgTest, SingleEntryShowsItsTextsOnTheMessageLine) {
    ASSERT_NE(Open({Entry(L"a", ACTION_SKIP, 1), Entry(L"牛津", ACTION_UPGRADE, 1)}), nullptr);
    RECT grown;
    GetWindowRect(Item(IDC_STC_MAINDLG_TIPINFO), &grown);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    RECT shrunk;
    GetWindowRect(Item(IDC_STC_MAINDLG_TIPINFO), &shrunk);
    EXPECT_EQ((grown.bottom - grown.top) - (shrunk.bottom - shrunk.top), WIZ_MESSAGE_LINE_GROWTH);
    EXPECT_EQ(shrunk.top, grown.top);

    Send(WM_WIZ_ITEM_BEGIN, reinterpret_cast<WPARAM>(L"牛津"), ACTION_UPGRADE);
    wchar_t text[256];
    GetWindowTextW(Item(IDC_STC_MAINDLG_TIPINFO), text, 256);
    EXPECT_STREQ(text, L"正在升级您本地的《牛津》，请稍候 ...");
    EXPECT_TRUE(IsWindowVisible(Item(IDC_STC_MAINDLG_TIPINFO)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_LST_MAINDLG_INFO)));
    // A display name that looks like a format is shown as it is.
    Send(WM_WIZ_ITEM_FAILED, reinterpret_cast<WPARAM>(L"%s%d"), ACTION_INSTALL);
    GetWindowTextW(Item(IDC_STC_MAINDLG_TIPINFO), text, 256);
    EXPECT_STREQ(text, L"安装《%s%d》失败!");
}

// Totals up to 65535 use the 16-bit range exactly; larger ones still show true progress.
TEST_F(MainDlgTest, ProgressRangeFitsEveryTotal) {
    struct Case {
        uint32_t bytes;
        int total;
    } cases[] = {{1, 1}, {2048u * 65535u, 65535}, {2048u * 65536u, 65536}, {2048u * 200000u + 1, 200001}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, c.bytes)}), nullptr);
        Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
        EXPECT_EQ(High(), c.total);
        Send(WM_WIZ_INSTALL_BEGIN);
        for (int i = 1; i <= 3 && i <= c.total; ++i) {
            Send(WM_WIZ_STEP);
            EXPECT_EQ(Pos(), i);
        }
        Send(WM_WIZ_INSTALL_END);
        EXPECT_EQ(Pos(), c.total);
        EXPECT_FALSE(IsWindowVisible(Item(IDC_PRG_MAINDLG_PROGRESS)));
        m_dlg->DestroyWindow();
    }
}

// Steps are held back from the bar's painting, never from its answers: after every step the
// position is exact, a step answers the previous position, and the upper bound holds.
TEST_F(MainDlgTest, EveryStepMovesTheBarByOneAndEveryAnswerIsExact) {
    struct Case {
        int total;
        int steps;       // WM_WIZ_STEP messages, the position asked after each
        int directSteps;  // then PBM_DELTAPOS 1 in a row with nothing in between
    } cases[] = {{3, 2, 3}, {3, 5, 2}, {100, 40, 80}, {70000, 5, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "total " << c.total << " steps " << c.steps);
        ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 2048u * c.total)}), nullptr);
        Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
        Send(WM_WIZ_INSTALL_BEGIN);
        for (int i = 1; i <= c.steps; ++i) {
            EXPECT_EQ(Send(WM_WIZ_STEP), 1);
            ASSERT_EQ(Pos(), std::min(i, c.total));
        }
        HWND bar = Item(IDC_PRG_MAINDLG_PROGRESS);
        for (int i = 0; i < c.directSteps; ++i)
            EXPECT_EQ(SendMessageW(bar, PBM_DELTAPOS, 1, 0), std::min(c.steps + i, c.total));
        EXPECT_EQ(Pos(), std::min(c.steps + c.directSteps, c.total));
        Send(WM_WIZ_INSTALL_END);
        EXPECT_EQ(Pos(), c.total);
        m_dlg->DestroyWindow();
    }
}

// Handed-over steps repaint only the part of the bar that changed: what it shows must be what
// a repaint of the whole bar shows, at every position up to the end of the range.
TEST_F(MainDlgTest, BarShowsWhatAWholeRepaintShows) {
    const int total = 1000;
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 2048u * total)}), nullptr);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    Send(WM_WIZ_INSTALL_BEGIN);
    ExpectBarPaintsAsAWhole(m_dlg->m_hWnd, total);
}

// The worker's steps come before the dialog's posted messages and input. A step that finds
// something waiting there asks the worker for a turn, and the worker's next message waits
// until the dialog's loop has got to it.
TEST_F(MainDlgTest, StepWaitsWhileTheDialogHasPostedMessagesWaiting) {
    struct Recorder : CMessageFilter {
        BOOL PreTranslateMessage(MSG* msg) override {
            if (msg->message == WM_APP) seen = true;
            return FALSE;
        }
        std::atomic<bool> seen{false};
    } recorder;
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 2048u * 10)}), nullptr);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    MSG pending;
    while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&pending);
    m_loop.AddMessageFilter(&recorder);  // newest, so it sees each message before the dialog

    PostMessageW(m_dlg->m_hWnd, WM_APP, 0, 0);
    bool seenWhenStepReturned = false;
    const DWORD dialogThread = GetCurrentThreadId();
    std::thread worker([&] {
        CDialogReporter(m_dlg->m_hWnd).OnStep();  // the first step of an install looks at the queue
        seenWhenStepReturned = recorder.seen;
        PostThreadMessageW(dialogThread, WM_QUIT, 0, 0);
    });
    // The step is answered before the posted message, as during an install.
    while (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) == 0) Sleep(1);
    m_loop.Run();
    worker.join();
    m_loop.RemoveMessageFilter(&recorder);
    EXPECT_TRUE(seenWhenStepReturned);
    EXPECT_EQ(GetWindowLongPtrW(m_dlg->m_hWnd, GWLP_USERDATA), 0);
    EXPECT_EQ(Pos(), 1);
}

// A loop of the dialog thread's own (a window being moved, a message box) takes the input
// without the dialog's filter, so a turn asked for there is never given: the worker waits for
// it once, and the dialog asks no more until its own loop is back.
TEST_F(MainDlgTest, TurnNotTakenIsNotAskedForAgainAtEveryStep) {
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 2048u * 10)}), nullptr);
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const HWND dlg = m_dlg->m_hWnd;
    const DWORD dialogThread = GetCurrentThreadId();
    std::vector<bool> asked;
    PostMessageW(dlg, WM_APP, 0, 0);
    std::thread worker([&] {
        for (int i = 0; i < 4; ++i) {
            SendMessageW(dlg, WM_WIZ_STEP, 0, 0);
            asked.push_back(GetWindowLongPtrW(dlg, GWLP_USERDATA) != 0);
        }
        PostThreadMessageW(dialogThread, WM_QUIT, 0, 0);
    });
    while (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) == 0) Sleep(1);  // the first step finds WM_APP waiting
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);  // not the dialog's loop
    worker.join();
    EXPECT_EQ(asked, (std::vector<bool>{true, false, false, false}));
}

TEST_F(MainDlgTest, ThreadThatCannotStartIsReportedAndTheWizardCloses) {
    CMainDlg::SetThreadCreatorForTesting(RefuseThread);
    ASSERT_NE(Open({Entry(L"a", ACTION_INSTALL, 10)}), nullptr);
    std::wstring seen;
    std::thread closer([&] {
        for (int i = 0; i < 3000 && seen.empty(); ++i) {
            HWND box = FindWindowW(L"#32770", WIZ_TEXT_ERROR_CAPTION);
            HWND label = box ? GetDlgItem(box, 0xFFFF) : nullptr;
            if (label != nullptr) {
                wchar_t text[256] = {};
                GetWindowTextW(label, text, 256);
                seen = text;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(20);
        }
    });
    Send(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
    closer.join();
    EXPECT_EQ(seen, WIZ_TEXT_THREAD_FAILED);
    EXPECT_FALSE(m_dlg->IsWindow());
    EXPECT_EQ(QuitCode(), 2);
}

}  // namespace
