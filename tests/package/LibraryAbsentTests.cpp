// Built into programs whose folder holds no usable version library: none at all, or one
// that lacks string_to_date. Either way no date is read or compared.
#include <gtest/gtest.h>

#include <cstring>

#include "package/VersionLibrary.h"
#include "tests/package/PlanFixture.h"

namespace {

using test::ExeDir;
using test::PackageOf;

class LibraryAbsentTest : public test::PlanFixture {};

TEST_F(LibraryAbsentTest, LoaderReportsUnavailableAndKeepsNothingLoaded) {
    EXPECT_FALSE(LoadVersionLibrary());
    EXPECT_FALSE(LoadVersionLibrary());
    EXPECT_EQ(GetModuleHandleW((ExeDir() + VERSION_LIBRARY_NAME).c_str()), nullptr);
}

TEST_F(LibraryAbsentTest, EveryMatchedEntryIsUpgradedAndNoDateIsRead) {
    const std::wstring old = WriteInstalled(L"Old.dic");
    const std::wstring future = WriteInstalled(L"future.DIP");
    WriteBeside(L"a.dir", BuildPackage({{L"old", L".dic", L"2000-01-01", L"Old", 0},
                                        {L"future", L".dip", L"not a date", L"Future", 0},
                                        {L"new", L".dic", L"2000-01-01", L"New", 0}},
                                       {"o", "f", "n"}));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 3);
    EXPECT_EQ(EntryAt(manager, 0, 0).action, ACTION_UPGRADE);
    EXPECT_EQ(EntryAt(manager, 0, 0).targetPath, old);
    EXPECT_EQ(EntryAt(manager, 0, 1).action, ACTION_UPGRADE);
    EXPECT_EQ(EntryAt(manager, 0, 1).targetPath, future);
    EXPECT_EQ(EntryAt(manager, 0, 2).action, ACTION_INSTALL);
    ASSERT_EQ(manager.Installed().size(), 2u);
    const DictDate zero{};
    for (const auto& item : manager.Installed())
        EXPECT_EQ(std::memcmp(item.fileDate.bytes, zero.bytes, sizeof zero.bytes), 0) << test::Utf8(item.fileName);
}

}  // namespace
