#include "package/PackageReader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <share.h>
#else
#include <cwchar>
#include <string>
#endif

namespace {

FILE* OpenShared(const wchar_t* path) {
#ifdef _WIN32
    // Other processes may read and write the package while it is open.
    return _wfsopen(path, L"rb", _SH_DENYNO);
#else
    std::mbstate_t state{};
    const wchar_t* source = path;
    size_t length = std::wcsrtombs(nullptr, &source, 0, &state);
    if (length == static_cast<size_t>(-1)) return nullptr;
    std::string narrow(length, '\0');
    source = path;
    std::wcsrtombs(&narrow[0], &source, length, &state);
    return std::fopen(narrow.c_str(), "rb");
#endif
}

int64_t TellPosition(FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

bool SeekToEnd(FILE* file) {
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END) == 0;
#else
    return fseeko(file, 0, SEEK_END) == 0;
#endif
}

bool SeekPosition(FILE* file, int64_t position) {
#ifdef _WIN32
    return _fseeki64(file, position, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

}  // namespace

bool CPackageReader::Open(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return false;
    Close();
    m_sealVersion = PACKAGE_SEAL_NONE;
    m_digests.clear();
    m_file = OpenShared(path);
    if (m_file == nullptr) return false;
    if (std::fread(&m_header, 1, sizeof m_header, m_file) != sizeof m_header) return false;
    if (!IsAcceptedHeader(m_header)) return false;
    // Records of another size would not have the layout the rest of the wizard reads.
    if (m_header.recordSize != PACKAGE_RECORD_SIZE) return false;
    m_records.clear();
    // A count the file cannot hold is refused before anything is allocated for it, and a
    // directory too large for this process's memory is refused like a damaged one.
    const int64_t directoryStart = TellPosition(m_file);
    if (directoryStart < 0 || !SeekToEnd(m_file)) return false;
    const int64_t fileSize = TellPosition(m_file);
    if (fileSize < directoryStart ||
        uint64_t{m_header.recordCount} * PACKAGE_RECORD_SIZE > static_cast<uint64_t>(fileSize - directoryStart) ||
        !SeekPosition(m_file, directoryStart))
        return false;
    try {
        m_records.resize(m_header.recordCount);
    } catch (const std::exception&) {
        return false;
    }
    if (m_header.recordCount != 0 &&
        std::fread(m_records.data(), PACKAGE_RECORD_SIZE, m_header.recordCount, m_file) != m_header.recordCount) {
        m_records.clear();
        return false;
    }
    const int64_t directoryEnd = directoryStart + int64_t{m_header.recordCount} * PACKAGE_RECORD_SIZE;
    // A chunk read without a seek starts behind the directory, seal or no seal.
    return ReadSeal(directoryEnd, fileSize) && SeekPosition(m_file, directoryEnd);
}

bool CPackageReader::ReadSeal(int64_t directoryEnd, int64_t fileSize) {
    m_digests.clear();
    PackageSealTrailer trailer;
    if (fileSize - directoryEnd < static_cast<int64_t>(sizeof trailer)) return true;
    if (!SeekPosition(m_file, fileSize - static_cast<int64_t>(sizeof trailer)) ||
        std::fread(&trailer, 1, sizeof trailer, m_file) != sizeof trailer)
        return false;
    const uint32_t version = SealVersionOf(trailer);
    if (version == PACKAGE_SEAL_NONE) return true;
    const uint64_t sealSize = PackageSealSize(trailer.entryCount, version);
    if (trailer.entryCount != m_header.recordCount || trailer.sealSize != sealSize ||
        sealSize > static_cast<uint64_t>(fileSize - directoryEnd))
        return false;
    // Every entry's data lies in front of the seal.
    const int64_t sealStart = fileSize - static_cast<int64_t>(sealSize);
    for (const PackageDirRecord& record : m_records)
        if (int64_t{m_header.dataBase} + record.dataOffset + record.dataSize > sealStart) return false;
    if (!SeekPosition(m_file, sealStart)) return false;
    if (trailer.entryCount != 0) {
        try {
            m_digests.resize(trailer.entryCount);
        } catch (const std::exception&) {
            return false;
        }
        if (std::fread(m_digests.data(), SHA256_DIGEST_SIZE, trailer.entryCount, m_file) != trailer.entryCount) {
            m_digests.clear();
            return false;
        }
    }
    if (version == PACKAGE_SEAL_WHOLE) {
        // A header or directory that differs from its seal is refused as a damaged one is:
        // its ids, names and dates decide what is installed where.
        PackageFrameDigests sealed, found;
        if (std::fread(&sealed.header, 1, sealed.header.size(), m_file) != sealed.header.size() ||
            std::fread(&sealed.directory, 1, sealed.directory.size(), m_file) != sealed.directory.size() ||
            !HashPackageFrame(m_header, m_records, found) || found.header != sealed.header ||
            found.directory != sealed.directory) {
            m_digests.clear();
            return false;
        }
    }
    m_sealVersion = version;
    return true;
}

bool CPackageReader::SeekToEntry(uint32_t index) {
    if (m_file == nullptr || index >= m_records.size()) return false;
    const int64_t start = int64_t{m_header.dataBase} + m_records[index].dataOffset;
    if (start > PACKAGE_MAX_POSITION) return false;
    if (!SeekPosition(m_file, start)) return false;
    m_position = m_filePosition = start;
    m_positionKnown = true;
    return true;
}

bool CPackageReader::ReadAhead() {
    if (m_ahead.empty()) m_ahead.resize(PACKAGE_READ_AHEAD_BYTES);
    if (m_filePosition != m_position) {
        if (!SeekPosition(m_file, m_position)) return false;
        m_filePosition = m_position;
    }
    m_aheadStart = m_position;
    m_aheadLength = std::fread(m_ahead.data(), 1, m_ahead.size(), m_file);
    m_filePosition += static_cast<int64_t>(m_aheadLength);
    return m_aheadLength > 0;
}

int CPackageReader::ReadChunk(uint32_t index, void* buffer, uint32_t& count) {
    if (m_file == nullptr || index >= m_records.size()) return -1;
    if (!m_positionKnown) {
        // Right after Open: the file stands behind the directory.
        const int64_t told = TellPosition(m_file);
        if (told < 0) return -1;
        m_position = m_filePosition = told;
        m_positionKnown = true;
    }
    const int64_t position = m_position;
    const PackageDirRecord& record = m_records[index];
    const int64_t end = int64_t{m_header.dataBase} + record.dataOffset + record.dataSize;
    if (end > PACKAGE_MAX_POSITION || position > end) return -1;
    int result = 1;
    if (position + count >= end) {
        count = static_cast<uint32_t>(end - position);
        result = 0;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    uint32_t got = 0;
    while (got < count) {
        const int64_t inBlock = m_position - m_aheadStart;
        if (inBlock < 0 || inBlock >= static_cast<int64_t>(m_aheadLength)) {
            if (!ReadAhead()) break;
            continue;
        }
        const size_t part = std::min<size_t>(count - got, m_aheadLength - static_cast<size_t>(inBlock));
        std::memcpy(out + got, m_ahead.data() + inBlock, part);
        got += static_cast<uint32_t>(part);
        m_position += static_cast<int64_t>(part);
    }
    if (got != count) {
        count = got;
        return -1;
    }
    return result;
}

void CPackageReader::Close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_aheadLength = 0;
    m_positionKnown = false;
}

