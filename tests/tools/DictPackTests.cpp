#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ScopedWin.h"
#include "dictver/DictDate.h"
#include "package/PackageReader.h"
#include "package/PackageSeal.h"
#include "package/PackageWriter.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/RunDictPack.h"

namespace {

using test::FileExists;
using test::RunDictPack;
using test::RunResult;
using test::ReadFileBytes;
using test::TempDir;
using test::Utf8;
using test::WriteFileBytes;

std::string Trailer(const char* date) {
    unsigned char trailer[DICT_STAMP_SIZE];
    EXPECT_TRUE(BuildStampTrailer(date, trailer));
    return std::string(reinterpret_cast<char*>(trailer), sizeof trailer);
}

// The lines of err, each checked to be a warning.
std::vector<std::string> WarningLines(const std::string& err) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < err.size();) {
        size_t stop = err.find('\n', start);
        if (stop == std::string::npos) stop = err.size();
        lines.push_back(err.substr(start, stop - start));
        EXPECT_EQ(lines.back().compare(0, 19, "dictpack: warning: "), 0) << lines.back();
        start = stop + 1;
    }
    return lines;
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

std::vector<PackageDirRecord> RecordsOf(const std::wstring& path) {
    CPackageReader reader;
    EXPECT_TRUE(reader.Open(path.c_str()));
    return reader.records();
}

std::string ListingOf(const std::wstring& package) {
    const RunResult list = RunDictPack({L"list", package});
    EXPECT_EQ(list.code, 0u) << list.err;
    return list.out;
}

