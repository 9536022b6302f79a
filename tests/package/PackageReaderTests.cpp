#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "base/ScopedWin.h"
#include "package/PackageReader.h"
#include "package/PackageSeal.h"
#include "package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace {

using test::TempDir;
using test::WriteFileBytes;

PackageHeader& HeaderOf(std::string& bytes) { return *reinterpret_cast<PackageHeader*>(&bytes[0]); }
PackageDirRecord& RecordOf(std::string& bytes, size_t i) {
    return *reinterpret_cast<PackageDirRecord*>(&bytes[PACKAGE_HEADER_SIZE + i * PACKAGE_RECORD_SIZE]);
}

std::string OnePackage(size_t size) {
    return BuildPackage({{L"abc", L".dic", L"2009-01-01", L"ABC", 0}}, {test::PatternBytes(size, 1)});
}

struct HeaderCase {
    const char* name;
    void (*change)(std::string&);
    bool accepted;
};

class PackageHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PackageHeaderTest, AcceptanceRule) {
    TempDir dir;
    std::string bytes = OnePackage(10);
    GetParam().change(bytes);
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    CPackageReader reader;
    EXPECT_EQ(reader.Open((dir / L"p.dir").c_str()), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PackageHeaderTest,
    ::testing::Values(
        HeaderCase{"sound", [](std::string&) {}, true},
        HeaderCase{"v1_1_v2_7", [](std::string& b) { HeaderOf(b).version1 = 1; HeaderOf(b).version2 = 7; }, true},
        HeaderCase{"v1_2_v2_1", [](std::string& b) { HeaderOf(b).version1 = 2; HeaderOf(b).version2 = 1; }, true},
        HeaderCase{"both_2", [](std::string& b) { HeaderOf(b).version1 = 2; HeaderOf(b).version2 = 2; }, false},
        HeaderCase{"both_0", [](std::string& b) { HeaderOf(b).version1 = 0; HeaderOf(b).version2 = 0; }, false},
        HeaderCase{"magic_swapped", [](std::string& b) { std::memcpy(&b[0], "\x70\x65\x30\x31", 4); }, false},
        HeaderCase{"31_bytes", [](std::string& b) { b.resize(31); }, false},
        HeaderCase{"directory_cut_in_last_record", [](std::string& b) { b.resize(PACKAGE_HEADER_SIZE + 100); }, false},
        HeaderCase{"record_size_183", [](std::string& b) { HeaderOf(b).recordSize = 183; }, false},
        HeaderCase{"record_size_200", [](std::string& b) { HeaderOf(b).recordSize = 200; }, false},
        HeaderCase{"record_count_huge", [](std::string& b) { HeaderOf(b).recordCount = 0xFFFFFFFF; }, false}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

TEST(PackageReaderTest, OpenRefusesMissingPathsAndFiles) {
    CPackageReader reader;
    EXPECT_FALSE(reader.Open(nullptr));
    EXPECT_FALSE(reader.Open(L""));
    EXPECT_FALSE(reader.Open(L"C:\\no\\such\\package.dir"));
}

TEST(PackageReaderTest, EmptyDirectoryOpensAndHasNoEntries) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", BuildPackageDirectory({})));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    EXPECT_TRUE(reader.records().empty());
    char buffer[8];
    uint32_t count = sizeof buffer;
    EXPECT_FALSE(reader.SeekToEntry(0));
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), -1);
}

struct ChunkCase {
    uint32_t size;
    std::vector<std::pair<int, uint32_t>> reads;  // result and count of each ReadChunk(2048)
};

class PackageChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(PackageChunkTest, ReadsEntryInChunks) {
    TempDir dir;
    const std::string data = test::PatternBytes(GetParam().size, 7);
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", BuildPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}},
                                                             {"lead", data})));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    ASSERT_TRUE(reader.SeekToEntry(1));
    std::string got;
    for (const auto& expected : GetParam().reads) {
        char buffer[CHUNK_SIZE];
        uint32_t count = CHUNK_SIZE;
        EXPECT_EQ(reader.ReadChunk(1, buffer, count), expected.first);
        EXPECT_EQ(count, expected.second);
        got.append(buffer, count);
    }
    EXPECT_EQ(got, data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PackageChunkTest,
                         ::testing::Values(ChunkCase{0, {{0, 0}}}, ChunkCase{1, {{0, 1}}},
                                           ChunkCase{2048, {{0, 2048}}},
                                           ChunkCase{4096, {{1, 2048}, {0, 2048}}},
                                           ChunkCase{4097, {{1, 2048}, {1, 2048}, {0, 1}}}));

