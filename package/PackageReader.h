// One open dictionary package: its header, its whole directory, and its entries handed
// out chunk by chunk. A package is untrusted input; every position is checked in 64 bits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "package/PackageFormat.h"
#include "package/PackageSeal.h"

// Entry data is read ahead in blocks of this size, so a 2048-byte chunk seldom costs a read
// of its own. The block is allocated by the first chunk read: opening a package to read its
// directory, as the scan does for every package, never reads ahead.
constexpr size_t PACKAGE_READ_AHEAD_BYTES = 256 * 1024;

class CPackageReader {
public:
    CPackageReader() = default;
    ~CPackageReader() { Close(); }
    CPackageReader(const CPackageReader&) = delete;
    CPackageReader& operator=(const CPackageReader&) = delete;

    // True when the file opened, its header was accepted, every directory record was read
    // and its seal, when it has one, is sound and, when it covers them, matches the header and
    // the directory. Records of any size but 184 bytes are refused.
    bool Open(const wchar_t* path);
    // Whether the package carries a seal, which version, and the SHA-256 it gives an entry's
    // bytes.
    bool sealed() const { return m_sealVersion != PACKAGE_SEAL_NONE; }
    uint32_t sealVersion() const { return m_sealVersion; }
    const EntryDigest& digest(uint32_t index) const { return m_digests[index]; }
    const PackageHeader& header() const { return m_header; }
    const std::vector<PackageDirRecord>& records() const { return m_records; }
    // True when the file position stands at the entry's first byte.
    bool SeekToEntry(uint32_t index);
    // Reads on from the current position: 1 when more of the entry follows, 0 when this
    // read reached its end, -1 on failure. count is lowered to the bytes placed in buffer
    // and never raised.
    int ReadChunk(uint32_t index, void* buffer, uint32_t& count);
    void Close();

private:
    // Reads the block that starts at m_position; false when not a byte could be read.
    bool ReadAhead();
    // Reads the seal behind the entries' data, if any; false when one is there but damaged or
    // the header or directory differs from it.
    bool ReadSeal(int64_t directoryEnd, int64_t fileSize);

    FILE* m_file = nullptr;
    PackageHeader m_header{};
    std::vector<PackageDirRecord> m_records;
    uint32_t m_sealVersion = PACKAGE_SEAL_NONE;  // of the sound seal found, of any count
    std::vector<EntryDigest> m_digests;  // one per record when sealed, else none
    std::vector<unsigned char> m_ahead;  // file bytes from m_aheadStart, m_aheadLength of them
    int64_t m_aheadStart = 0;
    size_t m_aheadLength = 0;
    bool m_positionKnown = false;  // false until the first seek or chunk read after Open
    int64_t m_position = 0;        // where the next chunk starts
    int64_t m_filePosition = 0;    // where the file itself stands
};