TEST(DictPackTest, CreateThenExtractGivesTheSameBytes) {
    TempDir dir;
    struct Input {
        const wchar_t* name;
        std::string bytes;
        std::vector<std::wstring> options;
    } const inputs[] = {
        {L"empty.dic", "", {L"--date", L"2009-01-01"}},
        {L"one.dic", "x", {L"--date", L"2009-01-02"}},
        {L"chunky.dip", test::PatternBytes(2049, 5), {L"--date", L"2009-01-03"}},
        {L"stamped.dic", test::PatternBytes(3000, 6) + Trailer("2010-06-07"), {L"--name", L"现代汉语词典"}},
        {L"notes.txt", "text", {L"--date", L"2009-01-04"}},
    };
    std::vector<std::wstring> args = {L"create", dir / L"out.dir"};
    for (const Input& input : inputs) {
        ASSERT_TRUE(WriteFileBytes(dir / input.name, input.bytes));
        args.insert(args.end(), input.options.begin(), input.options.end());
        args.push_back(dir / input.name);
    }
    const RunResult create = RunDictPack(args);
    ASSERT_EQ(create.code, 0u) << create.err;
    EXPECT_FALSE(FileExists(dir / L"out.dir.part"));
    // One line for each of the four unstamped files, one for the extension.
    EXPECT_EQ(WarningLines(create.err).size(), 5u) << create.err;

    const RunResult extract = RunDictPack({L"extract", dir / L"out.dir", dir / L"unpacked"});
    ASSERT_EQ(extract.code, 0u) << extract.err;
    for (const Input& input : inputs) {
        SCOPED_TRACE(Utf8(input.name));
        ASSERT_TRUE(FileExists(dir / (std::wstring(L"unpacked\\") + input.name)));
        EXPECT_EQ(ReadFileBytes(dir / (std::wstring(L"unpacked\\") + input.name)), input.bytes);
    }

    const std::vector<PackageDirRecord> records = RecordsOf(dir / L"out.dir");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(FieldText(records[3].displayName), L"现代汉语词典");
    EXPECT_EQ(FieldText(records[3].dateText), L"2010-06-07");
    EXPECT_EQ(FieldText(records[2].dictId), L"chunky");
    EXPECT_EQ(FieldText(records[2].fileExt), L".dip");
    EXPECT_EQ(FieldText(records[2].displayName), L"chunky");
    EXPECT_EQ(records[2].dataSize, 2049u);

    const std::string listing = ListingOf(dir / L"out.dir");
    EXPECT_NE(listing.find("3\t2050\t3032\tstamped\t.dic\t2010-06-07\t" + Utf8(L"现代汉语词典") + "\n"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("0\t0\t0\tempty\t.dic\t2009-01-01\tempty\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("records 5"), std::string::npos) << listing;
    EXPECT_EQ(RunDictPack({L"verify", dir / L"out.dir"}).out, "ok\n");
}

typedef bool(__cdecl* DateFn)(const wchar_t*, SYSTEMTIME*);
typedef int(__cdecl* CompareFn)(const SYSTEMTIME*, const SYSTEMTIME*);

template <typename Fn>
Fn Export(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// What the wizard relies on: once an entry is written out as a file, the version library
// reads from that file exactly the entry's date, so the next run finds nothing newer.
TEST(DictPackTest, InstalledEntryCarriesTheDateOfItsRecord) {
    TempDir dir;
    qb::ScopedLibrary library(LoadLibraryW((test::ExeDir() + L"dict_ver.dll").c_str()));
    ASSERT_TRUE(library);
    const auto getDate = Export<DateFn>(library.get(), "get_dict_datetime");
    const auto toDate = Export<DateFn>(library.get(), "string_to_date");
    const auto compare = Export<CompareFn>(library.get(), "compare_date");
    ASSERT_TRUE(getDate && toDate && compare);

    const std::string plain = test::PatternBytes(5000, 8);
    ASSERT_TRUE(WriteFileBytes(dir / L"Plain.DIC", plain));
    ASSERT_TRUE(WriteFileBytes(dir / L"stamped.dip", "data" + Trailer("2011-03-04")));
    const RunResult create = RunDictPack({L"create", dir / L"p.dir", L"--stamp", L"--date", L"2009-05-01",
                                          dir / L"Plain.DIC", L"--date", L"2011-03-04", dir / L"stamped.dip"});
    ASSERT_EQ(create.code, 0u) << create.err;
    EXPECT_EQ(create.err, "");
    EXPECT_EQ(ReadFileBytes(dir / L"Plain.DIC"), plain) << "the source file is never changed";
    ASSERT_EQ(RunDictPack({L"extract", dir / L"p.dir", dir / L"dictdata"}).code, 0u);
    EXPECT_EQ(ReadFileBytes(dir / L"dictdata\\Plain.DIC"), plain + Trailer("2009-05-01"));

    const std::vector<PackageDirRecord> records = RecordsOf(dir / L"p.dir");
    ASSERT_EQ(records.size(), 2u);
    const wchar_t* const files[] = {L"dictdata\\Plain.DIC", L"dictdata\\stamped.dip"};
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(Utf8(files[i]));
        SYSTEMTIME entryDate{}, fileDate{};
        ASSERT_TRUE(toDate(FieldText(records[i].dateText).c_str(), &entryDate));
        ASSERT_TRUE(getDate((dir / files[i]).c_str(), &fileDate));
        EXPECT_EQ(compare(&entryDate, &fileDate), 0);
    }
}

TEST(DictPackTest, StampWritesOrReplacesTheTrailer) {
    TempDir dir;
    const std::wstring file = dir / L"abc.dic";
    const std::string data = test::PatternBytes(100, 2);
    struct Step {
        const wchar_t* date;
        DWORD code;
        std::string expected;
    } const steps[] = {
        {L"2009-01-01", 0, data + Trailer("2009-01-01")},
        {L"2010-12-31 23:59:59", 0, data + Trailer("2010-12-31 23:59:59")},
        {L"2009-02-30", 1, data + Trailer("2010-12-31 23:59:59")},
        {L"2011-01-01", 0, data + Trailer("2011-01-01")},
    };
    ASSERT_TRUE(WriteFileBytes(file, data));
    for (const Step& step : steps) {
        SCOPED_TRACE(Utf8(step.date));
        const RunResult stamp = RunDictPack({L"stamp", file, step.date});
        EXPECT_EQ(stamp.code, step.code) << stamp.err;
        EXPECT_EQ(ReadFileBytes(file), step.expected);
    }
    // A damaged stamp is replaced, not stacked behind.
    std::string damaged = data + Trailer("2011-01-01");
    damaged[data.size() + 5] = '9';
    damaged[data.size() + 6] = '9';
    ASSERT_TRUE(WriteFileBytes(file, damaged));
    EXPECT_EQ(RunDictPack({L"stamp", file, L"2012-02-02"}).code, 0u);
    EXPECT_EQ(ReadFileBytes(file), data + Trailer("2012-02-02"));
    EXPECT_EQ(RunDictPack({L"stamp", dir / L"missing.dic", L"2012-02-02"}).code, 1u);
}

TEST(DictPackTest, ManifestNamesFilesRelativeToItself) {
    TempDir dir;
    ASSERT_TRUE(test::MakeDirs(dir / L"src"));
    ASSERT_TRUE(WriteFileBytes(dir / L"src\\a.dic", "aaa"));
    ASSERT_TRUE(WriteFileBytes(dir / L"src\\b.dip", "bb" + Trailer("2008-08-08")));
    ASSERT_TRUE(WriteFileBytes(dir / L"src\\c.bin", "c"));
    const std::string manifest = "\xEF\xBB\xBF# publisher list\r\n"
                                 "a.dic\t\t\t2009-09-09\t" + Utf8(L"英汉词典") + "\r\n"
                                 "\r\n"
                                 "b.dip\r\n"
                                 "c.bin\tcore\t.dic\t2001-01-01\n";
    ASSERT_TRUE(WriteFileBytes(dir / L"src\\list.txt", manifest));
    const RunResult create = RunDictPack({L"create", L"out.dir", L"--manifest", L"src\\list.txt"}, dir.path());
    ASSERT_EQ(create.code, 0u) << create.err;
    const std::vector<std::string> warnings = WarningLines(create.err);
    ASSERT_EQ(warnings.size(), 2u) << create.err;
    EXPECT_NE(warnings[0].find("a.dic: no version stamp"), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].find("--stamp"), std::string::npos) << "no option reaches a manifest line";
    EXPECT_NE(warnings[1].find("c.bin: no version stamp"), std::string::npos) << warnings[1];

    const std::vector<PackageDirRecord> records = RecordsOf(dir / L"out.dir");
    ASSERT_EQ(records.size(), 3u);
    const struct {
        const wchar_t *id, *ext, *date, *name;
    } expected[] = {{L"a", L".dic", L"2009-09-09", L"英汉词典"},
                    {L"b", L".dip", L"2008-08-08", L"b"},
                    {L"core", L".dic", L"2001-01-01", L"core"}};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(FieldText(records[i].dictId), expected[i].id);
        EXPECT_EQ(FieldText(records[i].fileExt), expected[i].ext);
        EXPECT_EQ(FieldText(records[i].dateText), expected[i].date);
        EXPECT_EQ(FieldText(records[i].displayName), expected[i].name);
    }
}

struct DamagedCase {
    const char* name;
    void (*change)(std::string&);
    const char* reason;                  // empty: the wizard accepts the package
    std::vector<const char*> warnings = {};  // one line each, for an accepted package
};

PackageHeader& HeaderOf(std::string& bytes) { return *reinterpret_cast<PackageHeader*>(&bytes[0]); }
PackageDirRecord& RecordOf(std::string& bytes, size_t i) {
    return *reinterpret_cast<PackageDirRecord*>(&bytes[PACKAGE_HEADER_SIZE + i * PACKAGE_RECORD_SIZE]);
}

class DictPackVerifyTest : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DictPackVerifyTest, SaysWhyThePackageIsRefused) {
    TempDir dir;
    std::string bytes = BuildPackage({{L"abc", L".dic", L"2009-01-01", L"ABC", 0}, {L"def", L".dip", L"2009-01-02", L"DEF", 0}},
                                     {test::PatternBytes(10, 1), test::PatternBytes(20, 2)});
    GetParam().change(bytes);
    const std::wstring package = dir / L"p.dir";
    ASSERT_TRUE(WriteFileBytes(package, bytes));
    const RunResult verify = RunDictPack({L"verify", package});
    const std::string reason = GetParam().reason;
    if (reason.empty()) {
        EXPECT_EQ(verify.code, 0u) << verify.err;
        EXPECT_EQ(verify.out, "ok\n");
        const std::vector<std::string> lines = WarningLines(verify.err);
        EXPECT_EQ(lines.size(), GetParam().warnings.size()) << verify.err;
        for (const char* warning : GetParam().warnings) EXPECT_TRUE(AnyLineHas(lines, warning)) << verify.err;
        return;
    }
    EXPECT_EQ(verify.code, 1u);
    EXPECT_EQ(verify.out, "");
    EXPECT_NE(verify.err.find(reason), std::string::npos) << verify.err;
    EXPECT_EQ(std::count(verify.err.begin(), verify.err.end(), '\n'), 1) << verify.err;
}

