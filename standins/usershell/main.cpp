// Stand-in for the signed-in user's shell: a hidden window made the session's shell window,
// alive until it is ended. A test starts it with an unelevated token, so that what is started
// as the shell's child can show that it got the shell's token and not the wizard's.
#include <windows.h>


// Not in MinGW's headers; exported by user32.
extern "C" __declspec(dllimport) BOOL WINAPI SetShellWindow(HWND window);

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"QuillboxStandinShell", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, instance, nullptr);
    // Only one shell window per session: a second one is refused.
    if (window == nullptr || !SetShellWindow(window)) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
