#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/ScopedWin.h"
#include "dictver/DictDate.h"
#include "tests/support/TestSupport.h"

namespace {

using test::TempDir;
using test::WriteFileBytes;

typedef bool(__cdecl* GetDictDatetimeFn)(const wchar_t*, SYSTEMTIME*);
typedef bool(__cdecl* StringToDateFn)(const wchar_t*, SYSTEMTIME*);
typedef int(__cdecl* CompareDateFn)(const SYSTEMTIME*, const SYSTEMTIME*);

// The built library, loaded by its exported names only, as the wizard loads it.
class DictVerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_library = new qb::ScopedLibrary(LoadLibraryW((test::ExeDir() + L"dict_ver.dll").c_str()));
        ASSERT_TRUE(*s_library);
        s_get = Export<GetDictDatetimeFn>("get_dict_datetime");
        s_parse = Export<StringToDateFn>("string_to_date");
        s_compare = Export<CompareDateFn>("compare_date");
    }
    static void TearDownTestSuite() {
        delete s_library;
        s_library = nullptr;
    }
    template <typename Fn>
    static Fn Export(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(s_library->get(), name)));
    }
    void SetUp() override {
        ASSERT_NE(s_get, nullptr);
        ASSERT_NE(s_parse, nullptr);
        ASSERT_NE(s_compare, nullptr);
    }

    static SYSTEMTIME Parsed(const wchar_t* text) {
        SYSTEMTIME date{};
        EXPECT_TRUE(s_parse(text, &date)) << test::Utf8(text);
        return date;
    }
    static SYSTEMTIME FileDate(const std::wstring& path) {
        SYSTEMTIME date{};
        EXPECT_TRUE(s_get(path.c_str(), &date));
        return date;
    }
    static std::string Stamped(const std::string& data, const char* text) {
        unsigned char trailer[DICT_STAMP_SIZE];
        EXPECT_TRUE(BuildStampTrailer(text, trailer));
        return data + std::string(reinterpret_cast<char*>(trailer), sizeof trailer);
    }
    static bool SetLastWrite(const std::wstring& path, const SYSTEMTIME& utc) {
        FILETIME time;
        if (!SystemTimeToFileTime(&utc, &time)) return false;
        qb::ScopedHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        return file && SetFileTime(file.get(), nullptr, nullptr, &time);
    }

    static qb::ScopedLibrary* s_library;
    static GetDictDatetimeFn s_get;
    static StringToDateFn s_parse;
    static CompareDateFn s_compare;
};

qb::ScopedLibrary* DictVerTest::s_library = nullptr;
GetDictDatetimeFn DictVerTest::s_get = nullptr;
StringToDateFn DictVerTest::s_parse = nullptr;
CompareDateFn DictVerTest::s_compare = nullptr;

struct AcceptedDate {
    const wchar_t* text;
    WORD year, month, day, hour, minute, second, dayOfWeek;
};

const AcceptedDate kAccepted[] = {
    {L"2009-01-01", 2009, 1, 1, 0, 0, 0, 4},
    {L"2008-02-29", 2008, 2, 29, 0, 0, 0, 5},
    {L"2000-02-29", 2000, 2, 29, 0, 0, 0, 2},
    {L"2009-12-31 23:59:59", 2009, 12, 31, 23, 59, 59, 4},
    {L"1601-01-01 00:00:00", 1601, 1, 1, 0, 0, 0, 1},
    {L"9999-12-31", 9999, 12, 31, 0, 0, 0, 5},
};

const wchar_t* const kRefused[] = {
    L"2008-02-30", L"2009-02-29", L"1900-02-29", L"2009-04-31", L"2009-13-01", L"2009-00-10", L"2009-01-00",
    L"2009-01-01 24:00:00", L"2009-01-01 12:60:00", L"2009-01-01 12:00:60", L"1600-12-31", L"0000-00-00",
    L"2009-1-1", L"2009-01-1", L"2009-01-01 1:02:03", L"2009-01-01x", L"2009-01-01 ", L" 2009-01-01",
    L"2009-01-01 12:00", L"2009-01-01T12:00:00", L"2009/01/01", L"20090101", L"+009-01-01",
    L"2009-01-01 12:00:00 ", L"\xFF12\xFF10\xFF10\xFF19-01-01", L"",
};

