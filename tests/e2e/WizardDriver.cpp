#include "tests/e2e/WizardDriver.h"

#include <commctrl.h>

#include <cstdio>

#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace e2e {

namespace {

const wchar_t HOST_EXE_NAME[] = L"Lexora.exe";

bool CopyInto(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE); }

std::string Utf16File(const std::wstring& text) {
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

struct BoxSearch {
    DWORD processId;
    const std::wstring* fragment;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"#32770") != 0) return TRUE;
    if (MessageBoxText(window).find(*search->fragment) == std::wstring::npos) return TRUE;
    search->found = window;
    return FALSE;
}

// A window of the wizard answers at once unless its thread waits for the host (the finish page
// polls for the tray window for up to ten seconds); a window that never answers must fail
// the test that asked, not hang it.
LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, E2E_GENEROUS_WAIT_MS, &answer) == 0 &&
        IsWindow(window)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        std::fprintf(stderr, "[driver] window %p of process %lu did not answer message 0x%04x within %d s (error %lu)\n",
                     static_cast<void*>(window), static_cast<unsigned long>(owner), message,
                     E2E_GENEROUS_WAIT_MS / 1000, static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    return static_cast<LRESULT>(answer);
}

void WriteU16(std::string& out, WORD v) { out.append(reinterpret_cast<const char*>(&v), 2); }
void WriteU32(std::string& out, DWORD v) { out.append(reinterpret_cast<const char*>(&v), 4); }

}  // namespace

Machine::Machine(const std::wstring& rootDir) : root(rootDir) {
    wizardDir = root + L"\\wizard";
    wizardExe = wizardDir + L"\\Quillbox.exe";
    hostDir = root + L"\\Lexora";
    hostExe = hostDir + L"\\" + HOST_EXE_NAME;
    dictData = hostDir + HOST_DICT_DATA_PIECE;
    hostConfig = hostDir + HOST_LOCAL_QUERY_CFG_PIECE;
    hostImages = hostDir + L"\\plugin\\image";
    serviceExe = hostDir + L"\\" DICT_SERVICE_NAME;
}

bool Machine::Create(const std::wstring& binDir) {
    const bool ok = test::MakeDirs(wizardDir + L"\\dict_image") && test::MakeDirs(dictData) &&
           test::MakeDirs(hostImages) &&
           CopyInto(binDir + L"Quillbox.exe", wizardExe) &&
           CopyInto(binDir + L"dict_ver.dll", wizardDir + L"\\dict_ver.dll") &&
           CopyInto(binDir + L"Lexora.exe", hostExe) &&
           CopyInto(binDir + REPAIR_TOOL_NAME, hostDir + L"\\" REPAIR_TOOL_NAME) &&
           CopyInto(binDir + DICT_SERVICE_NAME, serviceExe);
    WriteHostConfig(L"");
    return ok;
}

void Machine::Register() const {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS)
        return;
    qb::ScopedRegKey key(raw);
    auto set = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set(HOST_VALUE_LOCATION, hostDir);
    set(HOST_VALUE_EXECUTABLE, HOST_EXE_NAME);
}

void Machine::Unregister() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY); }

void Machine::AddPackage(const std::wstring& fileName, const std::string& bytes) const {
    test::WriteFileBytes(wizardDir + L"\\" + fileName, bytes);
}

void Machine::AddInstalled(const std::wstring& fileName, const std::string& bytes, WORD year) const {
    const std::wstring path = dictData + L"\\" + fileName;
    test::WriteFileBytes(path, bytes);
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = 1;
    time.wDay = 1;
    FILETIME written;
    SystemTimeToFileTime(&time, &written);
    qb::ScopedHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    SetFileTime(file.get(), nullptr, nullptr, &written);
}

void Machine::AddPicture(const std::wstring& dictId, const std::string& bytes) const {
    test::WriteFileBytes(wizardDir + L"\\dict_image\\" + dictId + L".bmp", bytes);
}

void Machine::WriteDictConfig(const std::wstring& text) const {
    test::WriteFileBytes(wizardDir + L"\\dictconfig.ini", Utf16File(text));
}

void Machine::WriteHostConfig(const std::wstring& text) const { test::WriteFileBytes(hostConfig, Utf16File(text)); }

std::string MakePackage(const std::vector<PackageEntry>& entries, bool sealed) {
    std::vector<PackageEntrySpec> specs;
    std::vector<std::string> data;
    for (const PackageEntry& entry : entries) {
        PackageEntrySpec spec;
        spec.dictId = entry.dictId;
        spec.fileExt = entry.fileExt;
        spec.dateText = entry.dateText;
        spec.displayName = entry.displayName;
        specs.push_back(spec);
        data.push_back(entry.data);
    }
    return sealed ? BuildSealedPackage(specs, data) : BuildPackage(specs, data);
}

Wizard::Wizard(const std::wstring& exePath, const std::wstring& arguments) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    const std::wstring dir = exePath.substr(0, exePath.find_last_of(L'\\'));
    if (CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup,
                       &info)) {
        m_process.reset(info.hProcess);
        m_processId = info.dwProcessId;
        CloseHandle(info.hThread);
    }
}