TEST(PackageReaderTest, OverlappingEntriesReadAsTheirRecordsSay) {
    TempDir dir;
    std::string bytes = BuildPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}},
                                     {"0123456789", ""});
    RecordOf(bytes, 1).dataOffset = 4;
    RecordOf(bytes, 1).dataSize = 4;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    char buffer[16];
    uint32_t count = sizeof buffer;
    ASSERT_TRUE(reader.SeekToEntry(1));
    EXPECT_EQ(reader.ReadChunk(1, buffer, count), 0);
    EXPECT_EQ(std::string(buffer, count), "4567");
    count = sizeof buffer;
    ASSERT_TRUE(reader.SeekToEntry(0));
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), 0);
    EXPECT_EQ(std::string(buffer, count), "0123456789");
}

// Hostile positions: data behind the end of the file, entries that reach past 2^31 - 1,
// and reads continued behind an entry's end. None may write more than count bytes.
TEST(PackageReaderTest, HostilePositionsFailWithoutOverrun) {
    TempDir dir;
    std::string bytes = BuildPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0},
                                      {L"c", L".dic", L"", L"", 0}, {L"d", L".dic", L"", L"", 0}},
                                     {"abcd", "", "", ""});
    RecordOf(bytes, 1).dataOffset = 1000;  // behind the end of the file
    RecordOf(bytes, 1).dataSize = 1;
    RecordOf(bytes, 2).dataOffset = 0x7FFFFFF0;  // starts inside 2^31 but ends past it
    RecordOf(bytes, 2).dataSize = 0x20;
    RecordOf(bytes, 3).dataOffset = 0xFFFFFFF0;  // would wrap in 32 bits
    RecordOf(bytes, 3).dataSize = 0x20;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    uint32_t count = 4;
    ASSERT_TRUE(reader.SeekToEntry(1));
    EXPECT_EQ(reader.ReadChunk(1, buffer, count), -1);
    EXPECT_EQ(std::string(buffer + 4, 4), "xxxx");

    count = 4;
    EXPECT_EQ(reader.ReadChunk(2, buffer, count), -1);
    EXPECT_FALSE(reader.SeekToEntry(3));

    // Entry 0 read to its end, then read again without a seek: position lies behind the end.
    ASSERT_TRUE(reader.SeekToEntry(0));
    count = 8;
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), 0);
    EXPECT_EQ(count, 4u);
    count = 2;
    ASSERT_TRUE(reader.SeekToEntry(0));
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), 1);
    count = 2;
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), 0);
    count = 2;
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), 0);  // at the end exactly: nothing left
    EXPECT_EQ(count, 0u);
    reader.SeekToEntry(1);  // jump behind entry 0's end, then read entry 0
    count = 2;
    EXPECT_EQ(reader.ReadChunk(0, buffer, count), -1);
    EXPECT_EQ(reader.ReadChunk(9, buffer, count), -1);
}

TEST(PackageReaderTest, TextFieldsWithoutNulEndAtTheirWidth) {
    TempDir dir;
    std::string bytes = OnePackage(1);
    PackageDirRecord& record = RecordOf(bytes, 0);
    for (auto& unit : record.dictId) unit = u'i';
    for (auto& unit : record.dateText) unit = u'd';
    for (auto& unit : record.fileExt) unit = u'e';
    for (auto& unit : record.displayName) unit = u'n';
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    const PackageDirRecord& read = reader.records().at(0);
    EXPECT_EQ(FieldText(read.dictId), std::wstring(32, L'i'));
    EXPECT_EQ(FieldText(read.dateText), std::wstring(16, L'd'));
    EXPECT_EQ(FieldText(read.fileExt), std::wstring(8, L'e'));
    EXPECT_EQ(FieldText(read.displayName), std::wstring(32, L'n'));
}

