// The least a dialog program takes under the same system: one empty dialog with the wizard's
// frame (caption, system menu, size, font) and nothing else linked in or loaded. The
// benchmark starts it and reads its peak working set against the wizard's.
//
//   qb_bare_dialog.exe            the yardstick
//   qb_bare_dialog.exe --dlls     also loads what the wizard loads: COM, the common controls
//                                 (with a progress bar), the shell, the registry
//   qb_bare_dialog.exe --sha256   also opens CNG's SHA-256 from the system folder's bcrypt.dll
//                                 and hashes a few bytes, as every install does for its removal
//                                 record (Wine's bcrypt.dll brings GnuTLS with it)
//   qb_bare_dialog.exe --text     also shows the wizard's Chinese text
// All three make the yardstick; each alone says where the wizard's difference goes.
#include <windows.h>
#include <commctrl.h>

#include <bcrypt.h>

#include <cwchar>

#include "app/WizardTexts.h"

namespace {

constexpr short BARE_WIDTH_DLU = 291;
constexpr short BARE_HEIGHT_DLU = 81;
constexpr WORD BARE_FONT_POINTS = 9;
constexpr int BARE_CONTROL_MARGIN = 10;

// A DLGTEMPLATE with no menu, the default class, a title and a DS_SETFONT font.
struct alignas(4) BareTemplate {
    DLGTEMPLATE dialog;
    WORD menu;
    WORD windowClass;
    wchar_t title[5];
    WORD points;
    wchar_t font[7];
};

INT_PTR CALLBACK BareProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/) {
    if (uMsg == WM_INITDIALOG) return TRUE;
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        ::DestroyWindow(hWnd);
        ::PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

// Through LoadLibrary, so that the yardstick itself imports nothing but user32 and kernel32.
template <typename Function>
Function Load(const wchar_t* dll, const char* name) {
    HMODULE module = ::LoadLibraryW(dll);
    FARPROC address = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

void LoadWhatTheWizardLoads() {
    if (auto coInitialize = Load<HRESULT(WINAPI*)(LPVOID)>(L"ole32.dll", "CoInitialize")) coInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    if (auto init = Load<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(L"comctl32.dll", "InitCommonControlsEx"))
        init(&icc);
    ::LoadLibraryW(L"shell32.dll");
    ::LoadLibraryW(L"shlwapi.dll");
    ::LoadLibraryW(L"advapi32.dll");
}

void HashAsTheWizardDoes() {
    const HMODULE module = ::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return;
    auto open = reinterpret_cast<decltype(&BCryptOpenAlgorithmProvider)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "BCryptOpenAlgorithmProvider")));
    auto create = reinterpret_cast<decltype(&BCryptCreateHash)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "BCryptCreateHash")));
    auto data = reinterpret_cast<decltype(&BCryptHashData)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "BCryptHashData")));
    auto finish = reinterpret_cast<decltype(&BCryptFinishHash)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "BCryptFinishHash")));
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR bytes[64] = {}, digest[32];
    if (open == nullptr || create == nullptr || data == nullptr || finish == nullptr ||
        open(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 || create(sha256, &hash, nullptr, 0, nullptr, 0, 0) < 0)
        return;
    data(hash, bytes, sizeof bytes, 0);
    finish(hash, digest, sizeof digest, 0);
}

HWND AddChild(HWND dialog, const wchar_t* className, const wchar_t* text, DWORD style, int top, int height) {
    RECT client;
    ::GetClientRect(dialog, &client);
    HWND child = ::CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, BARE_CONTROL_MARGIN, top,
                                   client.right - 2 * BARE_CONTROL_MARGIN, height, dialog, nullptr, nullptr, nullptr);
    ::SendMessageW(child, WM_SETFONT, ::SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    return child;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    const bool dlls = std::wcsstr(commandLine, L"--dlls") != nullptr;
    const bool text = std::wcsstr(commandLine, L"--text") != nullptr;
    if (dlls) LoadWhatTheWizardLoads();
    if (std::wcsstr(commandLine, L"--sha256") != nullptr) HashAsTheWizardDoes();
    BareTemplate tpl = {{WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_CENTER, 0, 0, 0, 0, BARE_WIDTH_DLU, BARE_HEIGHT_DLU},
                        0,
                        0,
                        L"Bare",
                        BARE_FONT_POINTS,
                        L"Tahoma"};
    HWND dialog = ::CreateDialogIndirectParamW(instance, &tpl.dialog, nullptr, BareProc, 0);
    if (dialog == nullptr) return 1;
    if (text) AddChild(dialog, L"Static", WIZ_TEXT_HOST_NOT_FOUND, SS_LEFT, BARE_CONTROL_MARGIN, 4 * BARE_CONTROL_MARGIN);
    if (dlls) AddChild(dialog, PROGRESS_CLASSW, L"", PBS_SMOOTH, 6 * BARE_CONTROL_MARGIN, 2 * BARE_CONTROL_MARGIN);
    ::ShowWindow(dialog, SW_SHOWNORMAL);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(dialog, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return 0;
}