INSTANTIATE_TEST_SUITE_P(
    Packages, DictPackVerifyTest,
    ::testing::Values(
        DamagedCase{"sound", [](std::string&) {}, ""},
        DamagedCase{"version_in_second_field", [](std::string& b) { HeaderOf(b).version1 = 2; HeaderOf(b).version2 = 1; }, ""},
        DamagedCase{"empty_directory", [](std::string& b) { b = BuildPackageDirectory({}); }, ""},
        DamagedCase{"empty_file", [](std::string& b) { b.clear(); }, "shorter than the 32-byte header"},
        DamagedCase{"31_bytes", [](std::string& b) { b.resize(31); }, "shorter than the 32-byte header"},
        DamagedCase{"magic_swapped", [](std::string& b) { std::memcpy(&b[0], "\x70\x65\x30\x31", 4); }, "wrong magic 0x31306570"},
        DamagedCase{"no_accepted_version", [](std::string& b) { HeaderOf(b).version1 = 2; HeaderOf(b).version2 = 0; },
                    "no accepted format version (version1 2, version2 0)"},
        DamagedCase{"record_size_200", [](std::string& b) { HeaderOf(b).recordSize = 200; }, "record size 200, not 184"},
        DamagedCase{"directory_cut_short", [](std::string& b) { b.resize(PACKAGE_HEADER_SIZE + PACKAGE_RECORD_SIZE + 100); },
                    "directory cut short"},
        DamagedCase{"record_count_huge", [](std::string& b) { HeaderOf(b).recordCount = 0x01000000; }, "directory cut short"},
        DamagedCase{"name_with_parent_dir", [](std::string& b) { SetFieldText(RecordOf(b, 1).dictId, L"..\\def"); },
                    "entry 1: name '..\\def.dip' would leave the dictionary data directory"},
        DamagedCase{"device_name", [](std::string& b) { SetFieldText(RecordOf(b, 0).dictId, L"con"); },
                    "entry 0: name 'con.dic' would leave"},
        DamagedCase{"data_past_the_end", [](std::string& b) { RecordOf(b, 1).dataSize = 21; }, "entry 1: data lies outside the file"},
        DamagedCase{"offset_past_the_end", [](std::string& b) { RecordOf(b, 0).dataOffset = 1000; }, "entry 0: data lies outside the file"},
        DamagedCase{"data_past_2_gib", [](std::string& b) { RecordOf(b, 1).dataOffset = 0x7FFFFFF0; }, "entry 1: data reaches past 2^31-1"},
        DamagedCase{"base_past_2_gib", [](std::string& b) { HeaderOf(b).dataBase = 0xFFFFFF00; }, "entry 0: data reaches past 2^31-1"},
        DamagedCase{"extension_leaves_directory", [](std::string& b) { SetFieldText(RecordOf(b, 1).fileExt, L".d/x"); },
                    "entry 1: name 'def.d/x' would leave"},
        DamagedCase{"warned_entry_before_data_outside",
                    [](std::string& b) {
                        SetFieldText(RecordOf(b, 0).dateText, L"2009-02-30");
                        RecordOf(b, 1).dataSize = 21;
                    },
                    "entry 1: data lies outside the file"},
        DamagedCase{"impossible_date", [](std::string& b) { SetFieldText(RecordOf(b, 0).dateText, L"2009-02-30"); }, "",
                    {"entry 0: date '2009-02-30' is not a date the version library accepts"}},
        DamagedCase{"date_without_padding", [](std::string& b) { SetFieldText(RecordOf(b, 1).dateText, L"2009-1-2"); }, "",
                    {"entry 1: date '2009-1-2' is not a date"}},
        DamagedCase{"empty_date", [](std::string& b) { SetFieldText(RecordOf(b, 1).dateText, L""); }, "",
                    {"entry 1: date '' is not a date"}},
        DamagedCase{"unknown_extension", [](std::string& b) { SetFieldText(RecordOf(b, 1).fileExt, L".txt"); }, "",
                    {"entry 1: extension '.txt' is neither .dic nor .dip; the host's dictionaries end in one of these; the "
                     "wizard installs def.txt all the same and finds it again by that name, so a second run says up to date"}},
        DamagedCase{"no_extension", [](std::string& b) { SetFieldText(RecordOf(b, 0).fileExt, L""); }, "",
                    {"entry 0: extension '' is neither"}},
        DamagedCase{"upper_case_extension", [](std::string& b) { SetFieldText(RecordOf(b, 0).fileExt, L".DIC"); }, ""},
        DamagedCase{"one_warning_in_each_entry",
                    [](std::string& b) {
                        SetFieldText(RecordOf(b, 0).fileExt, L".bak");
                        SetFieldText(RecordOf(b, 1).dateText, L"yesterday");
                    },
                    "", {"entry 0: extension '.bak'", "entry 1: date 'yesterday'"}},
        DamagedCase{"both_warnings_in_one_entry",
                    [](std::string& b) {
                        SetFieldText(RecordOf(b, 0).fileExt, L".bak");
                        SetFieldText(RecordOf(b, 0).dateText, L"2009-13-01");
                    },
                    "", {"entry 0: extension '.bak'", "entry 0: date '2009-13-01'"}}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST(DictPackTest, VerifyOfAMissingFileFails) {
    TempDir dir;
    const RunResult verify = RunDictPack({L"verify", dir / L"none.dir"});
    EXPECT_EQ(verify.code, 1u);
    EXPECT_NE(verify.err.find("cannot open"), std::string::npos) << verify.err;
}

struct WarnedCreateCase {
    const char* name;
    std::vector<std::wstring> args;  // after "create OUT"; files named relative to the scratch folder
    std::string entry;               // the single entry's bytes
    const wchar_t* ext;
    std::vector<const char*> warnings;  // one line each
};

std::string EntryBytes(const std::wstring& package, uint32_t index) {
    CPackageReader reader;
    if (!reader.Open(package.c_str()) || !reader.SeekToEntry(index)) return "(unreadable)";
    std::string bytes;
    char buffer[CHUNK_SIZE];
    for (;;) {
        uint32_t count = CHUNK_SIZE;
        const int result = reader.ReadChunk(index, buffer, count);
        if (result < 0) return "(cut short)";
        bytes.append(buffer, count);
        if (result == 0) return bytes;
    }
}

class DictPackWarnedCreateTest : public ::testing::TestWithParam<WarnedCreateCase> {};

// The wizard installs these packages; the publisher is told what it will do with them.
TEST_P(DictPackWarnedCreateTest, PacksAndWarnsOneLineEach) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"plain.dic", "plain"));
    ASSERT_TRUE(WriteFileBytes(dir / L"stamped.dic", "data" + Trailer("2009-01-01")));
    ASSERT_TRUE(WriteFileBytes(dir / L"notes.txt", "text"));
    ASSERT_TRUE(WriteFileBytes(dir / L"README", "readme"));
    ASSERT_TRUE(WriteFileBytes(dir / L"upper.DIP", "up"));
    ASSERT_TRUE(WriteFileBytes(dir / L"notes.list", "notes.txt\t\t\t2009-01-01\n"));
    const std::string sources[] = {"plain", "data" + Trailer("2009-01-01"), "text", "readme", "up"};

    std::vector<std::wstring> args = {L"create", L"out.dir"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RunResult create = RunDictPack(args, dir.path());
    ASSERT_EQ(create.code, 0u) << create.err;
    EXPECT_NE(create.out.find("created out.dir with 1 entries"), std::string::npos) << create.out;
    const std::vector<std::string> lines = WarningLines(create.err);
    EXPECT_EQ(lines.size(), GetParam().warnings.size()) << create.err;
    for (const char* warning : GetParam().warnings) EXPECT_TRUE(AnyLineHas(lines, warning)) << create.err;

    const std::vector<PackageDirRecord> records = RecordsOf(dir / L"out.dir");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(FieldText(records[0].fileExt), GetParam().ext);
    EXPECT_EQ(FieldText(records[0].dateText), L"2009-01-01");
    EXPECT_EQ(EntryBytes(dir / L"out.dir", 0), GetParam().entry);
    EXPECT_EQ(ReadFileBytes(dir / L"plain.dic"), sources[0]) << "a source file is never changed";
    EXPECT_EQ(ReadFileBytes(dir / L"notes.txt"), sources[2]);
    EXPECT_EQ(ReadFileBytes(dir / L"README"), sources[3]);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DictPackWarnedCreateTest,
    ::testing::Values(
        WarnedCreateCase{"unstamped", {L"--date", L"2009-01-01", L"plain.dic"}, "plain", L".dic",
                         {"plain.dic: no version stamp; once installed it reports its install time as its date "
                          "(run dictpack stamp plain.dic 2009-01-01 first, or pack it with --stamp)"}},
        WarnedCreateCase{"unstamped_with_stamp", {L"--stamp", L"--date", L"2009-01-01", L"plain.dic"},
                         "plain" + Trailer("2009-01-01"), L".dic", {}},
        WarnedCreateCase{"stamped", {L"stamped.dic"}, "data" + Trailer("2009-01-01"), L".dic", {}},
        WarnedCreateCase{"stamped_with_stamp", {L"--stamp", L"stamped.dic"}, "data" + Trailer("2009-01-01"), L".dic", {}},
        WarnedCreateCase{"stamped_with_its_date_and_stamp", {L"--date", L"2009-01-01", L"--stamp", L"stamped.dic"},
                         "data" + Trailer("2009-01-01"), L".dic", {}},
        WarnedCreateCase{"upper_case_extension", {L"--stamp", L"--date", L"2009-01-01", L"upper.DIP"},
                         "up" + Trailer("2009-01-01"), L".DIP", {}},
        WarnedCreateCase{"other_extension", {L"--stamp", L"--date", L"2009-01-01", L"notes.txt"},
                         "text" + Trailer("2009-01-01"), L".txt",
                         {"notes.txt: extension '.txt' is neither .dic nor .dip; the host's dictionaries end in one of these; "
                          "the wizard installs notes.txt all the same and finds it again by that name, so a second "
                          "run says up to date"}},
        WarnedCreateCase{"other_extension_given", {L"--ext", L".bak", L"stamped.dic"}, "data" + Trailer("2009-01-01"), L".bak",
                         {"extension '.bak' is neither"}},
        WarnedCreateCase{"extension_without_dot", {L"--ext", L"dic", L"stamped.dic"}, "data" + Trailer("2009-01-01"), L"dic",
                         {"installs stampeddic all the same"}},
        WarnedCreateCase{"no_extension", {L"--stamp", L"--date", L"2009-01-01", L"README"}, "readme" + Trailer("2009-01-01"),
                         L"", {"README: extension '' is neither"}},
        WarnedCreateCase{"other_extension_unstamped", {L"--date", L"2009-01-01", L"notes.txt"}, "text", L".txt",
                         {"extension '.txt'", "notes.txt: no version stamp"}},
        WarnedCreateCase{"manifest_other_extension_unstamped", {L"--manifest", L"notes.list"}, "text", L".txt",
                         {"extension '.txt'", "notes.txt: no version stamp"}}),
    [](const ::testing::TestParamInfo<WarnedCreateCase>& info) { return std::string(info.param.name); });

