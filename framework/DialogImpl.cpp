#include "framework/DialogImpl.h"

namespace {

// The object whose dialog is being created on this thread: messages arrive (WM_SETFONT,
// WM_INITDIALOG) before CreateDialogParamW returns the handle.
thread_local CDialogImplBase* t_creating = nullptr;

}  // namespace

HWND CDialogImplBase::CreateFromTemplate(WORD templateId, HWND hWndParent, LPARAM initParam) {
    if (m_hWnd != nullptr) return nullptr;
    t_creating = this;
    HWND hWnd = ::CreateDialogParamW(g_appModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId), hWndParent,
                                     DialogProc, initParam);
    t_creating = nullptr;
    if (hWnd == nullptr) m_hWnd = nullptr;
    return hWnd;
}

INT_PTR CALLBACK CDialogImplBase::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CDialogImplBase* self = reinterpret_cast<CDialogImplBase*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (self == nullptr) {
        self = t_creating;
        if (self == nullptr) return FALSE;
        t_creating = nullptr;
        self->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_dialogWndProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    }
    // WindowProc has offered it to the message map already and found no handler: what remains
    // is the dialog manager's default processing.
    if (self->m_dialogWndProc != nullptr && IsDirectMessage(uMsg)) return FALSE;

    LRESULT result = 0;
    const BOOL handled = self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0);
    if (uMsg == WM_NCDESTROY) {
        if (self->m_dialogWndProc != nullptr) {
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_dialogWndProc));
            self->m_dialogWndProc = nullptr;
        }
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(hWnd);
    }
    if (!handled) return FALSE;

    switch (uMsg) {
    // These answer through the dialog procedure's own return value.
    case WM_INITDIALOG:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
    default:
        // The window may be gone already when the handler destroyed it. Reading the stored
        // result is local; writing it is not.
        if (::IsWindow(hWnd) && ::GetWindowLongPtrW(hWnd, DWLP_MSGRESULT) != result)
            ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

LRESULT CALLBACK CDialogImplBase::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CDialogImplBase* self = reinterpret_cast<CDialogImplBase*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (self == nullptr || self->m_dialogWndProc == nullptr) return ::DefDlgProcW(hWnd, uMsg, wParam, lParam);
    if (IsDirectMessage(uMsg)) {
        // The handler may destroy the window and with it the object: nothing of self after this.
        LRESULT result = 0;
        if (self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0)) return result;
    }
    return ::CallWindowProcW(self->m_dialogWndProc, hWnd, uMsg, wParam, lParam);
}
