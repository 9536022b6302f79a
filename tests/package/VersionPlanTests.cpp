// Dates read and compared through our dict_ver.dll, which lies beside this program.
#include <gtest/gtest.h>

#include "dictver/DictDate.h"
#include "package/InstallPlan.h"
#include "package/PackageReader.h"
#include "package/VersionLibrary.h"
#include "tests/package/PlanFixture.h"

namespace {

using test::ExeDir;
using test::PackageOf;

// Dictionary data as a publisher ships it: the body, then the version stamp at its end.
std::string Stamped(const std::string& body, const std::string& dateText) {
    unsigned char trailer[DICT_STAMP_SIZE];
    EXPECT_TRUE(BuildStampTrailer(dateText, trailer)) << dateText;
    return body + std::string(reinterpret_cast<const char*>(trailer), sizeof trailer);
}

class VersionPlanTest : public test::PlanFixture {};

TEST_F(VersionPlanTest, LibraryIsLoadedOnceFromTheProgramsFolder) {
    ASSERT_TRUE(LoadVersionLibrary());
    const HMODULE module = GetModuleHandleW((ExeDir() + VERSION_LIBRARY_NAME).c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(VersionLibrary().string_to_date),
              reinterpret_cast<void*>(GetProcAddress(module, "string_to_date")));
    EXPECT_EQ(reinterpret_cast<void*>(VersionLibrary().compare_date),
              reinterpret_cast<void*>(GetProcAddress(module, "compare_date")));
    EXPECT_EQ(reinterpret_cast<void*>(VersionLibrary().get_dict_datetime),
              reinterpret_cast<void*>(GetProcAddress(module, "get_dict_datetime")));
    EXPECT_TRUE(LoadVersionLibrary());
    EXPECT_EQ(GetModuleHandleW((ExeDir() + VERSION_LIBRARY_NAME).c_str()), module);
}

struct DateCase {
    const char* name;
    std::wstring entryDate;
    EntryAction action;
};

class DateDecisionTest : public test::PlanFixture, public ::testing::WithParamInterface<DateCase> {};

// Only a strictly later package date replaces the installed file; a date the library does
// not read also replaces it. The target is the installed file either way.
TEST_P(DateDecisionTest, AgainstStampedFile) {
    const std::wstring installed = WriteInstalled(L"ABC.DIC", Stamped("installed", "2010-05-01"));
    WriteBeside(L"a.dir", PackageOf(L"abc", L".dic", GetParam().entryDate, L"Abc"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), GetParam().action == ACTION_SKIP ? 0 : 1);
    EXPECT_EQ(EntryAt(manager, 0, 0).action, GetParam().action);
    EXPECT_EQ(EntryAt(manager, 0, 0).targetPath, installed);
}

INSTANTIATE_TEST_SUITE_P(Dates, DateDecisionTest,
                         ::testing::Values(DateCase{"equal", L"2010-05-01", ACTION_SKIP},
                                           DateCase{"older", L"2010-04-30", ACTION_SKIP},
                                           DateCase{"much_older", L"1999-12-31", ACTION_SKIP},
                                           DateCase{"newer", L"2010-05-02", ACTION_UPGRADE},
                                           DateCase{"newer_year", L"2011-01-01", ACTION_UPGRADE},
                                           DateCase{"unreadable", L"01.05.2010", ACTION_UPGRADE},
                                           DateCase{"empty", L"", ACTION_UPGRADE}),
                         [](const ::testing::TestParamInfo<DateCase>& info) { return std::string(info.param.name); });

// Without a stamp the library falls back to the file's last-write time.
TEST_F(VersionPlanTest, UnstampedFileIsDatedByItsLastWrite) {
    const std::wstring path = WriteInstalled(L"abc.dic", "no stamp here");
    SYSTEMTIME written{};
    written.wYear = 2005;
    written.wMonth = 6;
    written.wDay = 7;
    written.wHour = 12;
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&written, &time));
    {
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
        CloseHandle(file);
    }
    WriteBeside(L"a.dir", BuildPackage({{L"abc", L".dic", L"2005-06-06", L"Abc", 0}}, {"a"}));
    WriteBeside(L"b.dir", BuildPackage({{L"abc", L".dic", L"2005-06-08", L"Abc", 0}}, {"b"}));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 1);
    const EntryItem& a = EntryAt(manager, 0, 0);
    const EntryItem& b = EntryAt(manager, 1, 0);
    // The listing order of a.dir and b.dir is the file system's.
    EXPECT_EQ((a.dateText == L"2005-06-06" ? a : b).action, ACTION_SKIP);
    EXPECT_EQ((a.dateText == L"2005-06-08" ? a : b).action, ACTION_UPGRADE);
}

