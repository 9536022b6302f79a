// What every fault test shares: a machine laid out in a scratch folder, the real wizard,
// another program holding a file, and the check that the dictionary data folder holds
// exactly the dictionaries it should, byte for byte, with nothing partial and nothing of
// the engine's own left over.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "install/ReplaceTarget.h"
#include "standins/lxdsvc/ServiceStop.h"
#include "tests/e2e/InstalledAppsSupport.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/faults/UnixMount.h"
#include "tests/support/TestSupport.h"

namespace faults {

using namespace e2e;

#define FAULT_HOLDER_EXE L"fault_file_holder.exe"
#define FAULT_HOLDER_READY_EVENT L"QuillboxFaultHolderReady"
#define INSTALL_WAIT_MS 600000

inline std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

inline std::wstring BinDir() { return FullPath(test::ExeDir() + L"..\\..\\bin\\"); }

inline std::wstring Format(const wchar_t* format, const wchar_t* name) {
    std::wstring text = format;
    text.replace(text.find(L"%s"), 2, name);
    return text;
}

inline const wchar_t ABC_NAME[] = L"ABC英汉词典";
inline const wchar_t XYZ_NAME[] = L"XYZ汉英词典";
inline const wchar_t QRS_NAME[] = L"QRS词典";

inline PackageEntry Abc(const std::string& data) { return {L"abc", L".dic", L"2024-05-01", ABC_NAME, data}; }
inline PackageEntry Xyz(const std::string& data) { return {L"xyz", L".dic", L"2024-05-01", XYZ_NAME, data}; }
inline PackageEntry Qrs(const std::string& data) { return {L"qrs", L".dic", L"2024-05-01", QRS_NAME, data}; }

inline std::wstring UpgradeFailed(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_FAILED_FORMAT, name); }
inline std::wstring UpgradeBegins(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_BEGIN_FORMAT, name); }
inline std::wstring Upgraded(const wchar_t* name) { return Format(WIZ_TEXT_UPGRADE_DONE_FORMAT, name); }
inline std::wstring Welcome(const wchar_t* what) { return Format(WIZ_TEXT_WELCOME_FORMAT, what); }

inline const size_t KB = 1024;
inline const std::string ABC_OLD = test::PatternBytes(200 * KB, 11);
inline const std::string XYZ_OLD = test::PatternBytes(100 * KB, 12);

