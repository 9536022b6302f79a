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
    }

    LRESULT result = 0;
    const BOOL handled = self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result, 0);
    if (uMsg == WM_NCDESTROY) {
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
        // The window may be gone already when the handler destroyed it.
        if (::IsWindow(hWnd)) ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