struct BadCreateCase {
    const char* name;
    std::vector<std::wstring> args;  // after "create OUT"; files named relative to the scratch folder
    DWORD code;
    const char* error;
};

class DictPackBadCreateTest : public ::testing::TestWithParam<BadCreateCase> {};

// A refused package writes nothing, not even a partial file, and the previous package stays.
TEST_P(DictPackBadCreateTest, RefusesWithOneClearLine) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"out.dir", "previous package"));
    ASSERT_TRUE(WriteFileBytes(dir / L"plain.dic", "plain"));
    ASSERT_TRUE(WriteFileBytes(dir / L"stamped.dic", "data" + Trailer("2009-01-01")));
    ASSERT_TRUE(WriteFileBytes(dir / L"long.dic", "data" + Trailer("2009-01-01 10:00:00")));
    std::string damaged = "data" + Trailer("2009-01-01");
    damaged[4] = 'x';
    ASSERT_TRUE(WriteFileBytes(dir / L"damaged.dic", damaged));
    ASSERT_TRUE(WriteFileBytes(dir / L"notes.txt", "text"));
    ASSERT_TRUE(WriteFileBytes(dir / L"bad.list", "plain.dic\t\xC3\x28\n"));
    ASSERT_TRUE(WriteFileBytes(dir / L"wide.list", "plain.dic\ta\tb\tc\td\te\n"));

    std::vector<std::wstring> args = {L"create", L"out.dir"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RunResult create = RunDictPack(args, dir.path());
    EXPECT_EQ(create.code, GetParam().code);
    EXPECT_EQ(create.err.compare(0, 10, "dictpack: "), 0) << create.err;
    EXPECT_NE(create.err.substr(0, create.err.find('\n')).find(GetParam().error), std::string::npos) << create.err;
    if (GetParam().code == 1) {
        EXPECT_EQ(std::count(create.err.begin(), create.err.end(), '\n'), 1) << create.err;
    }
    EXPECT_EQ(ReadFileBytes(dir / L"out.dir"), "previous package");
    EXPECT_FALSE(FileExists(dir / L"out.dir.part"));
}

