// Plan decisions that do not depend on dates: run where no version library lies beside
// the program, so every entry with an installed counterpart is an upgrade.
#include <gtest/gtest.h>

#include "package/InstallPlan.h"
#include "tests/package/PlanFixture.h"

namespace {

using test::ExeDir;
using test::PackageOf;

class InstallPlanTest : public test::PlanFixture {};

TEST_F(InstallPlanTest, NewFileIsInstalledUnderItsLowercaseName) {
    WriteBeside(L"a.dir", PackageOf(L"ABC", L".DIC", L"2010-01-01", L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    const EntryItem& entry = EntryAt(manager, 0, 0);
    EXPECT_EQ(entry.action, ACTION_INSTALL);
    EXPECT_EQ(entry.targetPath, DataDir() + L"\\abc.dic");
}

TEST_F(InstallPlanTest, InstalledFileMatchesWhateverItsLetterCase) {
    const std::wstring installed = WriteInstalled(L"ABC.DIC");
    WriteBeside(L"a.dir", PackageOf(L"abc", L".dic", L"2010-01-01", L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    const EntryItem& entry = EntryAt(manager, 0, 0);
    EXPECT_EQ(entry.action, ACTION_UPGRADE);
    EXPECT_EQ(entry.targetPath, installed);
}

// Only .dic and .dip files are listed as installed, but a file of any other extension that
// is already there is still that entry's file: it is upgraded (kept under the backup name
// until the new one is whole), never written over as a new file.
TEST_F(InstallPlanTest, OtherExtensionsAlreadyThereAreUpgraded) {
    WriteInstalled(L"ABC.idx");
    WriteBeside(L"a.dir", PackageOf(L"abc", L".idx", L"2010-01-01", L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    EXPECT_EQ(EntryAt(manager, 0, 0).action, ACTION_UPGRADE);
    EXPECT_EQ(EntryAt(manager, 0, 0).targetPath, DataDir() + L"\\ABC.idx");
}

// Without dates to order them, the first of two entries for one file is planned.
TEST_F(InstallPlanTest, TwoPackagesCarryingTheSameFileInstallItOnce) {
    WriteBeside(L"a.dir", PackageOf(L"abc", L".dic", L"2010-01-01", L"Abc"));
    WriteBeside(L"b.dir", PackageOf(L"ABC", L".DIC", L"2011-01-01", L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    EXPECT_EQ(manager.GetProgressTotal(), 1u);
    const bool firstIsA = manager.Packages().front().filePath.find(L"a.dir") != std::wstring::npos;
    EXPECT_EQ(EntryAt(manager, firstIsA ? 0 : 1, 0).action, ACTION_INSTALL);
    EXPECT_EQ(EntryAt(manager, firstIsA ? 1 : 0, 0).action, ACTION_SKIP);
}

TEST_F(InstallPlanTest, ProgressCountsStartedChunks) {
    WriteBeside(L"a.dir", BuildPackage({{L"zero", L".dic", L"", L"Z", 0},
                                        {L"one", L".dic", L"", L"O", 0},
                                        {L"more", L".dic", L"", L"M", 0}},
                                       {"", "1", std::string(2049, 'm')}));
    WriteBeside(L"b.dir", BuildPackage({{L"full", L".dic", L"", L"F", 0}}, {std::string(4096, 'f')}));
    CInstallManager manager;
    EXPECT_EQ(manager.GetProgressTotal(), 0u + 1u + 2u + 2u);
    EXPECT_EQ(manager.CountPlannedEntries(), 4);
}

// Each entry's chunks fit 32 bits, their sum over many huge entries does not: the total is
// summed in 64 bits and held at the largest value the dialog's range can take.
TEST_F(InstallPlanTest, ProgressTotalOfManyHugeEntriesDoesNotWrap) {
    std::vector<PackageEntrySpec> specs;
    for (int i = 0; i < 2100; ++i) specs.push_back({L"e" + std::to_wstring(i), L".dic", L"", L"E", 0xFFFFFFFFu});
    WriteBeside(L"huge.dir", BuildPackageDirectory(specs));
    CInstallManager manager;
    EXPECT_EQ(manager.CountPlannedEntries(), 2100);
    EXPECT_EQ(manager.GetProgressTotal(), UINT32_MAX);
}

TEST_F(InstallPlanTest, NoPackageMeansNothingToDo) {
    CInstallManager manager;
    EXPECT_EQ(manager.CountPlannedEntries(), 0);
    EXPECT_EQ(manager.GetProgressTotal(), 0u);
    EXPECT_TRUE(manager.Planned());
}

// A plan that failed is built again from the start by the next query, so a package that
// was repaired meanwhile is found.
TEST_F(InstallPlanTest, FailedPlanIsBuiltAgainByEveryQuery) {
    WriteBeside(L"notes.dir", "not a package");
    CInstallManager manager;
    EXPECT_EQ(manager.CountPlannedEntries(), -1);
    EXPECT_EQ(manager.GetProgressTotal(), 0u);
    EXPECT_EQ(manager.CountPlannedEntries(), -1);
    EXPECT_FALSE(manager.Planned());

    WriteBeside(L"notes.dir", PackageOf(L"abc", L".dic", L"", L"Abc", std::string(3000, 'a')));
    EXPECT_EQ(manager.GetProgressTotal(), 2u);
    EXPECT_EQ(manager.CountPlannedEntries(), 1);
}

TEST_F(InstallPlanTest, BuiltPlanIsKeptWhenFilesChange) {
    WriteBeside(L"a.dir", PackageOf(L"abc", L".dic", L"", L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    WriteBeside(L"b.dir", PackageOf(L"def", L".dic", L"", L"Def"));
    WriteBeside(L"c.dir", "not a package");
    EXPECT_EQ(manager.CountPlannedEntries(), 1);
    EXPECT_EQ(manager.Packages().size(), 1u);
}

TEST_F(InstallPlanTest, SummaryNamesEachPlannedEntryInOrder) {
    WriteInstalled(L"old.dic");
    WriteBeside(L"a.dir", BuildPackage({{L"new", L".dic", L"", L"\u65B0\u8BCD\u5178", 0},
                                        {L"old", L".dic", L"", L"Old", 0}},
                                       {"n", "o"}));
    WriteBeside(L"empty.dir", BuildPackageDirectory({}));
    CInstallManager manager;
    std::wstring summary = L"stale";
    manager.GetActionSummary(summary);
    EXPECT_EQ(summary, L"") << "the summary reads the plan and never builds it";

    ASSERT_EQ(manager.CountPlannedEntries(), 2);
    manager.GetActionSummary(summary);
    EXPECT_EQ(summary, L"\u5B89\u88C5\u300A\u65B0\u8BCD\u5178\u300B\u5347\u7EA7\u300AOld\u300B");
    EXPECT_EQ(summary, PLAN_SUMMARY_INSTALL L"\u65B0\u8BCD\u5178" PLAN_SUMMARY_CLOSE PLAN_SUMMARY_UPGRADE
                       L"Old" PLAN_SUMMARY_CLOSE);
}

TEST_F(InstallPlanTest, SkippedEntriesAreLeftOutOfCountTotalAndSummary) {
    CInstallManager manager;
    manager.Packages().emplace_back();
    manager.Packages().back().entries = std::make_unique<std::vector<EntryItem>>(3);
    auto& entries = *manager.Packages().back().entries;
    const EntryAction actions[] = {ACTION_INSTALL, ACTION_SKIP, ACTION_UPGRADE};
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].action = actions[i];
        entries[i].size = 4096;
        entries[i].displayName = std::wstring(1, static_cast<wchar_t>(L'A' + i));
    }
    manager.MarkPlanned();
    EXPECT_EQ(manager.CountPlannedEntries(), 2);
    EXPECT_EQ(manager.GetProgressTotal(), 4u);
    std::wstring summary;
    manager.GetActionSummary(summary);
    EXPECT_EQ(summary, PLAN_SUMMARY_INSTALL L"A" PLAN_SUMMARY_CLOSE PLAN_SUMMARY_UPGRADE L"C" PLAN_SUMMARY_CLOSE);
}

}  // namespace
