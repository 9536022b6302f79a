#include <gtest/gtest.h>

#include <ostream>

#include "app/WizardMessages.h"
#include "host/ProcessControl.h"
#include "install/InstallEngine.h"
#include "install/DictConfig.h"
#include "install/ReplaceTarget.h"
#include "install/WorkFiles.h"
#include "package/PackageFormat.h"
#include "tests/install/InstallFixture.h"

namespace {

using test::PatternBytes;
using test::ReadFileBytes;

// One entry's message, e.g. "ITEM_DONE(D-abc,1)".
std::string EntryMessage(const char* message, const std::string& name, int action) {
    return std::string(message) + "(" + name + "," + std::to_string(action) + ")";
}

// An entry put in place: its begin and one step per chunk. Its outcome follows once its
// registration has reached the host's file, before the next entry begins.
std::string PlacedMessages(const std::string& name, int action, size_t steps) {
    std::string out = EntryMessage("ITEM_BEGIN", name, action);
    for (size_t i = 0; i < steps; ++i) out += " STEP";
    return out;
}

std::string EntryMessages(const std::string& name, int action, size_t steps, const char* last) {
    return PlacedMessages(name, action, steps) + " " + EntryMessage(last, name, action);
}

class InstallWorkerTest : public test::InstallFixture {
protected:
    test::MessageRecorder recorder;
};

TEST_F(InstallWorkerTest, EveryChunkIsOneStep) {
    struct SizeCase {
        const wchar_t* id;
        size_t size;
        size_t steps;
    } cases[] = {{L"empty", 0, 1}, {L"one", CHUNK_SIZE, 1}, {L"over", CHUNK_SIZE + 1, 2}, {L"three", 5000, 3}};
    std::vector<test::PlannedEntry> entries;
    std::string expected = "BEGIN";
    for (const SizeCase& c : cases) {
        entries.push_back({c.id, PatternBytes(c.size, static_cast<unsigned>(c.size)), ACTION_INSTALL});
        expected += " " + EntryMessages("D-" + test::Utf8(c.id), 1, c.steps, "ITEM_DONE");
    }
    AddPackage(L"a.dir", entries);

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    EXPECT_EQ(recorder.Sequence(), expected + " END");
    for (const SizeCase& c : cases) {
        const std::wstring target = TargetOf(c.id);
        ASSERT_TRUE(test::FileExists(target)) << test::Utf8(c.id);
        EXPECT_EQ(ReadFileBytes(target), PatternBytes(c.size, static_cast<unsigned>(c.size))) << test::Utf8(c.id);
        EXPECT_EQ(HostValue(c.id, L"id"), c.id);
    }
}

enum class HostFile { Plain, ReadOnly, AnsiWithAValueItCannotHold };

struct RegistrationCase {
    const char* name;
    HostFile hostFile;
    std::vector<bool> registered;  // abc, qrs, xyz
    friend void PrintTo(const RegistrationCase& c, std::ostream* os) { *os << c.name; }
};

class RegistrationTest : public InstallWorkerTest, public ::testing::WithParamInterface<RegistrationCase> {};

// Many dictionaries in one run: each is put in place beside its unregistered mark and
// registered in the host's file before the next one begins. An entry is reported done once
// the host can see it; failed, with its mark kept, when it cannot. A value the host's ANSI
// file cannot hold fails only its own entry.
TEST_P(RegistrationTest, EachEntryIsRegisteredBeforeTheNextBegins) {
    const RegistrationCase& c = GetParam();
    const wchar_t* unheld = L"\u8BCD\u5178";
    if (c.hostFile == HostFile::AnsiWithAValueItCannotHold && TextFitsCodePage(unheld, GetACP()))
        GTEST_SKIP() << "the system's code page holds the value";
    const std::vector<std::wstring> ids = {L"abc", L"qrs", L"xyz"};
    const std::wstring qrsName = c.hostFile == HostFile::AnsiWithAValueItCannotHold ? unheld : L"QRS";
    const std::wstring wizardConfig =
        L"\xFEFF[abc]\r\ndesc_name=ABC\r\n[qrs]\r\ndesc_name=" + qrsName + L"\r\n[xyz]\r\ndesc_name=XYZ\r\n";
    WriteWizardConfig(std::string(reinterpret_cast<const char*>(wizardConfig.data()), wizardConfig.size() * 2));
    std::vector<test::PlannedEntry> entries;
    for (const std::wstring& id : ids) entries.push_back({id, "data of " + test::Utf8(id), ACTION_INSTALL});
    AddPackage(L"a.dir", entries);
    if (c.hostFile == HostFile::ReadOnly) {
        ASSERT_TRUE(SetFileAttributesW(host.configPath.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    // At each entry's begin: which dictionaries the host can already see.
    std::vector<std::vector<bool>> seenAtBegin;
    recorder.onMessage = [&](const test::RecordedMessage& message) {
        if (message.message != WM_WIZ_ITEM_BEGIN) return;
        std::vector<bool> seen;
        for (const std::wstring& id : ids) seen.push_back(!HostValue(id, L"id").empty());
        seenAtBegin.push_back(seen);
    };

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));
    SetFileAttributesW(host.configPath.c_str(), FILE_ATTRIBUTE_NORMAL);

    std::string expected = "BEGIN";
    for (size_t i = 0; i < ids.size(); ++i)
        expected += " " + EntryMessages("D-" + test::Utf8(ids[i]), 1, 1, c.registered[i] ? "ITEM_DONE" : "ITEM_FAILED");
    EXPECT_EQ(recorder.Sequence(), expected + " END");
    ASSERT_EQ(seenAtBegin.size(), ids.size());
    for (size_t begun = 0; begun < ids.size(); ++begun)
        for (size_t i = 0; i < ids.size(); ++i)
            EXPECT_EQ(seenAtBegin[begun][i], i < begun && c.registered[i])
                << test::Utf8(ids[i]) << " at the begin of " << test::Utf8(ids[begun]);
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(test::Utf8(ids[i]));
        EXPECT_EQ(ReadFileBytes(TargetOf(ids[i])), "data of " + test::Utf8(ids[i]));
        EXPECT_EQ(HostValue(ids[i], L"id"), c.registered[i] ? ids[i] : L"");
        EXPECT_EQ(test::FileExists(UnregisteredMarkOf(TargetOf(ids[i]))), !c.registered[i]);
    }
    EXPECT_EQ(HostValue(L"other", L"id"), L"other");
}

INSTANTIATE_TEST_SUITE_P(
    HostFiles, RegistrationTest,
    ::testing::Values(RegistrationCase{"plain", HostFile::Plain, {true, true, true}},
                      RegistrationCase{"read_only", HostFile::ReadOnly, {false, false, false}},
                      RegistrationCase{"ansi_cannot_hold_one_value", HostFile::AnsiWithAValueItCannotHold,
                                       {true, false, true}}),
    [](const ::testing::TestParamInfo<RegistrationCase>& info) { return std::string(info.param.name); });

TEST_F(InstallWorkerTest, EmptyPlanStillBeginsAndEnds) {
    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));
    EXPECT_EQ(recorder.Sequence(), "BEGIN END");
}