TEST_F(DictVerTest, StringToDateAcceptsBothFormsOfRealDates) {
    for (const AcceptedDate& c : kAccepted) {
        SCOPED_TRACE(test::Utf8(c.text));
        SYSTEMTIME date{};
        ASSERT_TRUE(s_parse(c.text, &date));
        EXPECT_EQ(date.wYear, c.year);
        EXPECT_EQ(date.wMonth, c.month);
        EXPECT_EQ(date.wDay, c.day);
        EXPECT_EQ(date.wHour, c.hour);
        EXPECT_EQ(date.wMinute, c.minute);
        EXPECT_EQ(date.wSecond, c.second);
        EXPECT_EQ(date.wMilliseconds, 0);
        EXPECT_EQ(date.wDayOfWeek, c.dayOfWeek);
    }
}

TEST_F(DictVerTest, StringToDateRefusesEverythingElseAndLeavesTheDateAlone) {
    for (const wchar_t* text : kRefused) {
        SCOPED_TRACE(test::Utf8(text));
        SYSTEMTIME date;
        std::memset(&date, 0xAB, sizeof date);
        const SYSTEMTIME before = date;
        EXPECT_FALSE(s_parse(text, &date));
        EXPECT_EQ(std::memcmp(&date, &before, sizeof date), 0);
    }
}

TEST_F(DictVerTest, NullArgumentsAreRefusedWithoutACrash) {
    SYSTEMTIME date{};
    EXPECT_FALSE(s_parse(nullptr, &date));
    EXPECT_FALSE(s_parse(L"2009-01-01", nullptr));
    EXPECT_FALSE(s_get(nullptr, &date));
    EXPECT_FALSE(s_get(L"", &date));
    EXPECT_EQ(s_compare(nullptr, nullptr), 0);
}

TEST_F(DictVerTest, CompareDateOrdersInTime) {
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
        int sign;
    } const cases[] = {
        {L"2009-01-02", L"2009-01-01", 1},
        {L"2009-01-01", L"2009-01-02", -1},
        {L"2009-01-01", L"2009-01-01", 0},
        {L"2009-01-01", L"2009-01-01 00:00:00", 0},
        {L"2009-01-01 00:00:01", L"2009-01-01", 1},
        {L"2010-01-01", L"2009-12-31 23:59:59", 1},
        {L"2009-02-01", L"2009-01-31", 1},
        {L"2009-01-01 10:00:00", L"2009-01-01 09:59:59", 1},
        {L"2009-01-01 09:01:00", L"2009-01-01 09:00:59", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.first) + " vs " + test::Utf8(c.second));
        const SYSTEMTIME a = Parsed(c.first), b = Parsed(c.second);
        const int result = s_compare(&a, &b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
}

TEST_F(DictVerTest, CompareDateIgnoresTheDayOfWeekAndCountsMilliseconds) {
    SYSTEMTIME a = Parsed(L"2009-01-01"), b = a;
    b.wDayOfWeek = 6;
    EXPECT_EQ(s_compare(&a, &b), 0);
    b.wMilliseconds = 1;
    EXPECT_LT(s_compare(&a, &b), 0);
}

TEST_F(DictVerTest, AnyDateIsLaterThanTheZeroDateTheWizardKeepsWhenItHasNone) {
    const SYSTEMTIME zero{};
    const SYSTEMTIME date = Parsed(L"1601-01-01");
    EXPECT_GT(s_compare(&date, &zero), 0);
}

TEST_F(DictVerTest, StampAtTheEndOfTheFileGivesItsDate) {
    TempDir dir;
    struct Case {
        const char* stamp;
        size_t dataSize;
    } const cases[] = {{"2009-05-01", 0}, {"2009-05-01 12:34:56", 1}, {"2012-02-29", 70000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stamp);
        const std::wstring path = dir / L"abc.dic";
        ASSERT_TRUE(WriteFileBytes(path, Stamped(test::PatternBytes(c.dataSize, 3), c.stamp)));
        SetLastWrite(path, Parsed(L"2001-01-01"));
        const SYSTEMTIME found = FileDate(path);
        const SYSTEMTIME expected = Parsed(std::wstring(c.stamp, c.stamp + std::strlen(c.stamp)).c_str());
        EXPECT_EQ(s_compare(&found, &expected), 0);
        EXPECT_EQ(found.wDayOfWeek, expected.wDayOfWeek);
    }
}

