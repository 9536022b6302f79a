// Drives the real Quillbox.exe from outside, as a user would: a machine laid out in a folder
// (wizard folder and host installation), the wizard started as its own process, its dialog
// found by title and read and operated through window messages only.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "base/ScopedWin.h"

namespace e2e {

#define E2E_GENEROUS_WAIT_MS 60000

// <root>\wizard holds the wizard as shipped, <root>\Lexora the host installation.
class Machine {
public:
    // Only the paths; Create lays the folders out.
    explicit Machine(const std::wstring& root);
    // binDir: the build's bin folder with Quillbox.exe, dict_ver.dll and the stand-ins.
    bool Create(const std::wstring& binDir);

    // HKLM Location and ExcutableName, pointing at the host folder.
    void Register() const;
    static void Unregister();

    void AddPackage(const std::wstring& fileName, const std::string& bytes) const;
    // A dictionary file already installed, dated by its last write (universal time).
    void AddInstalled(const std::wstring& fileName, const std::string& bytes, WORD year) const;
    void AddPicture(const std::wstring& dictId, const std::string& bytes) const;
    // dictconfig.ini beside the wizard and the host's localquerydictcfg.ini, both UTF-16LE.
    void WriteDictConfig(const std::wstring& text) const;
    void WriteHostConfig(const std::wstring& text) const;

    std::wstring root, wizardDir, wizardExe, hostDir, hostExe, dictData, hostConfig, hostImages, serviceExe;
};

// A package of one or more entries; data[i] is entry i's bytes.
struct PackageEntry {
    std::wstring dictId, fileExt, dateText, displayName;
    std::string data;
};
std::string MakePackage(const std::vector<PackageEntry>& entries, bool sealed = false);

class Wizard {
public:
    // arguments: the command line behind the program's quoted path.
    explicit Wizard(const std::wstring& exePath, const std::wstring& arguments = L"");
    ~Wizard();  // ends a wizard that is still running
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    bool started() const { return m_process.valid(); }
    DWORD processId() const { return m_processId; }
    // The dialog once it is visible; null if it never shows.
    HWND WaitForDialog(DWORD timeoutMs = E2E_GENEROUS_WAIT_MS);
    // The exit code, or STILL_ACTIVE if the process did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = E2E_GENEROUS_WAIT_MS) const;
    bool Running() const;
    // Ends the process at once, as a crash or the task manager would; true once it is gone.
    bool Terminate();

private:
    qb::ScopedHandle m_process;
    DWORD m_processId = 0;
};

bool Visible(HWND dlg, int id);
bool Enabled(HWND dlg, int id);
std::wstring Text(HWND window);
std::wstring ControlText(HWND dlg, int id);
std::vector<std::wstring> ListLines(HWND dlg, int id);
int ProgressPos(HWND dlg, int id);
int ProgressHigh(HWND dlg, int id);
bool Checked(HWND dlg, int id);
void SetChecked(HWND dlg, int id, bool checked);

// Operations are posted, so a handler that opens a message box does not block the caller.
void Click(HWND dlg, int id);
void PostCommand(HWND dlg, int id);
// A key down and up, posted to the control that has the keyboard focus in the dialog's thread.
void PressKey(HWND dlg, WPARAM vk);
void CloseByCaption(HWND dlg);

// Real keyboard input through the system's input queue (SendInput), as a keyboard gives it.
// It goes to the focused control of the foreground window, so the dialog is made that first.
bool BringToForeground(HWND dlg);
// One chord: its keys go down in the order given and up in reverse ({VK_MENU, 'N'} is Alt+N).
void TypeChord(std::initializer_list<WORD> keys);
void TypeChord(const std::vector<WORD>& keys);
// The window that has the keyboard focus in the dialog's thread, or null.
HWND FocusedWindow(HWND dlg);

// A message box (or another dialog) of the process whose texts contain the fragment.
HWND WaitForMessageBox(DWORD processId, const std::wstring& textFragment, DWORD timeoutMs = E2E_GENEROUS_WAIT_MS);
// The box's caption, and its message text.
std::wstring MessageBoxText(HWND box);
void CloseMessageBox(HWND box);

// Waits until pred() holds; false after the time.
template <typename Pred>
bool WaitUntil(Pred pred, DWORD timeoutMs = E2E_GENEROUS_WAIT_MS) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

// The window as it is on the screen, saved as a 24-bit .bmp.
bool SaveScreenshot(HWND window, const std::wstring& path);
// The header of an uncompressed 24-bit picture, rows bottom up, each padded to 4 bytes.
BITMAPINFOHEADER BitmapHeader24(int width, int height);
// A .bmp file's bytes: the file header, the picture's header and its pixels.
std::string BitmapFile(const BITMAPINFOHEADER& header, const std::string& pixels);

std::wstring ReadUtf16File(const std::wstring& path);
std::wstring IniValue(const std::wstring& path, const wchar_t* section, const wchar_t* key);

}  // namespace e2e
