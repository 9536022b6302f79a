// Modeless dialogs from a template, with every message handed to the class's message map.
#pragma once

#include <windows.h>

#include "framework/AppModule.h"
#include "framework/Window.h"

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