const std::wstring k32 = L"abcdefghijklmnopqrstuvwxyz012345";  // 32 characters

INSTANTIATE_TEST_SUITE_P(
    Arguments, DictPackBadCreateTest,
    ::testing::Values(
        BadCreateCase{"no_file", {}, 2, "at least one FILE"},
        BadCreateCase{"options_without_file", {L"stamped.dic", L"--id", L"x"}, 2, "apply to no FILE"},
        BadCreateCase{"option_without_value", {L"stamped.dic", L"--date"}, 2, "--date needs a value"},
        BadCreateCase{"unknown_option", {L"--size", L"3", L"stamped.dic"}, 2, "unknown option '--size'"},
        BadCreateCase{"option_twice", {L"--id", L"a", L"--id", L"b", L"stamped.dic"}, 2, "--id given twice"},
        BadCreateCase{"missing_file", {L"none.dic"}, 1, "cannot open none.dic"},
        BadCreateCase{"no_stamp_no_date", {L"plain.dic"}, 1, "no version stamp in the file; give --date"},
        BadCreateCase{"impossible_date", {L"--date", L"2009-02-29", L"plain.dic"}, 1, "'2009-02-29' is not a date: February 2009 has 28 days"},
        BadCreateCase{"date_with_time_too_long", {L"--date", L"2009-01-01 10:00:00", L"plain.dic"}, 1,
                      "date '2009-01-01 10:00:00' is longer than 15 characters"},
        BadCreateCase{"stamp_with_time_too_long", {L"long.dic"}, 1, "longer than 15 characters"},
        BadCreateCase{"date_differs_from_stamp", {L"--date", L"2009-01-02", L"stamped.dic"}, 1,
                      "--date 2009-01-02 differs from the file's version stamp 2009-01-01"},
        BadCreateCase{"damaged_stamp", {L"damaged.dic"}, 1, "damaged version stamp"},
        BadCreateCase{"id_too_long", {L"--id", k32, L"stamped.dic"}, 1, "is longer than 31 characters"},
        BadCreateCase{"name_too_long", {L"--name", L"现代汉语词典现代汉语词典现代汉语词典现代汉语词典现代汉语词典现代汉语词", L"stamped.dic"}, 1,
                      "is longer than 31 characters"},
        BadCreateCase{"name_too_long_in_utf16_units", {L"--name", L"xy\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"
                      L"\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600",
                      L"stamped.dic"}, 1, "is longer than 31 characters"},
        BadCreateCase{"extension_too_long", {L"--ext", L".toolong", L"stamped.dic"}, 1,
                      "extension '.toolong' is longer than 7 characters"},
        BadCreateCase{"extension_leaves_directory", {L"--ext", L".d\\x", L"stamped.dic"}, 1, "is not a plain file name"},
        BadCreateCase{"raw_is_no_option", {L"--raw", L"--date", L"2009-01-01", L"plain.dic"}, 2, "unknown option '--raw'"},
        BadCreateCase{"stamp_twice", {L"--stamp", L"--date", L"2009-01-01", L"--stamp", L"plain.dic"}, 2,
                      "--stamp given twice"},
        BadCreateCase{"stamp_without_file", {L"stamped.dic", L"--stamp"}, 2, "apply to no FILE"},
        BadCreateCase{"stamp_without_date", {L"--stamp", L"plain.dic"}, 1, "no version stamp in the file; give --date"},
        BadCreateCase{"stamp_over_a_damaged_stamp", {L"--stamp", L"--date", L"2009-01-01", L"damaged.dic"}, 1,
                      "damaged version stamp"},
        BadCreateCase{"stamp_with_date_differing", {L"--stamp", L"--date", L"2009-01-02", L"stamped.dic"}, 1,
                      "differs from the file's version stamp"},
        BadCreateCase{"warned_file_then_missing_file", {L"--date", L"2009-01-01", L"notes.txt", L"none.dic"}, 1,
                      "cannot open none.dic"},
        BadCreateCase{"id_leaves_directory", {L"--id", L"..\\..\\x", L"stamped.dic"}, 1, "is not a plain file name"},
        BadCreateCase{"id_names_a_device", {L"--id", L"NUL", L"stamped.dic"}, 1, "is not a plain file name"},
        BadCreateCase{"empty_id", {L"--id", L"", L"stamped.dic"}, 1, "empty id"},
        BadCreateCase{"same_file_twice", {L"stamped.dic", L"--id", L"STAMPED", L"stamped.dic"}, 1,
                      "a second entry installs to stamped.dic"},
        BadCreateCase{"manifest_not_utf8", {L"--manifest", L"bad.list"}, 1,
                      "bad.list line 1 is not UTF-8 (byte 0xC3 at column 11)"},
        BadCreateCase{"manifest_too_many_fields", {L"--manifest", L"wide.list"}, 1, "line 1: more than 5"},
        BadCreateCase{"manifest_missing", {L"--manifest", L"none.list"}, 1, "cannot open manifest"},
        BadCreateCase{"no_seal_twice", {L"--no-seal", L"stamped.dic", L"--no-seal"}, 2, "--no-seal given twice"}),
    [](const ::testing::TestParamInfo<BadCreateCase>& info) { return std::string(info.param.name); });

