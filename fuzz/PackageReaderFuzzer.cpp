// Feeds arbitrary bytes to the package reader as a package file: open, walk the directory,
// seek and read every entry in 2048-byte chunks, hashing it when the package is sealed.
// Besides the sanitizers' findings it checks that a read never writes past its count, that
// a completed entry delivered exactly its size, that every entry name the scan would accept
// stays inside the dictionary folder, that a seal behind the directory is never passed
// over, and that a sealed package's entries all lie in front of its seal and read whole.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/EntryNames.h"
#include "package/PackageReader.h"
#include "package/PackageSeal.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

// Resolves "<dir>\<name>" the way Windows would and tells whether it is a file directly
// inside <dir>: separators split, "." and ".." step, trailing dots and spaces vanish.
bool ResolvesInsideFolder(const std::wstring& name) {
    if (name.find(L':') != std::wstring::npos) return false;  // a drive or a stream
    std::vector<std::wstring> parts = {L"C:", L"dictdata"};
    const size_t base = parts.size();
    std::wstring part;
    auto flush = [&]() {
        while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) {
            if (part == L"." || part == L"..") break;
            part.pop_back();
        }
        if (part == L"..") {
            if (parts.size() > 1) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (wchar_t c : name) {
        if (c == L'\\' || c == L'/') flush();
        else part += c;
    }
    flush();
    return parts.size() == base + 1;
}

std::string ScratchPath() {
    const char* dir = std::getenv("QB_FUZZ_SCRATCH");
    return std::string(dir ? dir : "/tmp") + "/qb-fuzz-" + std::to_string(getpid()) + ".dir";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchPath();
    static const std::wstring widePath(path.begin(), path.end());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    CPackageReader reader;
    if (!reader.Open(widePath.c_str())) return 0;
    Check(reader.header().recordSize == PACKAGE_RECORD_SIZE, "accepted a record size other than 184");
    Check(reader.records().size() == reader.header().recordCount, "directory size differs from the header");
    const uint64_t directoryEnd = PACKAGE_HEADER_SIZE + uint64_t{reader.header().recordCount} * PACKAGE_RECORD_SIZE;
    if (size >= directoryEnd + PACKAGE_SEAL_TRAILER_SIZE) {
        PackageSealTrailer trailer;
        std::memcpy(&trailer, data + size - sizeof trailer, sizeof trailer);
        if (HasSealMagic(trailer)) Check(reader.sealVersion() == SealVersionOf(trailer), "a seal behind the directory was passed over");
    }
    const bool sealed = reader.sealed();
    if (sealed) {
        const uint64_t sealStart = size - PackageSealSize(reader.records().size(), reader.sealVersion());
        Check(sealStart >= directoryEnd, "the seal overlaps the directory");
        for (const PackageDirRecord& record : reader.records())
            Check(uint64_t{reader.header().dataBase} + record.dataOffset + record.dataSize <= sealStart,
                  "an entry's data runs into the seal");
    }

    for (const PackageDirRecord& record : reader.records()) {
        const std::wstring dictId = FieldText(record.dictId);
        const std::wstring fileExt = FieldText(record.fileExt);
        Check(dictId.size() <= DICT_ID_UNITS && fileExt.size() <= FILE_EXT_UNITS, "text field read past its width");
        if (IsSafeEntryName(dictId, fileExt)) {
            Check(ResolvesInsideFolder(dictId + fileExt), "accepted entry name leaves the dictionary folder");
            Check(ResolvesInsideFolder(dictId + L".bmp"), "accepted entry id leaves the image folder");
        }
    }

    constexpr size_t kGuard = 64;
    std::vector<unsigned char> buffer(CHUNK_SIZE + kGuard);
    for (uint32_t i = 0; i < reader.records().size(); ++i) {
        const bool sought = reader.SeekToEntry(i);
        Check(sought || !sealed, "cannot seek to an entry of a sealed package");
        if (!sought) continue;
        uint64_t delivered = 0;
        CSha256 hash;
        for (;;) {
            std::memset(buffer.data() + CHUNK_SIZE, 0xA5, kGuard);
            uint32_t count = CHUNK_SIZE;
            const int result = reader.ReadChunk(i, buffer.data(), count);
            Check(count <= CHUNK_SIZE, "count raised above the request");
            for (size_t g = 0; g < kGuard; ++g) Check(buffer[CHUNK_SIZE + g] == 0xA5, "read wrote past count");
            delivered += count;
            if (sealed) hash.Update(buffer.data(), count);
            if (result == 0) {
                Check(delivered == reader.records()[i].dataSize, "completed entry has the wrong size");
                EntryDigest digest;
                Check(!sealed || hash.Finish(digest), "an entry cannot be hashed");
                break;
            }
            Check(result > 0 || !sealed, "an entry of a sealed package cannot be read whole");
            if (result < 0) break;
            Check(delivered < reader.records()[i].dataSize, "read went on past the entry's end");
        }
    }
    return 0;
}
