// The seal: an optional block behind the last entry's data that holds the SHA-256 of every
// entry, so that a reader can tell a package's bytes are the ones its maker wrote. Nothing
// else in the format reads past the entries' data, so readers that do not know the seal are
// unaffected, and a package without one reads exactly as before.
//
//   offset from the seal's start   size          content
//   0                              32 x count    SHA-256 of entry 0, 1, ... in directory order
//   32 x count                     4             count: the number of directory records (u32)
//   32 x count + 4                 4             the seal's own size, 32 x count + 16 (u32)
//   32 x count + 8                 8             the magic "QBSEAL01"
//
// A reader finds it from the end of the file: the last 8 bytes are the magic. A seal whose
// count is not the directory's, whose size is not 32 x count + 16, that does not fit the file
// behind the directory, or that starts before an entry's data ends is damaged, and so is the
// package.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t SHA256_DIGEST_SIZE = 32;
using EntryDigest = std::array<uint8_t, SHA256_DIGEST_SIZE>;

constexpr char PACKAGE_SEAL_MAGIC[8] = {'Q', 'B', 'S', 'E', 'A', 'L', '0', '1'};
constexpr uint32_t PACKAGE_SEAL_TRAILER_SIZE = 16;

#pragma pack(push, 1)
struct PackageSealTrailer {
    uint32_t entryCount;
    uint32_t sealSize;
    char magic[8];
};
#pragma pack(pop)
static_assert(sizeof(PackageSealTrailer) == PACKAGE_SEAL_TRAILER_SIZE, "seal trailer is 16 bytes");

// The size a seal of count entries has, in 64 bits so that no count wraps it.
inline uint64_t PackageSealSize(uint64_t count) { return count * SHA256_DIGEST_SIZE + PACKAGE_SEAL_TRAILER_SIZE; }
inline bool HasSealMagic(const PackageSealTrailer& trailer) {
    for (size_t i = 0; i < sizeof trailer.magic; ++i)
        if (trailer.magic[i] != PACKAGE_SEAL_MAGIC[i]) return false;
    return true;
}
// The seal's bytes for these digests, to be appended behind the last entry's data.
std::string BuildPackageSeal(const std::vector<EntryDigest>& digests);

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
