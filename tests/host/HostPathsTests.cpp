#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "tests/support/TestSupport.h"

namespace {

using test::HostRegistry;
using test::TempDir;

constexpr wchar_t HOST_EXE[] = L"Lexora.exe";

// Writes a value's bytes exactly as given, so a test controls length and terminator.
void WriteRawValue(const wchar_t* name, DWORD type, const std::wstring& units) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    qb::ScopedRegKey key(raw);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(units.data()),
                             static_cast<DWORD>(units.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// The caches are process-wide and only a read of an empty value empties them again, so
// every test starts from empty caches and no key.
class HostPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            HostRegistry empty(L"", L"");
            EXPECT_FALSE(CheckHostEnvironment());
        }
        std::wstring out;
        ASSERT_FALSE(GetDictDataDir(out)) << "caches were not emptied";
    }
    void TearDown() override { HostRegistry::Delete(); }

    // A host folder holding its executable.
    std::wstring MakeHost() {
        EXPECT_TRUE(test::WriteFileBytes(m_host / HOST_EXE, "MZ"));
        return m_host.path();
    }

    TempDir m_host{L"host"};
};

struct RegistryCase {
    const char* name;
    bool writeKey;
    DWORD type;
    std::wstring units;  // written as they are, terminator included or not
    bool read;
    std::wstring text;
};

class ReadRegistryStringTest : public ::testing::TestWithParam<RegistryCase> {
protected:
    void TearDown() override { HostRegistry::Delete(); }
};

TEST_P(ReadRegistryStringTest, ReadsWithinTheBuffer) {
    const RegistryCase& c = GetParam();
    HostRegistry::Delete();
    if (c.writeKey) WriteRawValue(HOST_VALUE_LOCATION, c.type, c.units);
    std::wstring out = L"before";
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, HOST_VALUE_LOCATION, out), c.read);
    EXPECT_EQ(out, c.read ? c.text : L"before");
}

std::wstring Nul(std::wstring text) {
    text.push_back(L'\0');
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadRegistryStringTest,
    ::testing::Values(
        RegistryCase{"key_missing", false, REG_SZ, L"", false, L""},
        RegistryCase{"plain", true, REG_SZ, Nul(L"C:\\Lexora"), true, L"C:\\Lexora"},
        RegistryCase{"empty", true, REG_SZ, Nul(L""), true, L""},
        RegistryCase{"no_terminator", true, REG_SZ, L"C:\\Lexora", true, L"C:\\Lexora"},
        RegistryCase{"cut_at_embedded_nul", true, REG_SZ, Nul(std::wstring(L"C:\\A\0B", 6)), true, L"C:\\A"},
        RegistryCase{"expandable_kept_literal", true, REG_EXPAND_SZ, Nul(L"%ProgramFiles%\\Lexora"), true,
                     L"%ProgramFiles%\\Lexora"},
        RegistryCase{"259_units_and_terminator_fill_520_bytes", true, REG_SZ, Nul(std::wstring(259, L'x')), true,
                     std::wstring(259, L'x')},
        RegistryCase{"260_units_without_terminator", true, REG_SZ, std::wstring(260, L'x'), false, L""},
        RegistryCase{"260_units_and_terminator", true, REG_SZ, Nul(std::wstring(260, L'x')), false, L""},
        RegistryCase{"300_units", true, REG_SZ, Nul(std::wstring(300, L'x')), false, L""}),
    [](const ::testing::TestParamInfo<RegistryCase>& info) { return std::string(info.param.name); });

TEST_F(HostPathsTest, MissingValueIsNotRead) {
    HostRegistry key(nullptr, HOST_EXE);
    std::wstring out = L"before";
    EXPECT_FALSE(ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, HOST_VALUE_LOCATION, out));
    EXPECT_EQ(out, L"before");
}

struct HostCase {
    const char* name;
    bool location;
    bool executableName;
    bool executableFile;
    bool expected;
};