// Installing writes an entry's bytes, stamp included: reading the new file must give
// exactly the package's date text, so the next run finds nothing newer.
TEST_F(DictVerTest, InstalledFileDateEqualsThePackageDateText) {
    TempDir dir;
    const std::wstring path = dir / L"abc.dic";
    ASSERT_TRUE(WriteFileBytes(path, Stamped("dictionary data", "2009-05-01")));
    const SYSTEMTIME installed = FileDate(path);
    const SYSTEMTIME same = Parsed(L"2009-05-01"), later = Parsed(L"2009-05-02"), older = Parsed(L"2009-04-30");
    EXPECT_EQ(s_compare(&same, &installed), 0);
    EXPECT_GT(s_compare(&later, &installed), 0);
    EXPECT_LT(s_compare(&older, &installed), 0);
}

TEST_F(DictVerTest, FileWithoutASoundStampGivesItsLastWriteTimeInUtc) {
    TempDir dir;
    unsigned char sound[DICT_STAMP_SIZE];
    ASSERT_TRUE(BuildStampTrailer("2009-05-01", sound));
    const std::string stamp(reinterpret_cast<char*>(sound), sizeof sound);
    struct Case {
        const char* name;
        std::string bytes;
    } const cases[] = {
        {"empty", ""},
        {"shorter_than_a_stamp", stamp.substr(1)},
        {"plain_data", test::PatternBytes(5000, 9)},
        {"impossible_date", "data" + std::string("2009-02-30") + stamp.substr(10)},
        {"date_cut_short", "data" + std::string("2009-05-0\0", 10) + stamp.substr(10)},
        {"junk_in_padding", "data" + stamp.substr(0, 12) + "x" + stamp.substr(13)},
        {"magic_damaged", "data" + stamp.substr(0, 31) + "2"},
        {"stamp_not_at_the_end", stamp + "data"},
    };
    SYSTEMTIME written = Parsed(L"2003-07-08 09:10:11");
    written.wMilliseconds = 123;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir / L"old.dic";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        ASSERT_TRUE(SetLastWrite(path, written));
        const SYSTEMTIME found = FileDate(path);
        EXPECT_EQ(s_compare(&found, &written), 0);
        EXPECT_EQ(found.wHour, 9) << "the fallback is universal time";
    }
}

TEST_F(DictVerTest, MissingFileLeavesTheDateZero) {
    TempDir dir;
    SYSTEMTIME date{};
    EXPECT_FALSE(s_get((dir / L"missing.dic").c_str(), &date));
    const SYSTEMTIME zero{};
    EXPECT_EQ(std::memcmp(&date, &zero, sizeof date), 0);
}

TEST_F(DictVerTest, StampIsReadWhileAnotherProcessHoldsTheFileOpenForWriting) {
    TempDir dir;
    const std::wstring path = dir / L"busy.dic";
    ASSERT_TRUE(WriteFileBytes(path, Stamped("data", "2010-10-10")));
    qb::ScopedHandle holder(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const SYSTEMTIME found = FileDate(path), expected = Parsed(L"2010-10-10");
    EXPECT_EQ(s_compare(&found, &expected), 0);
}

TEST(StampTrailerTest, BuildRefusesTextThatIsNotADate) {
    unsigned char trailer[DICT_STAMP_SIZE];
    std::memset(trailer, 0x5A, sizeof trailer);
    EXPECT_FALSE(BuildStampTrailer("2009-02-30", trailer));
    EXPECT_FALSE(BuildStampTrailer("2009-01-01 12:00:00 extra", trailer));
    EXPECT_EQ(trailer[0], 0x5A);
}

}  // namespace
