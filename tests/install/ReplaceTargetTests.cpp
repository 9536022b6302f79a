#include <gtest/gtest.h>

#include <ostream>

#include "host/ProcessControl.h"
#include "install/ReplaceTarget.h"
#include "tests/install/InstallFixture.h"

namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

TEST(BackupPathTest, SuffixFollowsTheWholeName) {
    EXPECT_EQ(BackupPathOf(L"C:\\d\\abc.dic"), L"C:\\d\\abc.dic._gin_hh_");
}

TEST(AttributesForRenameTest, ClearsOnlyReadOnly) {
    test::TempDir dir;
    const std::wstring file = dir / L"f.dic";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    for (DWORD set : {DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
                      DWORD{FILE_ATTRIBUTE_ARCHIVE}}) {
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), set));
        const DWORD actual = GetFileAttributesW(file.c_str());
        EXPECT_EQ(AttributesForRename(file.c_str()), actual & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) << set;
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(AttributesForRename((dir / L"missing").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

// What lies at the target and at its backup name before and after one step; nullptr for
// no file.
struct StepCase {
    const char* name;
    int step;
    const char* targetBefore;
    bool targetReadOnly;
    const char* backupBefore;
    bool result;
    const char* targetAfter;
    const char* backupAfter;
    friend void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }
};

class ReplaceStepTest : public ::testing::TestWithParam<StepCase> {
protected:
    // The move aside may stop the host's service; none runs here, so that answers at once.
    void SetUp() override { test::EndAllStandins(); }
    test::TempDir dir;
};

TEST_P(ReplaceStepTest, FilesEndAsExpected) {
    const StepCase& c = GetParam();
    const std::wstring target = dir / L"abc.dic";
    const std::wstring backup = BackupPathOf(target);
    if (c.targetBefore) {
        ASSERT_TRUE(WriteFileBytes(target, c.targetBefore));
    }
    if (c.targetReadOnly) {
        ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    if (c.backupBefore) {
        ASSERT_TRUE(WriteFileBytes(backup, c.backupBefore));
    }

    EXPECT_EQ(ReplaceTargetFile(target.c_str(), static_cast<ReplaceStep>(c.step)), c.result);

    EXPECT_EQ(FileExists(target), c.targetAfter != nullptr);
    if (c.targetAfter) {
        EXPECT_EQ(ReadFileBytes(target), c.targetAfter);
    }
    EXPECT_EQ(FileExists(backup), c.backupAfter != nullptr);
    if (c.backupAfter) {
        EXPECT_EQ(ReadFileBytes(backup), c.backupAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ReplaceStepTest,
    ::testing::Values(
        StepCase{"move_aside", MoveAside, "old", false, nullptr, true, nullptr, "old"},
        StepCase{"move_aside_read_only", MoveAside, "old", true, nullptr, true, nullptr, "old"},
        StepCase{"move_aside_missing_target", MoveAside, nullptr, false, nullptr, false, nullptr, nullptr},
        StepCase{"move_aside_over_leftover", MoveAside, "old", false, "leftover", false, "old", "leftover"},
        StepCase{"delete", Delete, "new", false, "old", true, nullptr, "old"},
        StepCase{"delete_missing", Delete, nullptr, false, nullptr, false, nullptr, nullptr},
        StepCase{"delete_read_only", Delete, "new", true, nullptr, false, "new", nullptr},
        StepCase{"restore", Restore, "partial", false, "old", true, "old", nullptr},
        StepCase{"restore_without_target", Restore, nullptr, false, "old", true, "old", nullptr},
        StepCase{"restore_read_only_target", Restore, "new", true, "old", false, "new", "old"},
        // The target is never deleted ahead of a backup that could not take its place.
        StepCase{"restore_without_backup", Restore, "partial", false, nullptr, false, "partial", nullptr},
        StepCase{"unknown_step", 3, "new", false, "old", false, "new", "old"}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

TEST(ReplaceTargetTest, NullPathIsRefused) {
    EXPECT_FALSE(ReplaceTargetFile(nullptr, Delete));
    EXPECT_FALSE(ReplaceTargetFile(nullptr, Restore));
}

}  // namespace
