// The host's localquerydictcfg.ini when the disk is nearly full or the host holds the file:
// the real wizard registers a dictionary only into a copy it has proven, the file keeps every
// section either way, and a registration that did not reach it fails its entry, keeps the
// dictionary's mark and is made up by the next run.
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "host/HostConfigFile.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

const size_t PAGE = 4096;  // a tmpfs counts its room in pages
const std::string DICT = test::PatternBytes(2 * PAGE, 41);
const int OTHER_SECTIONS = 499;
const std::wstring LONG_VALUE(200, L'x');

size_t Pages(size_t bytes) { return (bytes + PAGE - 1) / PAGE; }

std::string OtherSection(int i) {
    char text[96];
    snprintf(text, sizeof text, "[s%03d]\r\nid=s%03d\r\nkey=value of section %03d\r\n", i, i, i);
    return text;
}

// An ANSI file of 500 sections (or more); abcOnTop puts the dictionary's own (older) section first.
// Padded so that its last page has 100 bytes to spare: any growth beyond that needs a page.
std::string HostFile(bool abcOnTop, int sections = OTHER_SECTIONS) {
    std::string text = abcOnTop ? "[abc]\r\nid=abc\r\ndesc_name=old\r\n" : "";
    for (int i = 0; i < sections; ++i) text += OtherSection(i);
    const size_t target = (Pages(text.size() + 20) * PAGE) - 100;
    text += ";" + std::string(target - text.size() - 3, 'p') + "\r\n";
    return text;
}

class HostConfigTest : public FaultTest {
protected:
    std::wstring LocalQuery() const { return machine->hostDir + L"\\plugin\\localquery"; }
    std::wstring Filler() const { return LocalQuery() + L"\\filler.bin"; }

    // plugin\localquery (the data folder and the host's file) on a tmpfs of its own.
    bool MountLocalQuery() {
        const std::string config = test::ReadFileBytes(machine->hostConfig);
        DeleteFileW(machine->hostConfig.c_str());
        RemoveDirectoryW(machine->dictData.c_str());
        mount = std::make_unique<faults::TmpfsMount>(LocalQuery(), 4096, dir.path());
        const bool mounted = mount->mounted();
        CreateDirectoryW(machine->dictData.c_str(), nullptr);
        test::WriteFileBytes(machine->hostConfig, config);
        return mounted;
    }

    // Fills the disk until exactly `pages` pages are free.
    bool LeavePagesFree(size_t pages) {
        ULARGE_INTEGER free;
        if (!GetDiskFreeSpaceExW(LocalQuery().c_str(), &free, nullptr, nullptr)) return false;
        if (free.QuadPart < pages * PAGE) return false;
        return test::WriteFileBytes(Filler(), std::string(static_cast<size_t>(free.QuadPart) - pages * PAGE, 'f'));
    }

    void WriteLongDictConfig() const {
        std::wstring text = L"[abc]\r\n";
        for (const wchar_t* key : {L"id_net", L"desc_name", L"catalog", L"from", L"to", L"desc_intro",
                                   L"desc_copyright", L"func_all"})
            text += std::wstring(key) + L"=" + LONG_VALUE + L"\r\n";
        machine->WriteDictConfig(text);
    }

    static std::wstring Value(const std::wstring& file, const std::wstring& section, const wchar_t* key) {
        wchar_t value[512] = {};
        GetPrivateProfileStringW(section.c_str(), key, L"", value, 512, file.c_str());
        return value;
    }

    void ExpectOtherSectionsKept() const {
        for (int i = 0; i < OTHER_SECTIONS; ++i) {
            wchar_t name[16];
            swprintf(name, 16, L"s%03d", i);
            wchar_t value[32];
            swprintf(value, 32, L"value of section %03d", i);
            ASSERT_EQ(Value(machine->hostConfig, name, L"key"), value) << test::Utf8(name);
        }
    }

    // One run to the end: the lines it shows.
    std::vector<std::wstring> Run(const std::wstring& expectedWelcome) {
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        if (dlg == nullptr) {
            ADD_FAILURE() << "no dialog";
            return {};
        }
        EXPECT_EQ(FirstPageText(dlg), Welcome(expectedWelcome.c_str()));
        return InstallToTheEnd(wizard, dlg);
    }

    // After a failed registration: room is made (or the holder let go), and the next run
    // installs the dictionary again from an entry of its own date and registers it.
    void ExpectNextRunRegisters() {
        DeleteFileW(Filler().c_str());
        EXPECT_EQ(Run(L"升级《ABC英汉词典》"), std::vector<std::wstring>{Upgraded(ABC_NAME)});
        EXPECT_EQ(Value(machine->hostConfig, L"abc", L"desc_intro"), LONG_VALUE);
        ExpectOtherSectionsKept();
        ExpectDataDir({{L"abc.dic", DICT}});
    }
};

const wchar_t INSTALL_ABC[] = L"安装《ABC英汉词典》";