TEST(DictPackTest, BadCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::wstring>> lines = {
        {}, {L"pack"}, {L"list"}, {L"list", L"a.dir", L"b.dir"}, {L"verify"}, {L"extract", L"a.dir"}, {L"stamp", L"a.dic"},
        {L"seal"}, {L"seal", L"a.dir", L"b.dir"},
    };
    for (const auto& line : lines) {
        const RunResult run = RunDictPack(line);
        EXPECT_EQ(run.code, 2u);
        EXPECT_EQ(run.err.compare(0, 10, "dictpack: "), 0) << run.err;
        EXPECT_NE(run.err.find("usage:"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
}

TEST(DictPackTest, ExtractRefusesAnEntryThatWouldLeaveTheTargetAndWritesNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", BuildPackage({{L"good", L".dic", L"2009-01-01", L"", 0},
                                                             {L"..\\evil", L".dic", L"2009-01-01", L"", 0}},
                                                            {"good", "evil"})));
    const RunResult run = RunDictPack({L"extract", dir / L"p.dir", dir / L"out\\inner"});
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.err.find("would leave the target directory"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir / L"out\\inner\\good.dic"));
    EXPECT_FALSE(FileExists(dir / L"out\\evil.dic"));
}

TEST(DictPackTest, ExtractOfAnEntryCutShortFailsAndLeavesNoPartialFile) {
    TempDir dir;
    std::string bytes = BuildPackage({{L"whole", L".dic", L"2009-01-01", L"", 0}, {L"cut", L".dic", L"2009-01-01", L"", 0}},
                                     {"whole", test::PatternBytes(5000, 3)});
    bytes.resize(bytes.size() - 100);
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    const RunResult run = RunDictPack({L"extract", dir / L"p.dir", dir / L"out"});
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.err.find("entry 1: data cut short"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(dir / L"out\\whole.dic"), "whole");
    EXPECT_FALSE(FileExists(dir / L"out\\cut.dic"));
}

TEST(DictPackTest, ListOfARefusedPackageSaysWhy) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", std::string(40, 'x')));
    const RunResult run = RunDictPack({L"list", dir / L"p.dir"});
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.err.find("wrong magic"), std::string::npos) << run.err;
}

// An entry far bigger than any buffer the tool could hold in a 32-bit process streams through.
TEST(DictPackTest, FiveHundredMegabyteEntryStreams) {
    TempDir dir;
    const std::wstring source = dir / L"big.dic";
    const LONGLONG size = 500LL << 20;
    {
        qb::ScopedHandle file(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER at;
        at.QuadPart = size - 4;
        ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "tail", 4, &written, nullptr));
    }
    const RunResult create = RunDictPack({L"create", dir / L"big.dir", L"--stamp", L"--date", L"2009-01-01", source});
    ASSERT_EQ(create.code, 0u) << create.err;
    EXPECT_EQ(RunDictPack({L"verify", dir / L"big.dir"}).out, "ok\n");
    const std::vector<PackageDirRecord> records = RecordsOf(dir / L"big.dir");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].dataSize, size + DICT_STAMP_SIZE);

    const RunResult extract = RunDictPack({L"extract", dir / L"big.dir", dir / L"out"});
    ASSERT_EQ(extract.code, 0u) << extract.err;
    qb::ScopedHandle out(CreateFileW((dir / L"out\\big.dic").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(out);
    LARGE_INTEGER outSize, at;
    ASSERT_TRUE(GetFileSizeEx(out.get(), &outSize));
    EXPECT_EQ(outSize.QuadPart, size + static_cast<LONGLONG>(DICT_STAMP_SIZE));
    at.QuadPart = size - 4;
    ASSERT_TRUE(SetFilePointerEx(out.get(), at, nullptr, FILE_BEGIN));
    char tail[4 + DICT_STAMP_SIZE];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(out.get(), tail, sizeof tail, &got, nullptr));
    EXPECT_EQ(std::string(tail, got), "tail" + Trailer("2009-01-01"));
}

// ---- seals ----

