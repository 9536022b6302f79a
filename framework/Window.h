// A thin wrapper over a window handle: it neither owns nor destroys the window.
#pragma once

#include <windows.h>

class CWindow {
public:
    CWindow(HWND hWnd = nullptr) : m_hWnd(hWnd) {}
    operator HWND() const { return m_hWnd; }

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach() {
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        return hWnd;
    }

    BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL SetWindowText(const wchar_t* text) { return ::SetWindowTextW(m_hWnd, text); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }
    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, msg, wParam, lParam);
    }
    HICON SetIcon(HICON hIcon, BOOL bigIcon) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(hIcon)));
    }
    BOOL ScreenToClient(POINT* point) const { return ::ScreenToClient(m_hWnd, point); }

    // Centres over the desktop work area, kept inside it (the dialog has neither owner nor parent).
    BOOL CenterWindow();

    HWND m_hWnd;
};

// Anything that can answer a window's messages: the dialog procedure hands every message here.
class CMessageMap {
public:
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID) = 0;

protected:
    ~CMessageMap() = default;
};