TEST(PackageReaderTest, PackageStaysReadableAndWritableByOthersWhileOpen) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", OnePackage(10)));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    HANDLE other = CreateFileW((dir / L"p.dir").c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    reader.Close();
    EXPECT_TRUE(DeleteFileW((dir / L"p.dir").c_str()));  // closed: nothing holds it
}

}  // namespace

namespace {

// Reads the entry from its start in chunks of `chunk` bytes; the data read, or "" on a failure.
std::string ReadWhole(CPackageReader& reader, uint32_t index, uint32_t chunk) {
    if (!reader.SeekToEntry(index)) return "<seek failed>";
    std::string got;
    std::vector<char> buffer(chunk);
    for (;;) {
        uint32_t count = chunk;
        const int result = reader.ReadChunk(index, buffer.data(), count);
        if (result < 0) return "<read failed>";
        got.append(buffer.data(), count);
        if (result == 0) return got;
    }
}

}  // namespace

// Entries that start and end anywhere against the reader's internal blocks, read in any
// order, again, and in other chunk sizes, deliver exactly their bytes.
TEST(PackageReaderTest, EntriesAcrossReadAheadBlocksReadExactly) {
    TempDir dir;
    const uint32_t block = static_cast<uint32_t>(PACKAGE_READ_AHEAD_BYTES);
    const std::vector<uint32_t> sizes = {block - 1000, 3, block + 1, 0, 2 * block + 5000, 2049};
    std::vector<PackageEntrySpec> specs;
    std::vector<std::string> data;
    for (size_t i = 0; i < sizes.size(); ++i) {
        specs.push_back({L"e" + std::to_wstring(i), L".dic", L"", L"", 0});
        data.push_back(test::PatternBytes(sizes[i], static_cast<unsigned>(i + 3)));
    }
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", BuildPackage(specs, data)));
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"p.dir").c_str()));
    struct Read {
        uint32_t index;
        uint32_t chunk;
    } reads[] = {{0, 2048}, {1, 2048}, {2, 2048}, {3, 2048}, {4, 2048}, {5, 2048},  // in file order
                 {4, 2048}, {2, 2048}, {0, 2048}, {5, 2048},                        // backwards and again
                 {4, 1},    {2, 4093}, {0, 65536}};                                 // other chunk sizes
    for (const Read& r : reads) {
        SCOPED_TRACE(testing::Message() << "entry " << r.index << " chunk " << r.chunk);
        if (r.chunk == 1 && sizes[r.index] > 100000) {
            // One byte at a time, a stretch across the first block boundary.
            ASSERT_TRUE(reader.SeekToEntry(r.index));
            std::string got;
            for (uint32_t i = 0; i < 3 * block / 2; ++i) {
                char byte = 0;
                uint32_t count = 1;
                ASSERT_EQ(reader.ReadChunk(r.index, &byte, count), 1);
                got += byte;
            }
            EXPECT_TRUE(got == data[r.index].substr(0, got.size()));
            continue;
        }
        EXPECT_TRUE(ReadWhole(reader, r.index, r.chunk) == data[r.index]);
    }
}

// Without a seek, reading starts right behind the directory, as the file stands after Open;
// a file cut inside an entry delivers what is there and then fails.
TEST(PackageReaderTest, ReadsWithoutSeekAndCutFilesAsTheFileStands) {
    TempDir dir;
    const std::string data = test::PatternBytes(5000, 9);
    std::string bytes = BuildPackage({{L"a", L".dic", L"", L"", 0}}, {data});
    ASSERT_TRUE(WriteFileBytes(dir / L"whole.dir", bytes));
    ASSERT_TRUE(WriteFileBytes(dir / L"cut.dir", bytes.substr(0, bytes.size() - 1000)));
    {
        CPackageReader reader;
        ASSERT_TRUE(reader.Open((dir / L"whole.dir").c_str()));
        char buffer[CHUNK_SIZE];
        uint32_t count = CHUNK_SIZE;
        EXPECT_EQ(reader.ReadChunk(0, buffer, count), 1);
        EXPECT_EQ(std::string(buffer, count), data.substr(0, CHUNK_SIZE));
    }
    CPackageReader reader;
    ASSERT_TRUE(reader.Open((dir / L"cut.dir").c_str()));
    ASSERT_TRUE(reader.SeekToEntry(0));
    const struct {
        int result;
        uint32_t count;
    } expected[] = {{1, 2048}, {-1, 4000 - 2048}};
    std::string got;
    for (const auto& e : expected) {
        char buffer[CHUNK_SIZE];
        uint32_t count = CHUNK_SIZE;
        EXPECT_EQ(reader.ReadChunk(0, buffer, count), e.result);
        EXPECT_EQ(count, e.count);
        got.append(buffer, count);
    }
    EXPECT_TRUE(got == data.substr(0, 4000));
}