TEST_F(VersionPlanTest, SummaryLeavesSkippedEntriesOut) {
    WriteInstalled(L"same.dic", Stamped("s", "2010-05-01"));
    WriteInstalled(L"old.dip", Stamped("o", "2001-01-01"));
    WriteBeside(L"a.dir", BuildPackage({{L"same", L".dic", L"2010-05-01", L"Same", 0},
                                        {L"old", L".dip", L"2010-05-01", L"Old", 0},
                                        {L"new", L".dic", L"2010-05-01", L"New", 0}},
                                       {"s", "o", std::string(5000, 'n')}));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 2);
    EXPECT_EQ(manager.GetProgressTotal(), 1u + 3u);
    std::wstring summary;
    manager.GetActionSummary(summary);
    EXPECT_EQ(summary, PLAN_SUMMARY_UPGRADE L"Old" PLAN_SUMMARY_CLOSE PLAN_SUMMARY_INSTALL L"New" PLAN_SUMMARY_CLOSE);
}

// One action per file, with the entries for several files interleaved in plan order: of the
// entries for one file (in any letter case) the newest stays planned, the first of equal
// dates among the newest, and an unreadable date loses to a readable one.
TEST_F(VersionPlanTest, EachFileKeepsItsNewestEntryWhereverItStands) {
    const std::vector<PackageEntrySpec> entries = {
        {L"x", L".dic", L"2010-01-01", L"x0", 0}, {L"y", L".dic", L"2012-01-01", L"y1", 0},
        {L"X", L".DIC", L"2011-01-01", L"x2", 0}, {L"y", L".dic", L"2012-01-01", L"y3", 0},
        {L"z", L".dic", L"not a date", L"z4", 0}, {L"x", L".dic", L"2011-01-01", L"x5", 0},
        {L"z", L".dic", L"2001-01-01", L"z6", 0}, {L"w", L".dic", L"2001-01-01", L"w7", 0},
    };
    WriteBeside(L"a.dir", BuildPackage(entries, std::vector<std::string>(entries.size(), "d")));
    WriteBeside(L"b.dir", PackageOf(L"y", L".dic", L"2011-12-31", L"y8"));
    CInstallManager manager;
    ASSERT_EQ(manager.CountPlannedEntries(), 4);
    std::vector<std::wstring> planned;
    for (const auto& package : manager.Packages())
        for (const auto& entry : *package.entries)
            if (entry.action != ACTION_SKIP) planned.push_back(entry.displayName);
    EXPECT_EQ(planned, (std::vector<std::wstring>{L"y1", L"x2", L"z6", L"w7"}));
}

// Copies an entry out of its package chunk by chunk, as the install does.
std::string ExtractEntry(const std::wstring& packagePath, uint32_t index) {
    CPackageReader reader;
    EXPECT_TRUE(reader.Open(packagePath.c_str()));
    EXPECT_TRUE(reader.SeekToEntry(index));
    std::string out;
    for (;;) {
        char buffer[CHUNK_SIZE];
        uint32_t count = CHUNK_SIZE;
        const int more = reader.ReadChunk(index, buffer, count);
        EXPECT_NE(more, -1);
        if (more < 0) break;
        out.append(buffer, count);
        if (more == 0) break;
    }
    return out;
}

// What the user relies on: once a package's file is installed, running the wizard again
// with the same package finds nothing to do; only a later package upgrades it.
TEST_F(VersionPlanTest, InstalledEntryIsUpToDateForTheSamePackage) {
    const std::wstring package =
        WriteBeside(L"abc.dir", PackageOf(L"abc", L".dic", L"2012-03-04", L"Abc",
                                          Stamped(test::PatternBytes(5000, 3), "2012-03-04")));
    {
        CInstallManager first;
        ASSERT_EQ(first.CountPlannedEntries(), 1);
        const EntryItem& entry = EntryAt(first, 0, 0);
        ASSERT_EQ(entry.action, ACTION_INSTALL);
        ASSERT_TRUE(test::WriteFileBytes(entry.targetPath, ExtractEntry(package, entry.index)));
    }
    {
        CInstallManager again;
        EXPECT_EQ(again.CountPlannedEntries(), 0);
        EXPECT_EQ(EntryAt(again, 0, 0).action, ACTION_SKIP);
    }
    struct {
        const wchar_t* date;
        int count;
    } const later[] = {{L"2012-03-05", 1}, {L"2012-03-03", 0}};
    for (const auto& c : later) {
        WriteBeside(L"abc.dir", PackageOf(L"abc", L".dic", c.date, L"Abc",
                                          Stamped("newer body", test::Utf8(c.date))));
        CInstallManager manager;
        EXPECT_EQ(manager.CountPlannedEntries(), c.count) << test::Utf8(c.date);
    }
}

}  // namespace