// Room for the dictionary and for a copy of the host's file, but not for the copy with the
// registration written into it (the profile functions rewrite a file whole, and stop at the
// disk's end); then room for the dictionary only. The host's file stays byte for byte, the
// entry fails, its mark stays, and once there is room the next run registers it.
TEST_F(HostConfigTest, NearlyFullDiskNeverCutsTheHostFile) {
    const struct {
        const char* name;
        bool abcOnTop;
        bool copyFits;
        int sections;
    } cases[] = {{"section at the top, the edited copy does not fit", true, true, OTHER_SECTIONS},
                 {"new section, the edited copy does not fit", false, true, OTHER_SECTIONS},
                 {"the copy does not fit", true, false, OTHER_SECTIONS},
                 // Written past the output buffer, in stretches straight from the file's bytes.
                 {"a file larger than the write buffer, the edited copy does not fit", true, true, 8000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!MountLocalQuery()) GTEST_SKIP() << "mounting a size-limited tmpfs needs root";
        const std::string before = HostFile(c.abcOnTop, c.sections);
        ASSERT_TRUE(test::WriteFileBytes(machine->hostConfig, before));
        WriteLongDictConfig();
        machine->AddPackage(L"abc.dir", MakePackage({Abc(DICT)}));
        ASSERT_TRUE(LeavePagesFree(Pages(DICT.size()) + Pages(before.size()) - (c.copyFits ? 0 : 1)));

        EXPECT_EQ(Run(INSTALL_ABC), std::vector<std::wstring>{Format(WIZ_TEXT_INSTALL_FAILED_FORMAT, ABC_NAME)});
        EXPECT_TRUE(test::ReadFileBytes(machine->hostConfig) == before) << "the host's file changed";
        EXPECT_FALSE(test::FileExists(NewFilePathOf(machine->hostConfig)));
        ExpectDataDir({{L"abc.dic", DICT}, {L"abc.dic" UNREGISTERED_SUFFIX, ""}});

        ExpectNextRunRegisters();
        mount.reset();
        machine = std::make_unique<Machine>(dir.path() + L"\\m" + std::to_wstring(&c - cases));
        ASSERT_TRUE(machine->Create(BinDir()));
        machine->Register();
    }
}

// The host holds its file during the install: without delete sharing it cannot be replaced,
// so the registration fails after a short while of trying, the file is unchanged and the
// mark stays; after the host lets go the next run registers it. With delete sharing it is
// replaced as before.
TEST_F(HostConfigTest, HostHoldingItsFile) {
    const struct {
        const wchar_t* mode;
        bool registers;
    } holders[] = {{L"none", false}, {L"r", false}, {L"rw", false}, {L"rwd", true}};
    WriteLongDictConfig();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(DICT)}));
    for (const auto& h : holders) {
        SCOPED_TRACE(test::Utf8(h.mode));
        const std::string before = HostFile(false);
        ASSERT_TRUE(test::WriteFileBytes(machine->hostConfig, before));
        DeleteFileW(Installed(L"abc.dic").c_str());
        {
            FileHolder holder(machine->hostConfig, h.mode);
            ASSERT_TRUE(holder.holding());
            EXPECT_EQ(Run(INSTALL_ABC), std::vector<std::wstring>{h.registers
                                                                      ? Format(WIZ_TEXT_INSTALL_DONE_FORMAT, ABC_NAME)
                                                                      : Format(WIZ_TEXT_INSTALL_FAILED_FORMAT, ABC_NAME)});
        }
        if (h.registers) {
            EXPECT_EQ(Value(machine->hostConfig, L"abc", L"desc_intro"), LONG_VALUE);
            ExpectOtherSectionsKept();
            ExpectDataDir({{L"abc.dic", DICT}});
            continue;
        }
        EXPECT_TRUE(test::ReadFileBytes(machine->hostConfig) == before) << "the host's file changed";
        ExpectDataDir({{L"abc.dic", DICT}, {L"abc.dic" UNREGISTERED_SUFFIX, ""}});
        ExpectNextRunRegisters();
    }
}

// A holder that lets go while the wizard is still trying (a scanner that reads the file for a
// moment): the registration goes through, whichever way the file was held, also when it could
// not even be read for the copy.
TEST_F(HostConfigTest, HostLettingGoWhileTried) {
    WriteLongDictConfig();
    machine->AddPackage(L"abc.dir", MakePackage({Abc(DICT)}));
    for (const wchar_t* mode : {L"none", L"r", L"rw"}) {
        SCOPED_TRACE(test::Utf8(mode));
        ASSERT_TRUE(test::WriteFileBytes(machine->hostConfig, HostFile(false)));
        DeleteFileW(Installed(L"abc.dic").c_str());
        auto holder = std::make_unique<FileHolder>(machine->hostConfig, mode);
        ASSERT_TRUE(holder->holding());
        // The dictionary at its name means the registration is about to be tried.
        std::thread release([&] {
            WaitUntil([&] { return test::FileExists(Installed(L"abc.dic")); });
            Sleep(300);
            holder.reset();
        });
        const std::vector<std::wstring> lines = Run(INSTALL_ABC);
        release.join();
        EXPECT_EQ(lines, std::vector<std::wstring>{Format(WIZ_TEXT_INSTALL_DONE_FORMAT, ABC_NAME)});
        EXPECT_EQ(Value(machine->hostConfig, L"abc", L"desc_intro"), LONG_VALUE);
        ExpectOtherSectionsKept();
        ExpectDataDir({{L"abc.dic", DICT}});
    }
}