TEST_F(InstallWorkerTest, PackagesWithoutWorkSendNothing) {
    AddPackageWithoutEntries(L"missing.dir");  // never opened, so never reported
    AddPackage(L"skips.dir", {{L"kept", "new", ACTION_SKIP}});
    ASSERT_TRUE(test::WriteFileBytes(TargetOf(L"kept"), "installed"));

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    EXPECT_EQ(recorder.Sequence(), "BEGIN END");
    EXPECT_EQ(ReadFileBytes(TargetOf(L"kept")), "installed");
    EXPECT_TRUE(test::FileIsClosed(PackagePath(L"skips.dir")));
}

struct DamagedCase {
    const char* name;
    bool fileMissing;
    LRESULT answer;
    friend void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }
};

class DamagedPackageTest : public InstallWorkerTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedPackageTest, AnswerDecidesWhetherTheNextPackageRuns) {
    const DamagedCase& c = GetParam();
    AddPackage(L"bad.dir", {{L"skipped", "x", ACTION_SKIP}});
    if (c.fileMissing) {
        ASSERT_TRUE(DeleteFileW(PackagePath(L"bad.dir").c_str()));
    } else {
        ASSERT_TRUE(test::WriteFileBytes(PackagePath(L"bad.dir"), "not a dictionary package at all, just text"));
    }
    AddPackage(L"good.dir", {{L"good", "data", ACTION_INSTALL}});
    recorder.SetAnswer(WM_WIZ_PACKAGE_BAD, c.answer);
    // The damaged package is reported while its reader still holds it, and closed after.
    bool openWhileReported = false;
    recorder.onMessage = [&](const test::RecordedMessage& message) {
        if (message.message == WM_WIZ_PACKAGE_BAD) openWhileReported = !test::FileIsClosed(PackagePath(L"bad.dir"));
    };

