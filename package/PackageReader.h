// One open dictionary package: its header, its whole directory, and its entries handed
// out chunk by chunk. A package is untrusted input; every position is checked in 64 bits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "package/PackageFormat.h"

class CPackageReader {
public:
    CPackageReader() = default;
    ~CPackageReader() { Close(); }
    CPackageReader(const CPackageReader&) = delete;
    CPackageReader& operator=(const CPackageReader&) = delete;

    // True when the file opened, its header was accepted and every directory record was
    // read. Records of any size but 184 bytes are refused.
    bool Open(const wchar_t* path);
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
    FILE* m_file = nullptr;
    PackageHeader m_header{};
    std::vector<PackageDirRecord> m_records;
};