class CheckHostEnvironmentTest : public HostPathsTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(CheckHostEnvironmentTest, NeedsBothValuesAndTheExecutable) {
    const HostCase& c = GetParam();
    if (c.executableFile) MakeHost();
    HostRegistry key(c.location ? m_host.path().c_str() : nullptr, c.executableName ? HOST_EXE : nullptr);
    EXPECT_EQ(CheckHostEnvironment(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Hosts, CheckHostEnvironmentTest,
                         ::testing::Values(HostCase{"complete", true, true, true, true},
                                           HostCase{"location_missing", false, true, true, false},
                                           HostCase{"executable_name_missing", true, false, true, false},
                                           HostCase{"executable_file_missing", true, true, false, false}),
                         [](const ::testing::TestParamInfo<HostCase>& info) { return std::string(info.param.name); });

TEST_F(HostPathsTest, KeyMissingFailsEveryHostPath) {
    HostRegistry::Delete();
    EXPECT_FALSE(CheckHostEnvironment());
    std::wstring out = L"before";
    EXPECT_FALSE(GetDictDataDir(out));
    EXPECT_FALSE(GetLocalQueryCfgPath(out));
    EXPECT_FALSE(GetHostImagePath(L"a.bmp", out));
    EXPECT_FALSE(GetRepairToolPath(out));
    EXPECT_FALSE(GetHostExecutablePath(out));
    EXPECT_EQ(out, L"before");
}

// Why the host is not found, as the log says it: the key, the value that is missing, empty or
// too long (with the values the key does hold), or the executable's path; nothing when found.
TEST_F(HostPathsTest, MissingHostIsDescribed) {
    const std::wstring location = MakeHost();
    const std::wstring tooLong(300, L'x');
    const struct {
        const char* name;
        const wchar_t* location;  // null: not written; no values at all: no key
        const wchar_t* executableName;
        std::wstring says;
    } cases[] = {
        {"key missing", nullptr, nullptr, L" is missing"},
        {"Location missing", nullptr, HOST_EXE, L" has no value Location (its values: ExcutableName)"},
        {"Location empty", L"", HOST_EXE, L": the value Location is empty"},
        {"Location too long", tooLong.c_str(), HOST_EXE, L": the value Location is too long"},
        {"ExcutableName missing", location.c_str(), nullptr, L" has no value ExcutableName (its values: Location)"},
        {"executable missing", location.c_str(), L"Other.exe",
         L"the host's executable " + location + L"\\Other.exe (Location and ExcutableName under HKLM\\"},
        {"found", location.c_str(), HOST_EXE, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostRegistry::Delete();
        std::unique_ptr<HostRegistry> key;
        if (c.location || c.executableName) key = std::make_unique<HostRegistry>(c.location, c.executableName);
        const std::wstring said = DescribeMissingHost();
        if (c.says.empty()) {
            EXPECT_EQ(said, L"");
        } else {
            EXPECT_NE(said.find(c.says), std::wstring::npos) << test::Utf8(said);
            EXPECT_NE(said.find(L"HKLM\\"), std::wstring::npos) << "no key named: " << test::Utf8(said);
        }
    }
}

// Empty values joined give "\", the root of the current drive: it exists, but it is no host.
TEST_F(HostPathsTest, EmptyValuesAreNoHost) {
    HostRegistry key(L"", L"");
    EXPECT_FALSE(CheckHostEnvironment());
}

TEST_F(HostPathsTest, ExpandableLocationIsUsedLiterally) {
    MakeHost();
    HostRegistry key(nullptr, HOST_EXE);
    WriteRawValue(HOST_VALUE_LOCATION, REG_EXPAND_SZ, Nul(L"%TEMP%\\no-such-host"));
    EXPECT_FALSE(CheckHostEnvironment());
    std::wstring dir;
    ASSERT_TRUE(GetDictDataDir(dir));
    EXPECT_EQ(dir, L"%TEMP%\\no-such-host\\plugin\\localquery\\dictdata");
}

TEST_F(HostPathsTest, EveryPathIsFormedFromTheValues) {
    const std::wstring location = MakeHost();
    HostRegistry key(location.c_str(), HOST_EXE);
    ASSERT_TRUE(CheckHostEnvironment());
    std::wstring out;
    ASSERT_TRUE(GetDictDataDir(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\dictdata");
    ASSERT_TRUE(GetLocalQueryCfgPath(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\localquerydictcfg.ini");
    ASSERT_TRUE(GetHostImagePath(L"a.bmp", out));
    EXPECT_EQ(out, location + L"\\plugin\\image\\a.bmp");
    ASSERT_TRUE(GetRepairToolPath(out));
    EXPECT_EQ(out, location + L"\\LXDRepair.exe");
    ASSERT_TRUE(GetHostExecutablePath(out));
    EXPECT_EQ(out, location + L"\\" + HOST_EXE);
}

TEST_F(HostPathsTest, TrailingBackslashInLocationStillResolves) {
    const std::wstring location = MakeHost() + L"\\";
    ASSERT_TRUE(test::MakeDirs(m_host / L"plugin\\localquery\\dictdata"));
    HostRegistry key(location.c_str(), HOST_EXE);
    EXPECT_TRUE(CheckHostEnvironment());
    std::wstring out;
    ASSERT_TRUE(GetDictDataDir(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\dictdata");
    EXPECT_TRUE(PathExists(out));
    ASSERT_TRUE(GetHostExecutablePath(out));
    EXPECT_TRUE(PathExists(out));
}

TEST_F(HostPathsTest, CachesOutliveTheKeyAndIgnoreLaterChanges) {
    const std::wstring location = MakeHost();
    {
        HostRegistry key(location.c_str(), HOST_EXE);
        ASSERT_TRUE(CheckHostEnvironment());
    }
    std::wstring out;
    ASSERT_TRUE(GetDictDataDir(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\dictdata");
    ASSERT_TRUE(GetHostExecutablePath(out));
    EXPECT_EQ(out, location + L"\\" + HOST_EXE);

    HostRegistry changed(L"C:\\elsewhere", L"other.exe");
    ASSERT_TRUE(GetRepairToolPath(out));
    EXPECT_EQ(out, location + L"\\LXDRepair.exe");
    // Only the start-up check reads the registry again.
    EXPECT_FALSE(CheckHostEnvironment());
    ASSERT_TRUE(GetHostExecutablePath(out));
    EXPECT_EQ(out, L"C:\\elsewhere\\other.exe");
}

TEST_F(HostPathsTest, PathLookupFillsAnEmptyCacheFromTheRegistry) {
    const std::wstring location = MakeHost();
    HostRegistry key(location.c_str(), HOST_EXE);
    std::wstring out;
    ASSERT_TRUE(GetHostExecutablePath(out));
    EXPECT_EQ(out, location + L"\\" + HOST_EXE);
    HostRegistry::Delete();
    ASSERT_TRUE(GetDictDataDir(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\dictdata");
}

TEST_F(HostPathsTest, FailedReadKeepsTheCache) {
    const std::wstring location = MakeHost();
    HostRegistry key(location.c_str(), HOST_EXE);
    ASSERT_TRUE(CheckHostEnvironment());
    WriteRawValue(HOST_VALUE_LOCATION, REG_SZ, Nul(std::wstring(300, L'x')));
    EXPECT_FALSE(CheckHostEnvironment());
    std::wstring out;
    ASSERT_TRUE(GetDictDataDir(out));
    EXPECT_EQ(out, location + L"\\plugin\\localquery\\dictdata");
}

TEST(ModuleDirTest, IsTheProgramsFolderWithItsBackslash) {
    std::wstring dir;
    ASSERT_TRUE(GetModuleDir(dir));
    EXPECT_EQ(dir, test::ExeDir());
    EXPECT_EQ(dir.back(), L'\\');
    std::wstring image;
    ASSERT_TRUE(GetPackageImagePath(L"a.bmp", image));
    EXPECT_EQ(image, dir + L"\\dict_image\\a.bmp");
}

}  // namespace

namespace {

// Runs a copy of the probe from a folder whose full path has about dirLength units. (Wine
// starts no program from a path of MAX_PATH or more, so the refusal of such a path is not
// reachable here.)
struct ProbeRun {
    DWORD exitCode = 0xFFFF;
    std::wstring moduleDir;
    std::wstring folder;
};

ProbeRun RunProbeIn(const TempDir& scratch, size_t dirLength) {
    ProbeRun run;
    std::wstring folder = scratch.path();
    while (folder.size() + 1 < dirLength) {
        const size_t room = dirLength - folder.size() - 1;
        folder += L"\\" + std::wstring(std::min<size_t>(room, 100), L'd');
        CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
    }
    run.folder = folder + L"\\";
    const std::wstring exe = run.folder + L"probe.exe";
    if (!CopyFileW((test::ExeDir() + L"module_dir_probe.exe").c_str(), (L"\\\\?\\" + exe).c_str(), FALSE))
        return run;
    const std::wstring out = scratch / L"out.bin";
    std::wstring commandLine = L"probe.exe \"" + out + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return run;
    qb::ScopedHandle process(info.hProcess);
    qb::ScopedHandle thread(info.hThread);
    // The probe only writes one path and ends; a minute means it is stuck, emulated or not.
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "module_dir_probe.exe did not exit within 60 s";
        TerminateProcess(process.get(), 1);
        return run;
    }
    GetExitCodeProcess(process.get(), &run.exitCode);
    const std::string bytes = test::ReadFileBytes(out);
    run.moduleDir.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return run;
}

}  // namespace

TEST(ModuleDirTest, FolderNearTheLimitStillFits) {
    TempDir scratch(L"probe");
    const ProbeRun run = RunProbeIn(scratch, 240);  // "probe.exe" makes 250
    ASSERT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.moduleDir, run.folder);
}