    const bool walked = manager.InstallPackages(manager.Packages(), recorder.reporter());

    const std::string bad = "BEGIN PACKAGE_BAD(" + test::Utf8(PackagePath(L"bad.dir")) + ")";
    if (c.answer == 1) {
        EXPECT_TRUE(walked);
        EXPECT_EQ(recorder.Sequence(), bad + " " + EntryMessages("D-good", 1, 1, "ITEM_DONE") + " END");
        EXPECT_EQ(ReadFileBytes(TargetOf(L"good")), "data");
    } else {
        EXPECT_FALSE(walked);
        EXPECT_EQ(recorder.Sequence(), bad);
        EXPECT_FALSE(test::FileExists(TargetOf(L"good")));
    }
    if (!c.fileMissing) {
        EXPECT_TRUE(openWhileReported);
        EXPECT_TRUE(test::FileIsClosed(PackagePath(L"bad.dir")));
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, DamagedPackageTest,
                         ::testing::Values(DamagedCase{"missing_go_on", true, 1}, DamagedCase{"garbage_go_on", false, 1},
                                           DamagedCase{"missing_stop", true, 0}, DamagedCase{"garbage_stop", false, 0}),
                         [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

enum class Damage { EntryCutShort, IndexBeyondDirectory };

struct FailureCase {
    const char* name;
    EntryAction action;
    Damage damage;
    LRESULT answer;
    size_t stepsBeforeFailure;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class FailedEntryTest : public InstallWorkerTest, public ::testing::WithParamInterface<FailureCase> {};

// Whatever goes wrong, the dictionary installed before stays as it was, and nothing half
// written or hidden under the backup name is left behind.
TEST_P(FailedEntryTest, PreviousFileIsBackAndNothingPartialStays) {
    const FailureCase& c = GetParam();
    const std::string previous = PatternBytes(7000, 99);
    if (c.action == ACTION_UPGRADE) {
        ASSERT_TRUE(test::WriteFileBytes(TargetOf(L"bad"), previous));
    }
    PackageItem& first = AddPackage(L"first.dir", {{L"ok", PatternBytes(3000, 1), ACTION_INSTALL},
                                                   {L"bad", PatternBytes(5000, 2), c.action}});
    if (c.damage == Damage::EntryCutShort) {
        // The last entry runs 2000 bytes past the end of the file.
        const std::wstring path = PackagePath(L"first.dir");
        ASSERT_TRUE(test::CutFileTo(path, ReadFileBytes(path).size() - 2000));
    } else {
        first.entries->back().index = 99;
    }
    AddPackage(L"second.dir", {{L"later", "later", ACTION_INSTALL}});
    recorder.SetAnswer(WM_WIZ_ITEM_FAILED, c.answer);

    const bool walked = manager.InstallPackages(manager.Packages(), recorder.reporter());

    // What was in place before a stop stays, registered before the failed entry began.
    std::string expected = "BEGIN " + EntryMessages("D-ok", 1, 2, "ITEM_DONE") + " " +
                           EntryMessages("D-bad", c.action, c.stepsBeforeFailure, "ITEM_FAILED");
    if (c.answer == 1) expected += " " + EntryMessages("D-later", 1, 1, "ITEM_DONE") + " END";
    EXPECT_EQ(recorder.Sequence(), expected);
    EXPECT_EQ(walked, c.answer == 1);
    EXPECT_EQ(test::FileExists(TargetOf(L"later")), c.answer == 1);
    EXPECT_EQ(HostValue(L"ok", L"id"), L"ok");
    EXPECT_FALSE(test::FileExists(UnregisteredMarkOf(TargetOf(L"ok"))));

    if (c.action == ACTION_UPGRADE) {
        EXPECT_TRUE(ReadFileBytes(TargetOf(L"bad")) == previous) << "previous dictionary not restored";
    } else {
        EXPECT_FALSE(test::FileExists(TargetOf(L"bad")));
    }
    EXPECT_FALSE(test::FileExists(BackupPathOf(TargetOf(L"bad"))));
    EXPECT_EQ(HostValue(L"bad", L"id"), L"") << "a failed entry was registered";
    EXPECT_TRUE(test::FileIsClosed(PackagePath(L"first.dir")));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FailedEntryTest,
    ::testing::Values(FailureCase{"install_cut_short", ACTION_INSTALL, Damage::EntryCutShort, 1, 2},
                      FailureCase{"upgrade_cut_short", ACTION_UPGRADE, Damage::EntryCutShort, 1, 2},
                      FailureCase{"upgrade_cut_short_stop", ACTION_UPGRADE, Damage::EntryCutShort, 0, 2},
                      FailureCase{"install_bad_index_stop", ACTION_INSTALL, Damage::IndexBeyondDirectory, 0, 0},
                      FailureCase{"upgrade_bad_index", ACTION_UPGRADE, Damage::IndexBeyondDirectory, 1, 0}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(InstallWorkerTest, ReadOnlyFileIsUpgradedThroughItsBackup) {
    const std::wstring target = TargetOf(L"ro");
    ASSERT_TRUE(test::WriteFileBytes(target, "old"));
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    AddPackage(L"a.dir", {{L"ro", PatternBytes(3000, 5), ACTION_UPGRADE}});
    DWORD backupAttributes = INVALID_FILE_ATTRIBUTES;
    std::string backupContent;
    recorder.onMessage = [&](const test::RecordedMessage& message) {
        if (message.message != WM_WIZ_STEP || backupAttributes != INVALID_FILE_ATTRIBUTES) return;
        backupAttributes = GetFileAttributesW(BackupPathOf(target).c_str());
        backupContent = ReadFileBytes(BackupPathOf(target));
    };

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    ASSERT_NE(backupAttributes, INVALID_FILE_ATTRIBUTES) << "no backup while copying";
    EXPECT_EQ(backupAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(backupContent, "old");
    EXPECT_EQ(ReadFileBytes(target), PatternBytes(3000, 5));
    EXPECT_EQ(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(test::FileExists(BackupPathOf(target)));
    EXPECT_EQ(recorder.Sequence(), "BEGIN " + EntryMessages("D-ro", 2, 2, "ITEM_DONE") + " END");
}

// A backup that another installer left beside a file, with none of this engine's files
// beside them, may be the only complete copy: it stays the backup while the new data is
// written beside the target, and goes once the new data holds the target's name. Nothing
// there needs the host's service stopped.
TEST_F(InstallWorkerTest, LeftoverBackupStaysUntilTheNewDataIsInPlace) {
    const std::wstring target = TargetOf(L"abc");
    ASSERT_TRUE(test::WriteFileBytes(target, "current"));
    ASSERT_TRUE(test::WriteFileBytes(BackupPathOf(target), "leftover"));
    AddPackage(L"a.dir", {{L"abc", PatternBytes(4097, 6), ACTION_UPGRADE}});
    auto service = test::StartService();
    ASSERT_TRUE(service->running());

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    EXPECT_EQ(ReadFileBytes(target), PatternBytes(4097, 6));
    EXPECT_FALSE(test::FileExists(BackupPathOf(target)));
    EXPECT_TRUE(service->running());
    EXPECT_EQ(host.RepairToolCalls(), "");
    EXPECT_EQ(recorder.Sequence(), "BEGIN " + EntryMessages("D-abc", 2, 3, "ITEM_DONE") + " END");
}

// The same leftover and a failed upgrade: the file and the backup stay exactly as they were,
// since nothing says which of them is whole; no work file is left.
TEST_F(InstallWorkerTest, FailedUpgradeKeepsALeftoverAndItsBackupAsTheyWere) {
    const std::wstring target = TargetOf(L"abc");
    ASSERT_TRUE(test::WriteFileBytes(target, "current"));
    ASSERT_TRUE(test::WriteFileBytes(BackupPathOf(target), "leftover"));
    AddPackage(L"a.dir", {{L"abc", PatternBytes(5000, 7), ACTION_UPGRADE}});
    const std::wstring path = PackagePath(L"a.dir");
    ASSERT_TRUE(test::CutFileTo(path, ReadFileBytes(path).size() - 10));

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    EXPECT_EQ(recorder.Sequence(), "BEGIN " + EntryMessages("D-abc", 2, 3, "ITEM_FAILED") + " END");
    EXPECT_EQ(ReadFileBytes(target), "current");
    EXPECT_EQ(ReadFileBytes(BackupPathOf(target)), "leftover");
    EXPECT_FALSE(test::FileExists(NewFilePathOf(target)));
    EXPECT_FALSE(test::FileExists(UnregisteredMarkOf(target)));
}

// A file gone since the plan is written as a new one; nothing was in the way, so the host's
// service is left alone.
TEST_F(InstallWorkerTest, UpgradeOfVanishedFileInstallsItWithoutStoppingTheService) {
    host.RemoveRepairTool();
    AddPackage(L"a.dir", {{L"gone", "fresh", ACTION_UPGRADE}});
    auto service = test::StartService();
    ASSERT_TRUE(service->running());

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    EXPECT_TRUE(service->running());
    EXPECT_EQ(ReadFileBytes(TargetOf(L"gone")), "fresh");
    EXPECT_EQ(recorder.Sequence(), "BEGIN " + EntryMessages("D-gone", 2, 1, "ITEM_DONE") + " END");
}

// Under Wine a Unix symlink to /dev/full is a file whose every write fails with
// ERROR_DISK_FULL: the entry must fail, whether the failure shows mid-copy or only when the
// last buffered bytes are written at the close.
bool LinkToFullDevice(const std::wstring& path) {
    typedef char*(CDECL * UnixNameFn)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return false;
    char* unixPath = unixName(path.c_str());
    if (unixPath == nullptr) return false;
    std::wstring commandLine = L"ln -s /dev/full \"";
    for (const char* p = unixPath; *p != '\0'; ++p) commandLine += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    commandLine += L"\"";
    HeapFree(GetProcessHeap(), 0, unixPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int waited = 0; waited < 30000; waited += 20) {
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW(path.c_str(), &data));
        if (find) return true;
        Sleep(20);
    }
    return false;
}

class FullDiskTest : public InstallWorkerTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FullDiskTest, FailedWriteFailsTheEntry) {
    const size_t size = GetParam();
    if (!LinkToFullDevice(TargetOf(L"full"))) GTEST_SKIP() << "no Unix symlink to /dev/full under this Wine";
    AddPackage(L"a.dir", {{L"full", PatternBytes(size, 8), ACTION_INSTALL}});

    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));

    const std::string sequence = recorder.Sequence();
    EXPECT_NE(sequence.find("ITEM_FAILED(D-full,1)"), std::string::npos) << sequence;
    EXPECT_EQ(sequence.find("ITEM_DONE"), std::string::npos) << sequence;
    EXPECT_EQ(HostValue(L"full", L"id"), L"");
}

INSTANTIATE_TEST_SUITE_P(Sizes, FullDiskTest,
                         ::testing::Values(size_t{CHUNK_SIZE + 1}, OUTPUT_BUFFER_BYTES + 3 * CHUNK_SIZE));

}  // namespace