namespace {

// The seal lies behind the last entry's data and is found from the end of the file.
const std::vector<std::string> kSealedData = {test::PatternBytes(3000, 4), "0123456789"};

std::string SealedPackage() {
    return BuildSealedPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}}, kSealedData);
}

PackageSealTrailer& TrailerOf(std::string& bytes) {
    return *reinterpret_cast<PackageSealTrailer*>(&bytes[bytes.size() - PACKAGE_SEAL_TRAILER_SIZE]);
}

// The digests' first byte, where a seal cut short loses its bytes.
size_t SealStart(const std::string& bytes, size_t count) {
    return bytes.size() - static_cast<size_t>(PackageSealSize(count));
}

struct SealCase {
    const char* name;
    std::string (*build)();
    bool opens;
    bool sealed;
};

class PackageSealTest : public ::testing::TestWithParam<SealCase> {};

TEST_P(PackageSealTest, SoundSealsAreReadDamagedOnesRefused) {
    TempDir dir;
    const std::string bytes = GetParam().build();
    ASSERT_TRUE(WriteFileBytes(dir / L"p.dir", bytes));
    CPackageReader reader;
    ASSERT_EQ(reader.Open((dir / L"p.dir").c_str()), GetParam().opens);
    if (!GetParam().opens) return;
    EXPECT_EQ(reader.sealed(), GetParam().sealed);
    const PackageHeader& header = reader.header();
    if (GetParam().sealed) {
        for (uint32_t i = 0; i < reader.records().size(); ++i)
            EXPECT_TRUE(reader.digest(i) == Sha256Of(kSealedData[i])) << "entry " << i;
    }
    // Reading without a seek still starts right behind the directory.
    if (!reader.records().empty() && header.dataBase == PACKAGE_HEADER_SIZE + header.recordCount * PACKAGE_RECORD_SIZE) {
        char buffer[16];
        uint32_t count = sizeof buffer;
        EXPECT_EQ(reader.ReadChunk(0, buffer, count), 1);
        EXPECT_EQ(std::string(buffer, count), kSealedData[0].substr(0, sizeof buffer));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Seals, PackageSealTest,
    ::testing::Values(
        SealCase{"sound", [] { return SealedPackage(); }, true, true},
        SealCase{"unsealed",
                 [] { return BuildPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}}, kSealedData); },
                 true, false},
        SealCase{"no_entries", [] { return BuildSealedPackage({}, {}); }, true, true},
        SealCase{"old_seal_of_the_entries_only",
                 [] {
                     return BuildEntriesOnlySealedPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}},
                                                          kSealedData);
                 },
                 true, true},
        // The whole seal covers the header and the directory: one changed byte in either,
        // or in their digests, and the package is refused.
        SealCase{"header_changed",
                 [] {
                     std::string b = SealedPackage();
                     HeaderOf(b).reserved4 ^= 1;
                     return b;
                 },
                 false, false},
        SealCase{"record_changed",
                 [] {
                     std::string b = SealedPackage();
                     RecordOf(b, 1).dateText[0] = u'9';
                     return b;
                 },
                 false, false},
        SealCase{"directory_digest_changed",
                 [] {
                     std::string b = SealedPackage();
                     b[b.size() - PACKAGE_SEAL_TRAILER_SIZE - 1] ^= 1;
                     return b;
                 },
                 false, false},
        SealCase{"wrong_count",
                 [] {
                     std::string b = SealedPackage();
                     TrailerOf(b).entryCount = 1;
                     return b;
                 },
                 false, false},
        SealCase{"count_that_would_overflow",
                 [] {
                     std::string b = SealedPackage();
                     TrailerOf(b).entryCount = 0x08000000;  // 32 x count wraps to 0 in 32 bits
                     TrailerOf(b).sealSize = PACKAGE_SEAL_TRAILER_SIZE;
                     return b;
                 },
                 false, false},
        SealCase{"wrong_size",
                 [] {
                     std::string b = SealedPackage();
                     TrailerOf(b).sealSize += SHA256_DIGEST_SIZE;
                     return b;
                 },
                 false, false},
        SealCase{"cut_short_into_the_data",
                 [] {
                     std::string b = SealedPackage();
                     return b.erase(SealStart(b, 2), SHA256_DIGEST_SIZE);
                 },
                 false, false},
        SealCase{"cut_short_into_the_directory",
                 [] {
                     std::string b = BuildSealedPackage({{L"a", L".dic", L"", L"", 0}, {L"b", L".dic", L"", L"", 0}}, {"", ""});
                     return b.erase(SealStart(b, 2), SHA256_DIGEST_SIZE + 8);
                 },
                 false, false},
        SealCase{"entry_data_reaching_into_it",
                 [] {
                     std::string b = SealedPackage();
                     RecordOf(b, 1).dataSize += 1;
                     return b;
                 },
                 false, false},
        // A seal is looked for behind the directory only: these directory bytes that look
        // like one are a record's display name.
        SealCase{"trailer_inside_the_directory",
                 [] {
                     std::string b = BuildPackage({{L"a", L".dic", L"", L"", 0}}, {""});
                     HeaderOf(b).dataBase = 0;
                     const std::string seal = BuildEntriesOnlySeal({Sha256Of("")});
                     b.replace(b.size() - seal.size(), seal.size(), seal);
                     return b;
                 },
                 true, false}),
    [](const ::testing::TestParamInfo<SealCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Stands for LoadLibraryExW on a Windows that does not know LOAD_LIBRARY_SEARCH_SYSTEM32 (7
// without KB2533623): it refuses the flag as that Windows does, and loads anything else.
std::vector<std::pair<std::wstring, DWORD>> g_loads;
HMODULE WINAPI LoaderWithoutSearchFlags(LPCWSTR name, HANDLE file, DWORD flags) {
    g_loads.emplace_back(name, flags);
    if (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryExW(name, file, flags);
}

HMODULE WINAPI RecordingLoader(LPCWSTR name, HANDLE file, DWORD flags) {
    g_loads.emplace_back(name, flags);
    return LoadLibraryExW(name, file, flags);
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

}  // namespace

// The hash provider is taken from the system folder whether or not Windows knows the
// system-folder-only flag, and works the same either way.
TEST(SystemLibraryTest, LoadsTheSystemCopyWithOrWithoutTheSearchFlag) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring systemCopy = std::wstring(system, length) + L"\\" SHA256_PROVIDER_LIBRARY;
    struct Case {
        const char* name;
        SystemLibraryLoader loader;
        std::vector<std::pair<std::wstring, DWORD>> loads;
    } cases[] = {
        {"flag known", RecordingLoader, {{SHA256_PROVIDER_LIBRARY, LOAD_LIBRARY_SEARCH_SYSTEM32}}},
        {"flag refused", LoaderWithoutSearchFlags,
         {{SHA256_PROVIDER_LIBRARY, LOAD_LIBRARY_SEARCH_SYSTEM32}, {systemCopy, LOAD_WITH_ALTERED_SEARCH_PATH}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_loads.clear();
        qb::ScopedLibrary module(LoadSystemLibrary(SHA256_PROVIDER_LIBRARY, c.loader));
        ASSERT_TRUE(module);
        EXPECT_EQ(g_loads, c.loads);
        EXPECT_EQ(CompareStringOrdinal(ModulePath(module.get()).c_str(), -1, systemCopy.c_str(), -1, TRUE), CSTR_EQUAL)
            << test::Utf8(ModulePath(module.get()));
        EXPECT_NE(GetProcAddress(module.get(), "BCryptHashData"), nullptr);
    }
}
