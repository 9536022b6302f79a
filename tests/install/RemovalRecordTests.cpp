// The removal record's file as later builds read it: what a setup did to each file survives a
// write and a read, records that earlier builds left on machines keep their meaning, and a
// pending mark joins the record without naming a file twice.
#include <gtest/gtest.h>

#include "install/RecordRemoval.h"
#include "install/RemovalRecord.h"
#include "tests/support/TestSupport.h"

namespace {

const std::wstring DIGEST(64, L'a');

std::string Utf16File(const std::wstring& text) {
    const std::wstring whole = L"\xFEFF" + text;
    return std::string(reinterpret_cast<const char*>(whole.data()), whole.size() * sizeof(wchar_t));
}

std::wstring RecordText(const std::wstring& entryLines) {
    return std::wstring(RECORD_SIGNATURE) + L"\r\nsetup=acme\r\nname=\r\npublisher=\r\n" + entryLines;
}

std::wstring EntryLine(const wchar_t* name, const std::wstring& tail) {
    return std::wstring(L"entry=") + name + L"\t5\t" + DIGEST + L"\tabc\t-\t2024-05-01\tABC" + tail + L"\r\n";
}

RecordedEntry Entry(const wchar_t* name, Ownership ownership, uint8_t firstByte) {
    RecordedEntry entry;
    entry.targetName = name;
    entry.size = 5;
    entry.sha[0] = firstByte;
    entry.dictId = L"abc";
    entry.dateText = L"2024-05-01";
    entry.ownership = ownership;
    return entry;
}

TEST(RemovalRecordFile, OwnershipOfEachLineAsEveryBuildWroteIt) {
    struct Case {
        const char* name;
        const wchar_t* tail;
        Ownership ownership;
    } cases[] = {
        // Written before ownership was kept: the setup counted every file as its own.
        {"no ownership (an earlier build's record)", L"", Ownership::New},
        {"new", L"\tnew", Ownership::New},
        {"replaced", L"\treplaced", Ownership::Replaced},
        {"found", L"\tfound", Ownership::Found},
        // A later build's word: never lets a file go.
        {"a word not known", L"\tborrowed", Ownership::Found},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir(L"record");
        const std::wstring folder = dir.path() + L"\\";
        ASSERT_TRUE(test::WriteFileBytes(folder + RECORD_FILE_NAME, Utf16File(RecordText(EntryLine(L"abc.dic", c.tail)))));
        RemovalRecord record;
        ASSERT_TRUE(ReadRemovalRecord(folder, record));
        ASSERT_EQ(record.entries.size(), 1u);
        EXPECT_EQ(record.entries[0].ownership, c.ownership);
        EXPECT_EQ(record.entries[0].displayName, L"ABC");
    }
}

TEST(RemovalRecordFile, WrittenAndReadBackWithItsOwnershipAndPendingMark) {
    test::TempDir dir(L"record");
    const std::wstring folder = dir.path() + L"\\";
    RemovalRecord record;
    record.setupId = L"acme";
    record.entries = {Entry(L"abc.dic", Ownership::New, 1), Entry(L"abd.dic", Ownership::Replaced, 2),
                      Entry(L"abe.dic", Ownership::Found, 3)};
    DWORD error = ERROR_SUCCESS;
    ASSERT_TRUE(WriteRemovalRecord(folder, record, error)) << error;
    RemovalRecord read;
    ASSERT_TRUE(ReadRemovalRecord(folder, read));
    ASSERT_EQ(read.entries.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read.entries[i].ownership, record.entries[i].ownership) << i;
        EXPECT_EQ(read.entries[i].sha, record.entries[i].sha) << i;
    }

    // An empty mark, as earlier builds made it, names nothing; a written one joins the record,
    // a file of the same bytes once, the same name of other bytes beside it.
    ASSERT_TRUE(test::WriteFileBytes(folder + RECORD_PENDING_NAME, ""));
    RemovalRecord claims;
    EXPECT_FALSE(ReadPendingRecord(folder, claims));
    ASSERT_TRUE(ReadSetupClaims(folder, claims));
    EXPECT_EQ(claims.entries.size(), 3u);
    RemovalRecord pending;
    pending.setupId = L"acme";
    pending.entries = {Entry(L"abc.dic", Ownership::New, 1), Entry(L"abc.dic", Ownership::New, 9),
                       Entry(L"xyz.dic", Ownership::New, 4)};
    ASSERT_TRUE(WritePendingRecord(folder, pending, error)) << error;
    ASSERT_TRUE(ReadSetupClaims(folder, claims));
    ASSERT_EQ(claims.entries.size(), 5u);
    EXPECT_EQ(claims.entries[3].sha[0], 9);
    EXPECT_EQ(claims.entries[4].targetName, L"xyz.dic");

    // A folder with only the mark (an install cut off before its first record) names what it placed.
    DeleteFileW((folder + RECORD_FILE_NAME).c_str());
    ASSERT_TRUE(ReadSetupClaims(folder, claims));
    EXPECT_EQ(claims.setupId, L"acme");
    EXPECT_EQ(claims.entries.size(), 3u);
}

}  // namespace