Wizard::~Wizard() {
    if (Running()) {
        TerminateProcess(m_process.get(), 0);
        WaitForSingleObject(m_process.get(), E2E_GENEROUS_WAIT_MS);
    }
}

bool Wizard::Running() const {
    return m_process.valid() && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

bool Wizard::Terminate() {
    if (!Running()) return m_process.valid();
    TerminateProcess(m_process.get(), 0);
    return WaitForSingleObject(m_process.get(), E2E_GENEROUS_WAIT_MS) == WAIT_OBJECT_0;
}

HWND Wizard::WaitForDialog(DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
                 w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner == m_processId && GetDlgItem(w, 1000) != nullptr && IsWindowVisible(w)) {
                    found = w;
                    return true;
                }
            }
            return !Running();
        },
        timeoutMs);
    return found;
}

DWORD Wizard::WaitForExit(DWORD timeoutMs) const {
    if (!m_process.valid()) return STILL_ACTIVE;
    WaitForSingleObject(m_process.get(), timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.get(), &code);
    return code;
}

bool Visible(HWND dlg, int id) { return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE; }
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

std::wstring Text(HWND window) {
    const int length = static_cast<int>(SendBounded(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const int got = static_cast<int>(SendBounded(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0])));
    text.resize(got < 0 ? 0 : got);
    return text;
}

std::wstring ControlText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }

std::vector<std::wstring> ListLines(HWND dlg, int id) {
    HWND list = GetDlgItem(dlg, id);
    std::vector<std::wstring> lines;
    const int count = static_cast<int>(SendBounded(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int length = static_cast<int>(SendBounded(list, LB_GETTEXTLEN, i, 0));
        std::wstring line(length + 1, L'\0');
        SendBounded(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
        line.resize(length);
        lines.push_back(line);
    }
    return lines;
}

int ProgressPos(HWND dlg, int id) { return static_cast<int>(SendBounded(GetDlgItem(dlg, id), PBM_GETPOS, 0, 0)); }
int ProgressHigh(HWND dlg, int id) {
    return static_cast<int>(SendBounded(GetDlgItem(dlg, id), PBM_GETRANGE, FALSE, 0));
}

bool Checked(HWND dlg, int id) { return SendBounded(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void SetChecked(HWND dlg, int id, bool checked) {
    SendBounded(GetDlgItem(dlg, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Click(HWND dlg, int id) { PostMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

void PostCommand(HWND dlg, int id) { PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void PressKey(HWND dlg, WPARAM vk) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = dlg;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info) && info.hwndFocus != nullptr)
        target = info.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

void CloseByCaption(HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool BringToForeground(HWND dlg) {
    SetForegroundWindow(dlg);
    return WaitUntil([dlg] { return GetForegroundWindow() == dlg; }, 5000);
}

void TypeChord(std::initializer_list<WORD> keys) { TypeChord(std::vector<WORD>(keys)); }

void TypeChord(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD vk, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    for (WORD vk : keys) add(vk, 0);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) add(*it, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND FocusedWindow(HWND dlg) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

HWND WaitForMessageBox(DWORD processId, const std::wstring& textFragment, DWORD timeoutMs) {
    BoxSearch search = {processId, &textFragment, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring text = Text(box);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        if (_wcsicmp(className, L"Static") == 0) text += L"\n" + Text(child);
    }
    return text;
}

void CloseMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

bool SaveScreenshot(HWND window, const std::wstring& path) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    // Let the window finish painting before it is taken from the screen. Wine puts what a
    // window painted on the screen from its thread's message loop: when the window is this
    // thread's own, this thread has to run that loop meanwhile.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 20; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header = BitmapHeader24(width, height);
    const DWORD stride = ((width * 3) + 3) & ~3u;
    std::string pixels(stride * height, '\0');
    const int lines = GetDIBits(memory, bitmap, 0, height, &pixels[0], reinterpret_cast<BITMAPINFO*>(&header),
                                DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return lines == height && test::WriteFileBytes(path, BitmapFile(header, pixels));
}

BITMAPINFOHEADER BitmapHeader24(int width, int height) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    return header;
}

std::string BitmapFile(const BITMAPINFOHEADER& header, const std::string& pixels) {
    std::string file("BM", 2);
    WriteU32(file, 14 + sizeof header + static_cast<DWORD>(pixels.size()));
    WriteU16(file, 0);
    WriteU16(file, 0);
    WriteU32(file, 14 + sizeof header);
    file.append(reinterpret_cast<const char*>(&header), sizeof header);
    file += pixels;
    return file;
}

std::wstring ReadUtf16File(const std::wstring& path) {
    const std::string bytes = test::ReadFileBytes(path);
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE", 2) != 0) return std::wstring();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

std::wstring IniValue(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(section, key, L"", value, 1024, path.c_str());
    return value;
}

}  // namespace e2e
