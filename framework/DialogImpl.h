// Modeless dialogs from a template, with every message handed to the class's message map.
#pragma once

#include <windows.h>

#include "framework/AppModule.h"
#include "framework/Window.h"

// Private messages: everything past the dialog manager's own DM_ messages. The dialog's
// window procedure hands these to the message map itself and returns the handler's result
// as the answer, instead of going through the dialog manager and DWLP_MSGRESULT.
#define DIALOG_DIRECT_MESSAGE_FIRST (DM_REPOSITION + 1)
#define DIALOG_DIRECT_MESSAGE_LAST 0xFFFF

class CDialogImplBase : public CWindow, public CMessageMap {
public:
    CDialogImplBase() = default;
    virtual ~CDialogImplBase() = default;
    CDialogImplBase(const CDialogImplBase&) = delete;
    CDialogImplBase& operator=(const CDialogImplBase&) = delete;

    // Called after the last message (WM_NCDESTROY) has been handled.
    virtual void OnFinalMessage(HWND /*hWnd*/) {}

protected:
    HWND CreateFromTemplate(WORD templateId, HWND hWndParent, LPARAM initParam);
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Writing DWLP_MSGRESULT is a round trip to the window server under Wine, and the dialog
    // manager clears it before every message, so a worker that sends thousands of private
    // messages a second would pay one or two of them per message.
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static bool IsDirectMessage(UINT uMsg) {
        return uMsg >= DIALOG_DIRECT_MESSAGE_FIRST && uMsg <= DIALOG_DIRECT_MESSAGE_LAST;
    }

private:
    WNDPROC m_dialogWndProc = nullptr;  // the dialog manager's window procedure, while subclassed
};

// T names its template as `enum { IDD = ... }` and answers messages in ProcessWindowMessage.
template <class T, class TBase = CWindow>
class CDialogImpl : public CDialogImplBase {
public:
    HWND Create(HWND hWndParent, LPARAM initParam = 0) {
        return CreateFromTemplate(static_cast<WORD>(T::IDD), hWndParent, initParam);
    }
};

// Only the registration of child-window containers; the wizard has no update-UI entries.
class CUpdateUIBase {
public:
    BOOL UIAddChildWindowContainer(HWND hWnd) {
        if (hWnd == nullptr) return FALSE;
        m_hContainer = hWnd;
        return TRUE;
    }
    HWND GetChildWindowContainer() const { return m_hContainer; }

private:
    HWND m_hContainer = nullptr;
};

template <class T>
class CUpdateUI : public CUpdateUIBase {};