// Ends a process at the first change to a file that its folder reports, as someone watching
// the folder from outside would see it.
class KillAtFirstChange {
public:
    KillAtFirstChange(const std::wstring& folder, const std::wstring& fileName, DWORD processId)
        : m_fileName(fileName),
          m_process(OpenProcess(PROCESS_TERMINATE, FALSE, processId)),
          m_folder(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
          m_changed(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        m_watch = std::thread([this] { Watch(); });
    }
    ~KillAtFirstChange() {
        SetEvent(m_stop.get());
        m_watch.join();
    }
    bool watching() const { return m_process.valid() && m_folder.valid(); }
    // The change that named the file (FILE_ACTION_...), 0 while none came.
    DWORD action() const { return m_action; }

private:
    void Watch() {
        alignas(DWORD) char buffer[16384];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = m_changed.get();
        const DWORD filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                             FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY;
        while (m_action == 0) {
            ResetEvent(m_changed.get());
            if (!ReadDirectoryChangesW(m_folder.get(), buffer, sizeof buffer, FALSE, filter, nullptr, &overlapped,
                                       nullptr))
                return;
            HANDLE waits[] = {m_changed.get(), m_stop.get()};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIo(m_folder.get());
                return;
            }
            DWORD got = 0;
            if (!GetOverlappedResult(m_folder.get(), &overlapped, &got, FALSE) || got == 0) continue;
            for (const char* at = buffer;;) {
                const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
                const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
                if (CompareStringOrdinal(name.c_str(), -1, m_fileName.c_str(), -1, TRUE) == CSTR_EQUAL) {
                    // Said before the kill: the test reads it as soon as the wizard is gone.
                    m_action = info->Action;
                    TerminateProcess(m_process.get(), 9);
                    break;
                }
                if (info->NextEntryOffset == 0) break;
                at += info->NextEntryOffset;
            }
        }
    }

    std::wstring m_fileName;
    qb::ScopedHandle m_process, m_folder, m_changed, m_stop;
    std::atomic<DWORD> m_action{0};
    std::thread m_watch;
};

// Killed at the moment the host's file first changes, seen from outside, while four
// dictionaries are registered into a file of 2,000 sections: the file is whole at its name
// and holds every key it had, before any next run could mend anything.
TEST_F(HostConfigTest, KillAtTheFirstChangeOfTheHostFileLeavesItWhole) {
    const int sections = 2000;
    std::wstring text;
    for (int i = 0; i < sections; ++i) {
        const std::wstring n = std::to_wstring(i);
        text += L"[other" + n + L"]\r\nid=other" + n + L"\r\ndesc_name=\x8BCD\x5178" + n + L"\r\nenable=1\r\n";
    }
    const PackageEntry mno = {L"mno", L".dic", L"2024-05-01", L"MNO\x8BCD\x5178", test::PatternBytes(3000, 44)};
    machine->AddPackage(L"dicts.dir", MakePackage({Abc(DICT), Qrs(DICT), Xyz(DICT), mno}));
    for (int run = 1; run <= 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        machine->WriteHostConfig(text);
        for (const wchar_t* name : {L"abc.dic", L"qrs.dic", L"xyz.dic", L"mno.dic"}) {
            for (const wchar_t* suffix : WORK_FILE_SUFFIXES) DeleteFileW((Installed(name) + suffix).c_str());
            DeleteFileW(Installed(name).c_str());
        }
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        {
            KillAtFirstChange killer(LocalQuery(), L"localquerydictcfg.ini", wizard.processId());
            ASSERT_TRUE(killer.watching());
            Click(dlg, IDC_BTN_MAINDLG_NEXT);
            ASSERT_TRUE(WaitUntil([&] { return !wizard.Running() || OnFinishedPage(dlg); }, INSTALL_WAIT_MS));
            if (wizard.Running()) {
                ADD_FAILURE() << "no change of the host's file was seen; the install ran to its end";
                LeaveFinishedPage(wizard, dlg);
                return;
            }
            EXPECT_NE(killer.action(), 0u);
        }
        ASSERT_TRUE(test::FileExists(machine->hostConfig)) << "no configuration at the host's name";
        std::wstring after;
        DWORD error = ERROR_SUCCESS;
        ASSERT_TRUE(ReadProfileText(machine->hostConfig, after, error)) << error;
        for (int i = 0; i < sections; ++i) {
            const std::wstring n = std::to_wstring(i);
            const std::wstring block =
                L"[other" + n + L"]\r\nid=other" + n + L"\r\ndesc_name=\x8BCD\x5178" + n + L"\r\nenable=1\r\n";
            ASSERT_NE(after.find(block), std::wstring::npos) << "lost: other" << i;
        }
    }
}

}  // namespace
}  // namespace faults
