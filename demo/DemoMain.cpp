// QuillboxDemo sources <folder>             write the dictionary files and pictures to publish
// QuillboxDemo layout <folder>              lay out a host installation beside the wizard folder
// QuillboxDemo walk <folder> <shots-folder> run the wizard through its pages, saving each
// QuillboxDemo report <folder>              print what the wizard installed
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/ProcessControl.h"
#include "standins/lexora/LexoraStandin.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"

using namespace e2e;

namespace {

void Print(const std::wstring& text) {
    std::fputs(test::Utf8(text).c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

// A small 24-bit picture in one colour.
std::string Picture(BYTE r, BYTE g, BYTE b) {
    const int side = 32;
    std::string pixels;
    for (int i = 0; i < side * side; ++i) pixels += std::string{static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
    return BitmapFile(BitmapHeader24(side, side), pixels);
}

// What a publisher starts from: the dictionary files, unstamped, and their pictures, in
// <root>\source beside demo/publish.manifest. dictpack setup makes the wizard folder of them.
int Sources(const std::wstring& root) {
    const std::wstring source = root + L"\\source";
    if (!test::MakeDirs(source) ||
        !test::WriteFileBytes(source + L"\\chengyu.dic", test::PatternBytes(300000, 1)) ||
        !test::WriteFileBytes(source + L"\\oxford.dic", test::PatternBytes(500000, 2)) ||
        !test::WriteFileBytes(source + L"\\chengyu.bmp", Picture(0xC0, 0x39, 0x2B)) ||
        !test::WriteFileBytes(source + L"\\oxford.bmp", Picture(0x1F, 0x5F, 0xAE))) {
        Print(L"demo: could not write " + source);
        return 1;
    }
    return 0;
}

int Layout(const std::wstring& root) {
    Machine machine(root);
    if (!machine.Create(test::ExeDir())) {
        Print(L"demo: could not lay out " + root);
        return 1;
    }
    machine.Register();
    machine.AddInstalled(L"oxford.dic", test::PatternBytes(200000, 3), 2019);
    machine.WriteHostConfig(L"[oxford]\r\nid=oxford\r\ndesc_name=牛津英汉双解词典（旧版）\r\nenable=1\r\n");

    // The host's background service runs, as on a user's machine; the wizard stops it at the end.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + machine.serviceExe + L"\"";
    if (CreateProcessW(machine.serviceExe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                       nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    Print(L"demo: wizard " + machine.wizardExe);
    Print(L"demo: host   " + machine.hostDir);
    return 0;
}

bool Shot(HWND window, const std::wstring& shots, const wchar_t* name) {
    const bool saved = SaveScreenshot(window, shots + L"\\" + name + L".bmp");
    Print(std::wstring(L"demo: page ") + name + (saved ? L" saved" : L" NOT saved"));
    return saved;
}

int Walk(const std::wstring& root, const std::wstring& shots) {
    Machine machine(root);
    CreateDirectoryW(shots.c_str(), nullptr);
    Wizard wizard(machine.wizardExe);
    HWND dlg = wizard.WaitForDialog();
    if (dlg == nullptr) {
        Print(L"demo: the wizard's dialog did not appear");
        return 1;
    }
    Shot(dlg, shots, L"1-welcome");
    Print(L"demo: " + ControlText(dlg, IDC_STC_MAINDLG_TIPINFO));
    Click(dlg, IDC_BTN_MAINDLG_NEXT);
    if (WaitUntil([&] { return ProgressPos(dlg, IDC_PRG_MAINDLG_PROGRESS) > 0; }, 20000)) {
        Shot(dlg, shots, L"2-installing");
    }
    if (!WaitUntil([&] { return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH); })) {
        Print(L"demo: the install did not finish");
        return 1;
    }
    Shot(dlg, shots, L"3-finished");
    for (const std::wstring& line : ListLines(dlg, IDC_LST_MAINDLG_INFO)) Print(L"demo:   " + line);
    Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    Print(L"demo: wizard ended with exit code " + std::to_wstring(wizard.WaitForExit()));

    HWND manager = nullptr;
    WaitUntil([&] { return (manager = FindWindowW(nullptr, LEXORA_MANAGER_TITLE)) != nullptr && IsWindowVisible(manager); },
              20000);
    if (manager != nullptr) Shot(manager, shots, L"4-host-dictionary-manager");
    return 0;
}

int Report(const std::wstring& root) {
    Machine machine(root);
    Print(L"demo: dictionary data in " + machine.dictData);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((machine.dictData + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                Print(L"demo:   " + std::wstring(data.cFileName) + L"  " + std::to_wstring(data.nFileSizeLow) + L" bytes");
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    Print(L"demo: " + machine.hostConfig);
    std::wstring config = ReadUtf16File(machine.hostConfig);
    size_t start = 0;
    while (start < config.size()) {
        size_t end = config.find(L"\r\n", start);
        if (end == std::wstring::npos) end = config.size();
        if (end > start) Print(L"demo:   " + config.substr(start, end - start));
        start = end + 2;
    }
    Print(L"demo: pictures: " +
          std::wstring(test::FileExists(machine.hostImages + L"\\chengyu.bmp") ? L"chengyu.bmp " : L"") +
          (test::FileExists(machine.hostImages + L"\\oxford.bmp") ? L"oxford.bmp" : L""));
    DWORD id = 0;
    Print(std::wstring(L"demo: service lxdsvc.exe ") + (FindProcessByName(DICT_SERVICE_NAME, id) ? L"running" : L"stopped") +
          L", host Lexora.exe " + (FindProcessByName(L"Lexora.exe", id) ? L"running" : L"not running"));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && wcscmp(argv[1], L"sources") == 0) return Sources(argv[2]);
    if (argc >= 3 && wcscmp(argv[1], L"layout") == 0) return Layout(argv[2]);
    if (argc >= 4 && wcscmp(argv[1], L"walk") == 0) return Walk(argv[2], argv[3]);
    if (argc >= 3 && wcscmp(argv[1], L"report") == 0) return Report(argv[2]);
    Print(L"usage: QuillboxDemo sources|layout|walk|report <folder> [shots-folder]");
    return 2;
}