std::string Hex(const EntryDigest& digest) {
    std::string text;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// create seals unless told not to, and writes exactly the documented layout: the unsealed
// bytes as before, then the SHA-256 of each entry (the well-known digest of "abc" here,
// so any sha256sum can check a package) and the trailer.
TEST(DictPackTest, CreateSealsByDefaultAndNoSealWritesThePackageAsBefore) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"abc.dic", "abc"));
    const std::string big = test::PatternBytes(3 * CHUNK_SIZE + 100, 7) + Trailer("2009-01-02");
    ASSERT_TRUE(WriteFileBytes(dir / L"big.dip", big));
    const std::vector<PackageEntrySpec> specs = {{L"abc", L".dic", L"2009-01-01", L"abc", 0},
                                                 {L"big", L".dip", L"2009-01-02", L"big", 0}};
    const std::vector<std::string> data = {"abc", big};

    const RunResult sealed = RunDictPack({L"create", dir / L"sealed.dir", L"--date", L"2009-01-01", dir / L"abc.dic", dir / L"big.dip"});
    ASSERT_EQ(sealed.code, 0u) << sealed.err;
    EXPECT_NE(sealed.out.find("with 2 entries, sealed"), std::string::npos) << sealed.out;
    const std::string bytes = ReadFileBytes(dir / L"sealed.dir");
    EXPECT_TRUE(bytes == BuildSealedPackage(specs, data));
    const std::string unsealedBytes = BuildPackage(specs, data);
    ASSERT_GT(bytes.size(), unsealedBytes.size());
    EXPECT_EQ(Hex(Sha256Of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(bytes.substr(unsealedBytes.size(), SHA256_DIGEST_SIZE), std::string(reinterpret_cast<const char*>(Sha256Of("abc").data()), SHA256_DIGEST_SIZE));
    EXPECT_EQ(bytes.substr(bytes.size() - 16), std::string("\x02\0\0\0\x90\0\0\0QBSEAL02", 16));
    EXPECT_NE(ListingOf(dir / L"sealed.dir").find("\nsealed: "), std::string::npos);

    // The option may stand anywhere among the others.
    const RunResult plain = RunDictPack({L"create", dir / L"plain.dir", L"--date", L"2009-01-01", dir / L"abc.dic", L"--no-seal", dir / L"big.dip"});
    ASSERT_EQ(plain.code, 0u) << plain.err;
    EXPECT_NE(plain.out.find("with 2 entries, not sealed"), std::string::npos) << plain.out;
    EXPECT_TRUE(ReadFileBytes(dir / L"plain.dir") == unsealedBytes);
    EXPECT_NE(ListingOf(dir / L"plain.dir").find("\nnot sealed\n"), std::string::npos);
    for (const wchar_t* name : {L"sealed.dir", L"plain.dir"}) {
        SCOPED_TRACE(Utf8(name));
        EXPECT_EQ(RunDictPack({L"verify", dir / name}).out, "ok\n");
        ASSERT_EQ(RunDictPack({L"extract", dir / name, dir / L"out"}).code, 0u);
        EXPECT_EQ(ReadFileBytes(dir / L"out\\abc.dic"), "abc");
        EXPECT_TRUE(ReadFileBytes(dir / L"out\\big.dip") == big);
    }
}

// Three entries: abc of 10 bytes, def of four 2048-byte chunks (the last one short), ghi
// of 5 bytes.
const std::vector<PackageEntrySpec> kSealSpecs = {{L"abc", L".dic", L"2009-01-01", L"ABC", 0},
                                                  {L"def", L".dic", L"2009-01-01", L"DEF", 0},
                                                  {L"ghi", L".dip", L"2009-01-01", L"GHI", 0}};
const uint32_t kDefSize = 3 * CHUNK_SIZE + 100;

std::vector<std::string> SealData() {
    return {test::PatternBytes(10, 1), test::PatternBytes(kDefSize, 2), test::PatternBytes(5, 3)};
}

char& DataByte(std::string& bytes, size_t entry, uint32_t at) {
    return bytes[HeaderOf(bytes).dataBase + RecordOf(bytes, entry).dataOffset + at];
}

PackageSealTrailer& SealTrailerOf(std::string& bytes) {
    return *reinterpret_cast<PackageSealTrailer*>(&bytes[bytes.size() - PACKAGE_SEAL_TRAILER_SIZE]);
}

size_t SealStartOf(const std::string& bytes, size_t count) {
    return bytes.size() - static_cast<size_t>(PackageSealSize(count));
}

struct SealedCase {
    const char* name;
    void (*change)(std::string&);  // applied to the sealed package of kSealSpecs
    const char* reason;            // verify's error line; empty: verify says ok
    const char* listed;            // what list says about the seal; null: list refuses as verify does
};

const char* const kWholeSeal = "sealed: the SHA-256 of the header, the directory and every entry follows the data";
const char* const kHeaderDiffers = "the header does not match the seal: damaged since it was sealed";
const char* const kDirectoryDiffers = "the directory (its ids, extensions, dates, names or places of the entries) does "
                                      "not match the seal: damaged since it was sealed";

class DictPackSealedVerifyTest : public ::testing::TestWithParam<SealedCase> {};

TEST_P(DictPackSealedVerifyTest, NamesEveryEntryUnlikeItsSeal) {
    TempDir dir;
    std::string bytes = BuildSealedPackage(kSealSpecs, SealData());
    GetParam().change(bytes);
    const std::wstring package = dir / L"p.dir";
    ASSERT_TRUE(WriteFileBytes(package, bytes));
    const RunResult verify = RunDictPack({L"verify", package});
    const RunResult list = RunDictPack({L"list", package});
    const std::string reason = GetParam().reason;
    if (reason.empty()) {
        EXPECT_EQ(verify.code, 0u) << verify.err;
        EXPECT_EQ(verify.out, "ok\n");
        EXPECT_EQ(verify.err, "");
    } else {
        EXPECT_EQ(verify.code, 1u);
        EXPECT_EQ(verify.out, "");
        EXPECT_NE(verify.err.find(reason), std::string::npos) << verify.err;
        EXPECT_EQ(std::count(verify.err.begin(), verify.err.end(), '\n'), 1) << verify.err;
    }
    if (GetParam().listed == nullptr) {
        EXPECT_EQ(list.code, 1u);
        EXPECT_EQ(list.err, verify.err);
    } else {
        EXPECT_EQ(list.code, 0u) << list.err;
        EXPECT_NE(list.out.find(std::string("\n") + GetParam().listed + "\n"), std::string::npos) << list.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, DictPackSealedVerifyTest,
    ::testing::Values(
        SealedCase{"sound", [](std::string&) {}, "", kWholeSeal},
        SealedCase{"unsealed", [](std::string& b) { b = BuildPackage(kSealSpecs, SealData()); }, "", "not sealed"},
        SealedCase{"old_seal_of_the_entries_only",
                   [](std::string& b) { b = BuildEntriesOnlySealedPackage(kSealSpecs, SealData()); }, "",
                   "sealed (old seal, of the entries only; dictpack seal renews it): the SHA-256 of every entry follows "
                   "its data"},
        // One changed byte in the header or in what a record says of its entry.
        SealedCase{"header_byte", [](std::string& b) { b[12] ^= 0x01; }, kHeaderDiffers, nullptr},
        SealedCase{"record_id_byte", [](std::string& b) { RecordOf(b, 1).dictId[0] ^= 0x01; }, kDirectoryDiffers, nullptr},
        SealedCase{"record_extension_byte", [](std::string& b) { RecordOf(b, 1).fileExt[1] ^= 0x01; }, kDirectoryDiffers,
                   nullptr},
        SealedCase{"record_date_byte", [](std::string& b) { RecordOf(b, 1).dateText[3] ^= 0x01; }, kDirectoryDiffers,
                   nullptr},
        SealedCase{"record_display_name_byte", [](std::string& b) { RecordOf(b, 1).displayName[0] ^= 0x01; },
                   kDirectoryDiffers, nullptr},
        SealedCase{"header_digest_byte", [](std::string& b) { b[b.size() - PACKAGE_SEAL_TRAILER_SIZE - 64] ^= 0x01; },
                   kHeaderDiffers, nullptr},
        SealedCase{"directory_digest_byte",
                   [](std::string& b) { b[b.size() - PACKAGE_SEAL_TRAILER_SIZE - 1] ^= 0x01; }, kDirectoryDiffers,
                   nullptr},
        SealedCase{"byte_in_the_first_chunk", [](std::string& b) { DataByte(b, 1, 0) ^= 0x01; },
                   "entry 1 (def.dic) does not match the seal", kWholeSeal},
        SealedCase{"byte_in_a_middle_chunk", [](std::string& b) { DataByte(b, 1, CHUNK_SIZE + 1000) ^= 0x80; },
                   "entry 1 (def.dic) does not match the seal", kWholeSeal},
        SealedCase{"byte_in_the_last_chunk", [](std::string& b) { DataByte(b, 1, kDefSize - 1) ^= 0x01; },
                   "entry 1 (def.dic) does not match the seal", kWholeSeal},
        SealedCase{"zeroed_block",
                   [](std::string& b) { std::memset(&DataByte(b, 1, CHUNK_SIZE), 0, CHUNK_SIZE); },
                   "entry 1 (def.dic) does not match the seal", kWholeSeal},
        SealedCase{"two_entries",
                   [](std::string& b) {
                       DataByte(b, 0, 9) ^= 0x01;
                       DataByte(b, 2, 0) ^= 0x01;
                   },
                   "entries 0 (abc.dic), 2 (ghi.dip) do not match the seal",
                   kWholeSeal},
        SealedCase{"digest_damaged", [](std::string& b) { b[SealStartOf(b, 3) + 2 * SHA256_DIGEST_SIZE + 31] ^= 0x01; },
                   "entry 2 (ghi.dip) does not match the seal", kWholeSeal},
        SealedCase{"wrong_count", [](std::string& b) { SealTrailerOf(b).entryCount = 2; },
                   "damaged seal: it counts 2 entries, the directory has 3", nullptr},
        SealedCase{"wrong_size", [](std::string& b) { SealTrailerOf(b).sealSize = 80; },
                   "damaged seal: its size says 80 bytes, 3 entries make 176", nullptr},
        SealedCase{"cut_short", [](std::string& b) { b.erase(SealStartOf(b, 3), SHA256_DIGEST_SIZE); },
                   "damaged seal: entry 1's data runs into it", nullptr},
        SealedCase{"cut_short_with_empty_entries",
                   [](std::string& b) {
                       b = BuildSealedPackage(kSealSpecs, {"", "", ""});
                       b.erase(SealStartOf(b, 3), 2 * SHA256_DIGEST_SIZE);
                   },
                   "damaged seal: cut short: it needs 176 bytes, 112 lie behind the directory", nullptr},
        SealedCase{"entry_reaching_into_it", [](std::string& b) { RecordOf(b, 2).dataSize += 1; },
                   "damaged seal: entry 2's data runs into it", nullptr}),
    [](const ::testing::TestParamInfo<SealedCase>& info) { return std::string(info.param.name); });

struct SealCommandCase {
    const char* name;
    std::string (*before)();
    std::string (*after)();  // null: the file stays as it was
    DWORD code;
    const char* message;  // part of stdout on success, of the one stderr line on failure
};

std::string SealedOf(const std::string& unsealed, std::vector<std::string> data) {
    std::vector<EntryDigest> digests;
    for (const std::string& entry : data) digests.push_back(Sha256Of(entry));
    return unsealed + BuildPackageSeal(unsealed, digests);
}

class DictPackSealCommandTest : public ::testing::TestWithParam<SealCommandCase> {};

// seal appends the seal behind whatever the package holds, leaves a sound seal alone and
// refuses a damaged package without touching it; never a .part file left behind.
TEST_P(DictPackSealCommandTest, SealsInPlaceOrRefuses) {
    TempDir dir;
    const std::wstring package = dir / L"p.dir";
    const std::string before = GetParam().before();
    ASSERT_TRUE(WriteFileBytes(package, before));
    const RunResult seal = RunDictPack({L"seal", package});
    EXPECT_EQ(seal.code, GetParam().code) << seal.err;
    EXPECT_NE((seal.code == 0 ? seal.out : seal.err).find(GetParam().message), std::string::npos) << seal.out << seal.err;
    if (seal.code != 0) {
        EXPECT_EQ(std::count(seal.err.begin(), seal.err.end(), '\n'), 1) << seal.err;
    }
    EXPECT_TRUE(ReadFileBytes(package) == (GetParam().after ? GetParam().after() : before));
    EXPECT_FALSE(FileExists(package + L".part"));
    if (seal.code != 0) return;
    EXPECT_EQ(RunDictPack({L"verify", package}).out, "ok\n");
    EXPECT_NE(ListingOf(package).find("\nsealed: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, DictPackSealCommandTest,
    ::testing::Values(
        SealCommandCase{"old_unsealed_package", [] { return BuildPackage(kSealSpecs, SealData()); },
                        [] { return BuildSealedPackage(kSealSpecs, SealData()); }, 0, "sealed "},
        SealCommandCase{"bytes_behind_the_last_entry",
                        [] { return BuildPackage(kSealSpecs, SealData()) + "trailing notes"; },
                        [] { return SealedOf(BuildPackage(kSealSpecs, SealData()) + "trailing notes", SealData()); }, 0,
                        "sealed "},
        SealCommandCase{"no_entries", [] { return BuildPackageDirectory({}); },
                        [] { return BuildSealedPackage({}, {}); }, 0, "(0 entries)"},
        SealCommandCase{"already_sealed", [] { return BuildSealedPackage(kSealSpecs, SealData()); }, nullptr, 0,
                        "is already sealed and every entry matches its seal"},
        SealCommandCase{"old_seal_of_the_entries_only",
                        [] { return BuildEntriesOnlySealedPackage(kSealSpecs, SealData()); },
                        [] { return BuildSealedPackage(kSealSpecs, SealData()); }, 0,
                        "resealed " /* the new seal covers the header and directory too */},
        SealCommandCase{"old_seal_with_a_damaged_entry",
                        [] {
                            std::string b = BuildEntriesOnlySealedPackage(kSealSpecs, SealData());
                            DataByte(b, 0, 0) ^= 0x01;
                            return b;
                        },
                        nullptr, 1, "entry 0 (abc.dic) does not match the seal"},
        SealCommandCase{"sealed_with_a_damaged_entry",
                        [] {
                            std::string b = BuildSealedPackage(kSealSpecs, SealData());
                            DataByte(b, 1, CHUNK_SIZE) ^= 0x01;
                            return b;
                        },
                        nullptr, 1, "entry 1 (def.dic) does not match the seal: damaged since it was sealed; not sealed again"},
        SealCommandCase{"damaged_seal",
                        [] {
                            std::string b = BuildSealedPackage(kSealSpecs, SealData());
                            SealTrailerOf(b).entryCount = 7;
                            return b;
                        },
                        nullptr, 1, "damaged seal: it counts 7 entries"},
        SealCommandCase{"entry_outside_the_file",
                        [] {
                            std::string b = BuildPackage(kSealSpecs, SealData());
                            RecordOf(b, 2).dataSize = 500;
                            return b;
                        },
                        nullptr, 1, "entry 2: data lies outside the file"},
        SealCommandCase{"not_a_package", [] { return std::string(64, 'x'); }, nullptr, 1, "wrong magic"}),
    [](const ::testing::TestParamInfo<SealCommandCase>& info) { return std::string(info.param.name); });

}  // namespace