// A file held open until the object ends, as the host or a virus scanner holds it: share is
// "none", "r", "rw" or "rwd". By another process, or, where the loop of a test starts many rounds,
// by a handle of this test process: sharing is decided per open handle, so the wizard meets the
// same refusals either way, and each round costs one Wine process less (several times more
// where 32-bit code is emulated).
class FileHolder {
public:
    enum Where { OtherProcess, ThisProcess };
    FileHolder(const std::wstring& path, const wchar_t* share, Where where = OtherProcess)
        : FileHolder(path, share, where, test::ExeDir() + FAULT_HOLDER_EXE) {}
    // exe: the holder under another name (the host's service's, to be stopped as it is).
    FileHolder(const std::wstring& path, const wchar_t* share, const std::wstring& exe)
        : FileHolder(path, share, OtherProcess, exe) {}
    ~FileHolder() {
        if (!m_process) return;
        TerminateProcess(m_process.get(), 0);
        if (WaitForSingleObject(m_process.get(), E2E_GENEROUS_WAIT_MS) != WAIT_OBJECT_0)
            ADD_FAILURE() << "fault_file_holder.exe did not end within " << E2E_GENEROUS_WAIT_MS / 1000 << " s";
    }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool holding() const { return m_holding; }

private:
    FileHolder(const std::wstring& path, const wchar_t* share, Where where, const std::wstring& exe) {
        if (where == ThisProcess) {
            const std::wstring mode = share;
            const DWORD sharing = mode == L"rwd"  ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                  : mode == L"rw" ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                  : mode == L"r"  ? FILE_SHARE_READ
                                                  : 0;
            m_file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
            m_holding = m_file.valid();
            return;
        }
        qb::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, FAULT_HOLDER_READY_EVENT));
        std::wstring commandLine = L"\"" + exe + L"\" " + share + L" \"" + path + L"\" " FAULT_HOLDER_READY_EVENT;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return;
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
        HANDLE waits[] = {ready.get(), m_process.get()};
        m_holding = WaitForMultipleObjects(2, waits, FALSE, E2E_GENEROUS_WAIT_MS) == WAIT_OBJECT_0;
        if (!m_holding) ADD_FAILURE() << "fault_file_holder.exe did not hold " << test::Utf8(path) << " within "
                                      << E2E_GENEROUS_WAIT_MS / 1000 << " s";
    }
    qb::ScopedHandle m_process;
    qb::ScopedHandle m_file;
    bool m_holding = false;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Another test's setup records would claim the same bytes, and a removal keeps what they claim.
        RemoveInstalledApps();
        machine = std::make_unique<Machine>(dir.path() + L"\\m");
        ASSERT_TRUE(machine->Create(BinDir())) << "build the wizard, dict_ver.dll and the stand-ins first";
        machine->WriteDictConfig(L"[abc]\r\ndesc_name=ABC英汉词典\r\n[xyz]\r\ndesc_name=XYZ汉英词典\r\n");
        machine->Register();
    }
    void TearDown() override {
        Machine::Unregister();
        test::EndProcessesNamed(L"Lexora.exe");
        test::EndProcessesNamed(DICT_SERVICE_NAME);
    }

    // The dictionary data folder on a tmpfs of the given size; false (and the test skipped
    // by the caller) when this machine cannot mount one.
    bool MountDataDir(unsigned sizeKb) {
        mount = std::make_unique<faults::TmpfsMount>(machine->dictData, sizeKb, dir.path());
        return mount->mounted();
    }

    static bool OnFinishedPage(HWND dlg) {
        return Visible(dlg, IDC_CHK_MAINDLG_LAUNCH) && ControlText(dlg, IDC_BTN_MAINDLG_CANCEL) == WIZ_TEXT_FINISH;
    }

    // The welcome page's text, or the first page's text when it is another.
    static std::wstring FirstPageText(HWND dlg) { return ControlText(dlg, IDC_STC_MAINDLG_TIPINFO); }

    // A start of the wizard cancelled on its first page; that page's text.
    std::wstring StartAndCancel() const {
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        if (dlg == nullptr) {
            ADD_FAILURE() << "no dialog";
            return std::wstring();
        }
        const std::wstring text = FirstPageText(dlg);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        return text;
    }

    // Next on the welcome page, then the lines of the finished page (one entry's result shows
    // in the message line instead of the list); the wizard is left without the host start.
    static std::vector<std::wstring> InstallToTheEnd(Wizard& wizard, HWND dlg) {
        if (!Visible(dlg, IDC_BTN_MAINDLG_NEXT)) {
            ADD_FAILURE() << "no welcome page: " << test::Utf8(FirstPageText(dlg));
            return {};
        }
        Click(dlg, IDC_BTN_MAINDLG_NEXT);
        EXPECT_TRUE(WaitUntil([&] { return OnFinishedPage(dlg); }, INSTALL_WAIT_MS));
        return LeaveFinishedPage(wizard, dlg);
    }

    static std::vector<std::wstring> LeaveFinishedPage(Wizard& wizard, HWND dlg) {
        std::vector<std::wstring> lines = Visible(dlg, IDC_LST_MAINDLG_INFO)
                                              ? ListLines(dlg, IDC_LST_MAINDLG_INFO)
                                              : std::vector<std::wstring>{ControlText(dlg, IDC_STC_MAINDLG_TIPINFO)};
        SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, false);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        return lines;
    }

    // The data folder holds exactly these files with exactly these bytes: nothing lost,
    // nothing partial, no backup.
    void ExpectDataDir(const std::map<std::wstring, std::string>& expected) const {
        std::map<std::wstring, DWORD> found;  // sizes stay far below 4 GB here
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((machine->dictData + L"\\*").c_str(), &data));
        if (find) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    found[data.cFileName] = data.nFileSizeLow;
            } while (FindNextFileW(find.get(), &data));
        }
        for (const auto& file : found)
            EXPECT_EQ(expected.count(file.first), 1u) << "left in the data folder: " << test::Utf8(file.first)
                                                      << " (" << file.second << " bytes)";
        for (const auto& file : expected) {
            SCOPED_TRACE(test::Utf8(file.first));
            EXPECT_EQ(found.count(file.first), 1u) << "missing";
            const std::string bytes = test::ReadFileBytes(machine->dictData + L"\\" + file.first);
            EXPECT_EQ(bytes.size(), file.second.size());
            EXPECT_TRUE(bytes == file.second) << "content differs";
        }
    }

    // The wizard refuses to build its plan ("fail" box, exit code 2), and the data folder
    // holds exactly what it held.
    void ExpectPlanFailsChangingNothing(const std::map<std::wstring, std::string>& dataDir) const {
        Wizard wizard(machine->wizardExe);
        HWND box = WaitForMessageBox(wizard.processId(), WIZ_TEXT_PLAN_FAILED);
        ASSERT_NE(box, nullptr);
        CloseMessageBox(box);
        EXPECT_EQ(wizard.WaitForExit(), 2u);
        ExpectDataDir(dataDir);
    }

    std::wstring Installed(const wchar_t* name) const { return machine->dictData + L"\\" + name; }

    test::TempDir dir{L"faults"};
    std::unique_ptr<Machine> machine;
    std::unique_ptr<faults::TmpfsMount> mount;  // ends before the folders are removed
};

}  // namespace faults
