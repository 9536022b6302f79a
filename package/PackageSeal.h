// The seal: an optional block behind the last entry's data that holds the SHA-256 of every
// entry and, since its second version, of the header and the directory, so that a reader can
// tell a package's bytes are the ones its maker wrote. Nothing else in the format reads past
// the entries' data, so readers that do not know the seal are unaffected, and a package
// without one reads exactly as before.
//
// Version 2 ("QBSEAL02"), the one written today:
//   offset from the seal's start   size          content
//   0                              32 x count    SHA-256 of entry 0, 1, ... in directory order
//   32 x count                     32            SHA-256 of the 32-byte header
//   32 x count + 32                32            SHA-256 of the directory (count x 184 bytes)
//   32 x count + 64                4             count: the number of directory records (u32)
//   32 x count + 68                4             the seal's own size, 32 x count + 80 (u32)
//   32 x count + 72                8             the magic "QBSEAL02"
// Version 1 ("QBSEAL01"), still read: the entries' digests, then count, size (32 x count + 16)
// and magic, without the two digests of the header and the directory.
//
// A reader finds it from the end of the file: the last 8 bytes are one of the magics. A seal
// whose count is not the directory's, whose size is not its version's, that does not fit the
// file behind the directory, or that starts before an entry's data ends is damaged, and so is
// the package; so is a package whose header or directory differs from a version 2 seal.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageFormat.h"

constexpr size_t SHA256_DIGEST_SIZE = 32;
using EntryDigest = std::array<uint8_t, SHA256_DIGEST_SIZE>;

// No seal, a seal of the entries only, a seal of the whole package.
constexpr uint32_t PACKAGE_SEAL_NONE = 0;
constexpr uint32_t PACKAGE_SEAL_ENTRIES = 1;
constexpr uint32_t PACKAGE_SEAL_WHOLE = 2;
constexpr char PACKAGE_SEAL_ENTRIES_MAGIC[8] = {'Q', 'B', 'S', 'E', 'A', 'L', '0', '1'};
constexpr char PACKAGE_SEAL_WHOLE_MAGIC[8] = {'Q', 'B', 'S', 'E', 'A', 'L', '0', '2'};
constexpr uint32_t PACKAGE_SEAL_TRAILER_SIZE = 16;
// The header's and the directory's digests in front of a whole seal's trailer.
constexpr uint32_t PACKAGE_SEAL_WHOLE_EXTRA = 2 * 32;

#pragma pack(push, 1)
struct PackageSealTrailer {
    uint32_t entryCount;
    uint32_t sealSize;
    char magic[8];
};
#pragma pack(pop)
static_assert(sizeof(PackageSealTrailer) == PACKAGE_SEAL_TRAILER_SIZE, "seal trailer is 16 bytes");

// The size a seal of count entries has, in 64 bits so that no count wraps it.
inline uint64_t PackageSealSize(uint64_t count, uint32_t version = PACKAGE_SEAL_WHOLE) {
    return count * SHA256_DIGEST_SIZE + (version == PACKAGE_SEAL_WHOLE ? PACKAGE_SEAL_WHOLE_EXTRA : 0) +
           PACKAGE_SEAL_TRAILER_SIZE;
}
// The seal version the trailer's magic names; PACKAGE_SEAL_NONE for any other bytes.
uint32_t SealVersionOf(const PackageSealTrailer& trailer);
inline bool HasSealMagic(const PackageSealTrailer& trailer) { return SealVersionOf(trailer) != PACKAGE_SEAL_NONE; }

// What a whole seal holds besides the entries' digests.
struct PackageFrameDigests {
    EntryDigest header{};
    EntryDigest directory{};
};
// False when hashing failed.
bool HashPackageFrame(const PackageHeader& header, const std::vector<PackageDirRecord>& records,
                      PackageFrameDigests& digests);

// The seal's bytes, to be appended behind the last entry's data: a whole seal of this header
// and directory and these entry digests. Empty when hashing failed.
std::string BuildPackageSeal(const PackageHeader& header, const std::vector<PackageDirRecord>& records,
                             const std::vector<EntryDigest>& digests);
// The same for a package's bytes that start with its header and whole directory.
std::string BuildPackageSeal(const std::string& headerAndDirectory, const std::vector<EntryDigest>& digests);
// A seal of the first version, of the entries only, as older tools wrote it.
std::string BuildEntriesOnlySeal(const std::vector<EntryDigest>& digests);

// SHA-256 through the platform's own implementation: Windows CNG in the Windows build,
// OpenSSL's libcrypto in the native one.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // False once anything failed; the digest is then worthless.
    bool Update(const void* data, size_t count);
    bool Finish(EntryDigest& digest);

private:
    struct State;
    State* m_state;
    bool m_failed = false;
};

EntryDigest Sha256Of(const std::string& bytes);

#ifdef _WIN32
#include <windows.h>

// The library that provides SHA-256 on Windows (CNG).
#define SHA256_PROVIDER_LIBRARY L"bcrypt.dll"

using SystemLibraryLoader = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
// Loads one of Windows' own libraries from the system folder only: through
// LOAD_LIBRARY_SEARCH_SYSTEM32 where Windows knows the flag, else by its full path in the
// system folder. loadEx stands for LoadLibraryExW. Null with the loader's error code.
HMODULE LoadSystemLibrary(const wchar_t* fileName, SystemLibraryLoader loadEx = LoadLibraryExW);
#endif
