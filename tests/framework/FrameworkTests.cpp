#include <gtest/gtest.h>

#include <windows.h>

#include <map>

#include "framework/AppModule.h"
#include "framework/DialogImpl.h"
#include "tests/framework/resource.h"

namespace {

// Answers what `answers` says and counts how often its message map was asked.
class ProbeDialog : public CDialogImpl<ProbeDialog> {
public:
    enum { IDD = IDD_FRAMEWORK_PROBE };

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& lResult,
                              DWORD /*dwMsgMapID*/) override {
        if (uMsg == WM_INITDIALOG) {
            lResult = TRUE;
            return TRUE;
        }
        ++asked[uMsg];
        if (uMsg == destroyingMessage) ::DestroyWindow(hWnd);
        const auto answer = answers.find(uMsg);
        if (answer == answers.end()) return FALSE;
        lResult = answer->second;
        return TRUE;
    }
    void OnFinalMessage(HWND /*hWnd*/) override {
        if (finalMessages != nullptr) ++*finalMessages;
        if (deleteOnFinal) delete this;
    }

    std::map<UINT, LRESULT> answers;
    std::map<UINT, int> asked;
    UINT destroyingMessage = 0;
    int* finalMessages = nullptr;
    bool deleteOnFinal = false;
};

class DialogFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override { g_appModule.Init(nullptr, GetModuleHandleW(nullptr)); }
    void TearDown() override {
        if (m_dlg.IsWindow()) m_dlg.DestroyWindow();
    }
    HWND Open() {
        HWND hWnd = m_dlg.Create(nullptr);
        if (hWnd != nullptr) ShowWindow(hWnd, SW_SHOWNORMAL);
        return hWnd;
    }
    ProbeDialog m_dlg;
};

// Private messages are answered straight from the window procedure, the others through the
// dialog manager's message result; either way the answer is the handler's, also 0 right after
// a non-zero one, and the message map is asked once.
TEST_F(DialogFrameworkTest, AnswersEachHandledMessageWithItsHandlersResult) {
    ASSERT_NE(Open(), nullptr);
    const UINT registered = RegisterWindowMessageW(L"QuillboxFrameworkProbe");
    struct Case {
        UINT msg;
        LRESULT answer;
    } cases[] = {
        {WM_APP + 7, 1},           {WM_APP + 7, 0},      {WM_USER + 100, -5}, {WM_APP + 7, 0x7FFFFFFF},
        {DM_REPOSITION + 1, 3},    {registered, 42},     {registered, 0},
        {WM_NCHITTEST, HTCAPTION}, {WM_NCHITTEST, 0},    {WM_NCHITTEST, HTCLIENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "message " << c.msg << " answer " << c.answer);
        m_dlg.answers = {{c.msg, c.answer}};
        const int before = m_dlg.asked[c.msg];
        EXPECT_EQ(SendMessageW(m_dlg.m_hWnd, c.msg, 0, 0), c.answer);
        EXPECT_EQ(m_dlg.asked[c.msg], before + 1);
    }
}

TEST_F(DialogFrameworkTest, LeavesUnhandledMessagesToTheDialogManager) {
    ASSERT_NE(Open(), nullptr);
    m_dlg.answers.clear();
    EXPECT_EQ(SendMessageW(m_dlg.m_hWnd, WM_APP + 9, 1, 2), 0);
    EXPECT_EQ(m_dlg.asked[WM_APP + 9], 1);
    // The dialog manager's own messages still reach it.
    EXPECT_TRUE(SendMessageW(m_dlg.m_hWnd, DM_SETDEFID, IDOK, 0));
    EXPECT_EQ(SendMessageW(m_dlg.m_hWnd, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
}

// A handler may destroy the window, and with its final message the object, before the answer.
TEST_F(DialogFrameworkTest, HandlerMayEndTheWindowAndTheObject) {
    for (const bool deleteOnFinal : {false, true}) {
        SCOPED_TRACE(deleteOnFinal ? "object deleted" : "object kept");
        g_appModule.Init(nullptr, GetModuleHandleW(nullptr));
        ProbeDialog* dlg = deleteOnFinal ? new ProbeDialog : &m_dlg;
        int finalMessages = 0;
        dlg->finalMessages = &finalMessages;
        dlg->deleteOnFinal = deleteOnFinal;
        dlg->destroyingMessage = WM_APP + 3;
        dlg->answers = {{WM_APP + 3, 5}};
        HWND hWnd = dlg->Create(nullptr);
        ASSERT_NE(hWnd, nullptr);
        EXPECT_EQ(SendMessageW(hWnd, WM_APP + 3, 0, 0), 5);
        EXPECT_FALSE(IsWindow(hWnd));
        EXPECT_EQ(finalMessages, 1);
        if (!deleteOnFinal) {
            EXPECT_EQ(m_dlg.m_hWnd, nullptr);
        }
    }
}

}  // namespace
