// The dictionary package file: a 32-byte header, a directory of 184-byte records right
// behind it, and the entries' bytes stored unchanged wherever the records point.
// All integers are little-endian u32 and all texts UTF-16LE, which is also the in-memory
// layout on every platform this builds for (x86), so records are read as they lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t PACKAGE_MAGIC = 0x70653031;  // "10ep" in file order
constexpr uint32_t PACKAGE_ACCEPTED_VERSION = 1;
constexpr uint32_t PACKAGE_HEADER_SIZE = 32;
constexpr uint32_t PACKAGE_RECORD_SIZE = 184;
// File positions are signed 32-bit in the format: no entry may reach past this.
constexpr int64_t PACKAGE_MAX_POSITION = 0x7FFFFFFF;
// The unit in which entries are copied and progress is counted.
constexpr uint32_t CHUNK_SIZE = 2048;

constexpr size_t DICT_ID_UNITS = 32;
constexpr size_t DATE_TEXT_UNITS = 16;
constexpr size_t FILE_EXT_UNITS = 8;
constexpr size_t DISPLAY_NAME_UNITS = 32;

#pragma pack(push, 1)
struct PackageHeader {
    uint32_t magic;
    uint32_t reserved1;
    uint32_t version1;
    uint32_t version2;
    uint32_t reserved4;
    uint32_t recordSize;
    uint32_t recordCount;
    uint32_t dataBase;
};

struct PackageDirRecord {
    uint32_t dataOffset;
    uint32_t dataSize;
    char16_t dictId[DICT_ID_UNITS];
    char16_t dateText[DATE_TEXT_UNITS];
    char16_t fileExt[FILE_EXT_UNITS];
    char16_t displayName[DISPLAY_NAME_UNITS];
};
#pragma pack(pop)

static_assert(sizeof(PackageHeader) == PACKAGE_HEADER_SIZE, "package header is 32 bytes");
static_assert(sizeof(PackageDirRecord) == PACKAGE_RECORD_SIZE, "directory record is 184 bytes");

// Either version field may carry the accepted version; the other may hold anything.
inline bool IsAcceptedHeader(const PackageHeader& header) {
    return header.magic == PACKAGE_MAGIC &&
           (header.version1 == PACKAGE_ACCEPTED_VERSION || header.version2 == PACKAGE_ACCEPTED_VERSION);
}

// A text field ends at its first NUL, or at its width when it holds none: never in the
// next field. Code units are taken one for one.
template <size_t N>
std::wstring FieldText(const char16_t (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length] != 0) ++length;
    return std::wstring(field, field + length);
}

// Writes text into a field, cut to leave room for the NUL; the rest is zero-filled.
template <size_t N>
void SetFieldText(char16_t (&field)[N], const std::wstring& text) {
    size_t i = 0;
    for (; i < text.size() && i + 1 < N; ++i) field[i] = static_cast<char16_t>(text[i]);
    for (; i < N; ++i) field[i] = 0;
}

