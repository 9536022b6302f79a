#include <gtest/gtest.h>

#include <algorithm>

#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "package/LocalScan.h"
#include "tests/package/PlanFixture.h"

namespace {

using test::ExeDir;
using test::PackageOf;

class LocalScanTest : public test::PlanFixture {};

// The order in which the file system lists the files matching a pattern.
std::vector<std::wstring> ListedOrder(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (!find) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

TEST(LowerAsciiTest, OnlyAsciiLettersChange) {
    EXPECT_EQ(LowerAscii(L"ABC.DIC"), L"abc.dic");
    EXPECT_EQ(LowerAscii(L"@AZ[`az{"), L"@az[`az{");
    EXPECT_EQ(LowerAscii(L"\u00C9T\u00C9"), L"\u00C9t\u00C9");  // accented capitals stay
    EXPECT_EQ(LowerAscii(L"\u8BCD\u5178X"), L"\u8BCD\u5178x");
}

TEST_F(LocalScanTest, PackagesInListedOrderWithEntriesInDirectoryOrder) {
    WriteBeside(L"a.dir", BuildPackage({{L"ABC", L".DIC", L"2010-01-01", L"Abc \u8BCD\u5178", 0},
                                        {L"def", L".dip", L"2011-02-03", L"Def", 0}},
                                       {std::string(5, 'a'), std::string(3000, 'd')}));
    WriteBeside(L"b.dir", PackageOf(L"ghi", L".dic", L"", L"Ghi"));
    CInstallManager manager;
    ASSERT_TRUE(manager.ScanPackages());

    std::vector<std::wstring> scanned;
    for (const auto& package : manager.Packages()) scanned.push_back(package.filePath);
    std::vector<std::wstring> listed;
    for (const auto& name : ListedOrder(ExeDir() + L"*.dir")) listed.push_back(ExeDir() + name);
    EXPECT_EQ(scanned, listed);

    const auto a = std::find_if(manager.Packages().begin(), manager.Packages().end(),
                                [](const PackageItem& p) { return p.filePath == ExeDir() + L"a.dir"; });
    ASSERT_NE(a, manager.Packages().end());
    ASSERT_TRUE(a->entries);
    ASSERT_EQ(a->entries->size(), 2u);
    const EntryItem& first = a->entries->at(0);
    EXPECT_EQ(first.index, 0u);
    EXPECT_EQ(first.size, 5u);
    EXPECT_EQ(first.dictId, L"abc");
    EXPECT_EQ(first.fileExt, L".dic");
    EXPECT_EQ(first.displayName, L"Abc \u8BCD\u5178");
    EXPECT_EQ(first.dateText, L"2010-01-01");
    EXPECT_EQ(first.targetPath, L"");
    EXPECT_EQ(first.action, ACTION_SKIP);
    const EntryItem& second = a->entries->at(1);
    EXPECT_EQ(second.index, 1u);
    EXPECT_EQ(second.size, 3000u);
    EXPECT_EQ(second.dictId, L"def");
    EXPECT_EQ(second.dateText, L"2011-02-03");
}

TEST_F(LocalScanTest, UppercaseExtensionEmptyDirectoryAndFoldersNamedLikePackages) {
    WriteBeside(L"UPPER.DIR", PackageOf(L"u", L".dic", L"", L"U"));
    WriteBeside(L"empty.dir", BuildPackageDirectory({}));
    ASSERT_TRUE(test::MakeDirs(ExeDir() + L"x.dir"));
    CInstallManager manager;
    ASSERT_TRUE(manager.ScanPackages());
    ASSERT_EQ(manager.Packages().size(), 2u);
    for (const auto& package : manager.Packages()) {
        if (package.filePath == ExeDir() + L"empty.dir")
            EXPECT_FALSE(package.entries);
        else
            EXPECT_EQ(package.filePath, ExeDir() + L"UPPER.DIR");
    }
}

TEST_F(LocalScanTest, NoPackageIsAnEmptyList) {
    CInstallManager manager;
    manager.Packages().emplace_back();
    ASSERT_TRUE(manager.ScanPackages());
    EXPECT_TRUE(manager.Packages().empty());
}

// A file that only looks like a package fails the whole scan, wherever it is listed.
TEST_F(LocalScanTest, DamagedPackageFailsTheScan) {
    WriteBeside(L"a.dir", PackageOf(L"abc", L".dic", L"", L"Abc"));
    WriteBeside(L"notes.dir", "these are notes, not a package");
    WriteBeside(L"z.dir", PackageOf(L"xyz", L".dic", L"", L"Xyz"));
    CInstallManager manager;
    EXPECT_FALSE(manager.ScanPackages());
    ASSERT_FALSE(manager.Packages().empty());
    EXPECT_EQ(manager.Packages().back().filePath, ExeDir() + L"notes.dir");
    EXPECT_FALSE(manager.Packages().back().entries);
}

struct UnsafeNameCase {
    const char* name;
    std::wstring dictId;
    std::wstring fileExt;
};

class UnsafeEntryNameTest : public test::PlanFixture, public ::testing::WithParamInterface<UnsafeNameCase> {};

// An entry's id and extension become a file name in the host's data directory: anything
// that would leave it, or name no plain file, makes the package unusable, and the plan fails.
TEST_P(UnsafeEntryNameTest, PackageIsRefused) {
    const UnsafeNameCase& c = GetParam();
    const std::wstring path = WriteBeside(
        L"evil.dir", BuildPackage({{L"good", L".dic", L"", L"Good", 0}, {c.dictId, c.fileExt, L"", L"Evil", 0}},
                                  {"good", "evil"}));
    CInstallManager manager;
    PackageItem package;
    package.filePath = path;
    EXPECT_FALSE(manager.ReadPackageEntries(package));
    EXPECT_FALSE(package.entries);
    EXPECT_EQ(manager.CountPlannedEntries(), -1);
    EXPECT_EQ(manager.GetProgressTotal(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnsafeEntryNameTest,
    ::testing::Values(UnsafeNameCase{"parent_in_id", L"..\\..\\evil", L".dic"},
                      UnsafeNameCase{"slash_in_id", L"sub/evil", L".dic"},
                      UnsafeNameCase{"separator_in_ext", L"evil", L".dic\\x"},
                      UnsafeNameCase{"drive_colon", L"C:evil", L".dic"},
                      UnsafeNameCase{"stream_colon_in_ext", L"evil", L".dic:s"},
                      UnsafeNameCase{"forbidden_character", L"ev?l", L".dic"},
                      UnsafeNameCase{"dot_dot_name", L".", L"."},
                      UnsafeNameCase{"dot_name", L"", L"."},
                      UnsafeNameCase{"empty_name", L"", L""},
                      UnsafeNameCase{"device_name", L"CON", L".dic"}),
    [](const ::testing::TestParamInfo<UnsafeNameCase>& info) { return std::string(info.param.name); });

TEST_F(LocalScanTest, InstalledListsOnlyDicAndDipFiles) {
    const std::wstring mainPath = WriteInstalled(L"Main.DIC");
    WriteInstalled(L"b.DIP");
    WriteInstalled(L"archive.old.dic");
    WriteInstalled(L"readme.txt");
    WriteInstalled(L"dic");
    WriteInstalled(L"a.dict");
    WriteInstalled(L"x.dic.bak");
    ASSERT_TRUE(test::MakeDirs(DataDir() + L"\\folder.dic"));
    CInstallManager manager;
    ASSERT_TRUE(manager.ScanInstalled());

    std::vector<std::wstring> expected;
    for (const auto& name : ListedOrder(DataDir() + L"\\*.*")) {
        const std::wstring lower = LowerAscii(name);
        if (lower == L"main.dic" || lower == L"b.dip" || lower == L"archive.old.dic") expected.push_back(lower);
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(InstalledNames(manager), expected);
    for (const auto& item : manager.Installed()) {
        if (item.fileName == L"main.dic") {
            EXPECT_EQ(item.filePath, mainPath);
        }
        EXPECT_EQ(item.filePath.substr(0, DataDir().size() + 1), DataDir() + L"\\");
    }
}

TEST_F(LocalScanTest, MissingDataDirectoryIsAnEmptyList) {
    test::RemoveTree(DataDir());
    CInstallManager manager;
    manager.Installed().emplace_back();
    ASSERT_TRUE(manager.ScanInstalled());
    EXPECT_TRUE(manager.Installed().empty());
}

TEST_F(LocalScanTest, UnknownDataDirectoryFailsAndKeepsTheList) {
    {
        test::HostRegistry empty(L"", L"");
        CheckHostEnvironment();  // reads the empty values: the caches are empty again
    }
    CInstallManager manager;
    manager.Installed().emplace_back();
    manager.Installed().back().fileName = L"kept.dic";
    EXPECT_FALSE(manager.ScanInstalled());
    EXPECT_EQ(InstalledNames(manager), std::vector<std::wstring>{L"kept.dic"});
    EXPECT_EQ(manager.CountPlannedEntries(), -1);
}

}  // namespace
