#include <windows.h>

#include <string>
#include <vector>

#include "app/HostNotify.h"
#include "standins/OwnDir.h"
#include "standins/StartRecord.h"
#include "standins/lexora/LexoraStandin.h"

namespace {

const wchar_t TRAY_CLASS[] = L"QuillboxStandinLexoraTray";
const wchar_t MANAGER_CLASS[] = L"QuillboxStandinLexoraManager";
const int LIST_ID = 100;

UINT g_showManagerMessage = 0;
HWND g_manager = nullptr;

void WriteText(const std::wstring& path, const std::string& text, bool append) {
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// "id<TAB>name" for every section of the host's configuration that says enable=1.
std::vector<std::wstring> EnabledDictionaries() {
    const std::wstring config = standin::OwnDir() + LEXORA_CONFIG_PIECE;
    std::vector<wchar_t> names(32768);
    const DWORD length = GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()),
                                                        config.c_str());
    std::vector<std::wstring> lines;
    for (const wchar_t* name = names.data(); name < names.data() + length && *name != L'\0';
         name += wcslen(name) + 1) {
        wchar_t value[260];
        GetPrivateProfileStringW(name, L"enable", L"", value, 260, config.c_str());
        if (wcscmp(value, L"1") != 0) continue;
        GetPrivateProfileStringW(name, L"desc_name", L"", value, 260, config.c_str());
        lines.push_back(std::wstring(name) + L"\t" + value);
    }
    return lines;
}

void ShowManager(HINSTANCE instance) {
    const std::vector<std::wstring> lines = EnabledDictionaries();
    std::string record;
    for (const std::wstring& line : lines) record += standin::Utf8(line) + "\r\n";
    WriteText(standin::OwnDir() + LEXORA_MANAGER_SHOWN_FILE, record, false);

    if (g_manager == nullptr) {
        g_manager = CreateWindowExW(0, MANAGER_CLASS, LEXORA_MANAGER_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, 360, 220, nullptr, nullptr, instance, nullptr);
        if (g_manager == nullptr) return;
        RECT client;
        GetClientRect(g_manager, &client);
        HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 0,
                                    client.right, client.bottom, g_manager,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(LIST_ID)), instance, nullptr);
        SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    }
    HWND list = GetDlgItem(g_manager, LIST_ID);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (std::wstring line : lines) {
        line.replace(line.find(L'\t'), 1, L"  ");
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    ShowWindow(g_manager, SW_SHOWNORMAL);
    SetForegroundWindow(g_manager);
}

LRESULT CALLBACK TrayProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_showManagerMessage && message != 0) {
        ShowManager(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE)));
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

LRESULT CALLBACK ManagerProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE) MoveWindow(GetDlgItem(hWnd, LIST_ID), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    if (message == WM_CLOSE) {
        ShowWindow(hWnd, SW_HIDE);  // the host keeps running in its tray
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const std::wstring dir = standin::OwnDir();
    WriteText(dir + LEXORA_STARTS_FILE, "started " + standin::StartRecord() + "\r\n", true);
    // One host per session, as the real product keeps it.
    if (FindWindowW(nullptr, HOST_TRAY_WINDOW_TITLE) != nullptr) return 0;
    if (GetFileAttributesW((dir + LEXORA_NO_TRAY_FILE).c_str()) != INVALID_FILE_ATTRIBUTES) {
        Sleep(INFINITE);
        return 0;
    }

    g_showManagerMessage = RegisterWindowMessageW(SHOW_DICT_MANAGER_MSG_NAME);
    WNDCLASSW trayClass = {};
    trayClass.lpfnWndProc = TrayProc;
    trayClass.hInstance = instance;
    trayClass.lpszClassName = TRAY_CLASS;
    WNDCLASSW managerClass = trayClass;
    managerClass.lpfnWndProc = ManagerProc;
    managerClass.lpszClassName = MANAGER_CLASS;
    managerClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    managerClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassW(&trayClass) || !RegisterClassW(&managerClass)) return 1;

    // A hidden top-level window, not a message-only one: broadcasts reach only the former.
    if (CreateWindowExW(WS_EX_TOOLWINDOW, TRAY_CLASS, HOST_TRAY_WINDOW_TITLE, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                        instance, nullptr) == nullptr)
        return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
