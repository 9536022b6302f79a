// Builds a package with the writer from fuzzed entries, sealed or not, optionally damages a
// few of its bytes, an entry's byte or the seal, and reads it back with the wizard's reader
// and with dictpack's list, verify, extract and seal. Checks: an undamaged package reads
// back exactly as written (texts cut to their field, every entry's bytes, its seal),
// dictpack writes only files named by entries and only inside the folder it was given, a
// package it verifies also extracts, and when sealed extracts bytes with the sealed
// digests, a changed entry in a sealed package never verifies, and a package seal accepts
// verifies afterwards.
#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "package/PackageReader.h"
#include "package/PackageSeal.h"
#include "package/PackageWriter.h"
#include "tools/dictpack/DictPackCore.h"
#include "tools/dictpack/Utf.h"

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

std::string ScratchDir() {
    const char* dir = std::getenv("QB_FUZZ_SCRATCH");
    const std::string path = std::string(dir ? dir : "/tmp") + "/qb-roundtrip-" + std::to_string(getpid());
    mkdir(path.c_str(), 0777);
    return path;
}

// Texts drawn from units that matter to the format and the name rule: NUL, separators,
// dots, spaces, ASCII, CJK and lone surrogates.
std::wstring FuzzedText(FuzzedDataProvider& in, size_t maxUnits) {
    static const char16_t kUnits[] = {0, u'\\', u'/', u':', u'.', u' ', u'a', u'Z', u'1', u'-',
                                      0x4E2D, 0xD800, 0xDC00, 0xFFFF, u'$', u'C', u'O', u'N'};
    std::wstring text;
    const size_t length = in.ConsumeIntegralInRange<size_t>(0, maxUnits);
    for (size_t i = 0; i < length; ++i) {
        if (in.ConsumeBool())
            text.push_back(static_cast<wchar_t>(kUnits[in.ConsumeIntegralInRange<size_t>(0, 17)]));
        else
            text.push_back(static_cast<wchar_t>(in.ConsumeIntegral<uint16_t>()));
    }
    return text;
}

// What the reader gives back for a text the writer stored: cut to leave room for the NUL,
// then ended at the first NUL.
std::wstring Stored(const std::wstring& text, size_t units) {
    std::wstring cut = text.substr(0, units - 1);
    const size_t nul = cut.find(L'\0');
    return nul == std::wstring::npos ? cut : cut.substr(0, nul);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::string ReadFile(const std::string& path) {
    std::string out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, got);
    std::fclose(file);
    return out;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    return names;
}

void Empty(const std::string& dir) {
    for (const std::string& name : Names(dir)) std::remove((dir + "/" + name).c_str());
}

int Tool(std::vector<std::string> args) {
    std::string out, err;
    return dictpack::Run(args, out, err);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string scratch = ScratchDir();
    static const std::string packagePath = scratch + "/package.dir";
    static const std::string outDir = scratch + "/out";
    FuzzedDataProvider in(data, size);

    std::vector<PackageEntrySpec> specs(in.ConsumeIntegralInRange<size_t>(0, 5));
    std::vector<std::string> contents;
    for (PackageEntrySpec& spec : specs) {
        spec.dictId = FuzzedText(in, DICT_ID_UNITS + 2);
        spec.fileExt = FuzzedText(in, FILE_EXT_UNITS + 2);
        spec.dateText = FuzzedText(in, DATE_TEXT_UNITS + 2);
        spec.displayName = FuzzedText(in, DISPLAY_NAME_UNITS + 2);
        contents.push_back(in.ConsumeRandomLengthString(6000));
    }
    const bool sealed = in.ConsumeBool();
    std::string package = sealed ? BuildSealedPackage(specs, contents) : BuildPackage(specs, contents);
    size_t damage = package.empty() ? 0 : in.ConsumeIntegralInRange<size_t>(0, 3);
    for (size_t i = 0; i < damage; ++i)
        package[in.ConsumeIntegralInRange<size_t>(0, package.size() - 1)] = static_cast<char>(in.ConsumeIntegral<uint8_t>());
    // A sealed package may instead get one entry's byte changed, its seal damaged, or one byte
    // of its header or directory changed.
    bool entryChanged = false, frameChanged = false;
    if (sealed && damage == 0 && !specs.empty()) {
        const size_t entry = in.ConsumeIntegralInRange<size_t>(0, specs.size() - 1);
        const PackageHeader& header = *reinterpret_cast<const PackageHeader*>(package.data());
        const PackageDirRecord& record =
            *reinterpret_cast<const PackageDirRecord*>(&package[PACKAGE_HEADER_SIZE + entry * PACKAGE_RECORD_SIZE]);
        const size_t sealStart = package.size() - static_cast<size_t>(PackageSealSize(specs.size()));
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 1:
            if (record.dataSize == 0) break;
            package[header.dataBase + record.dataOffset + in.ConsumeIntegralInRange<uint32_t>(0, record.dataSize - 1)] ^=
                static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
            entryChanged = true;
            break;
        case 2:  // the seal cut short, or bytes gone from its end
            package.erase(in.ConsumeIntegralInRange<size_t>(sealStart, package.size() - 1),
                          in.ConsumeIntegralInRange<size_t>(1, 40));
            damage = 1;
            break;
        case 3:  // a trailer field changed
            package[package.size() - PACKAGE_SEAL_TRAILER_SIZE + in.ConsumeIntegralInRange<size_t>(0, 7)] ^=
                static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
            damage = 1;
            break;
        case 4:  // a byte of the header or the directory changed: the seal covers them
            package[in.ConsumeIntegralInRange<size_t>(0, PACKAGE_HEADER_SIZE + specs.size() * PACKAGE_RECORD_SIZE - 1)] ^=
                static_cast<char>(in.ConsumeIntegralInRange<int>(1, 255));
            frameChanged = true;
            break;
        default:
            break;
        }
    }
    // An unsealed package whose last entry ends like a seal is read as a sealed one, and so
    // refused as damaged: a limit of finding the seal from the end, not of the writer.
    bool endsLikeASeal = false;
    if (!sealed && package.size() >= PACKAGE_SEAL_TRAILER_SIZE) {
        PackageSealTrailer trailer;
        std::memcpy(&trailer, &package[package.size() - sizeof trailer], sizeof trailer);
        endsLikeASeal = HasSealMagic(trailer);
    }
    const bool intact = damage == 0 && !entryChanged && !frameChanged && !endsLikeASeal;
    if (!WriteFile(packagePath, package)) return 0;

    const std::wstring widePath(packagePath.begin(), packagePath.end());
    CPackageReader reader;
    const bool opened = reader.Open(widePath.c_str());
    if (entryChanged) Check(opened && reader.sealed(), "a changed entry made the seal unreadable");
    if (frameChanged) Check(!opened, "a changed header or directory byte passed the seal");
    if (intact) {
        Check(opened, "a written package does not open");
        Check(reader.sealed() == sealed, "the seal is not read as written");
        Check(reader.records().size() == specs.size(), "record count differs from what was written");
        for (uint32_t i = 0; i < specs.size(); ++i) {
            const PackageDirRecord& record = reader.records()[i];
            Check(FieldText(record.dictId) == Stored(specs[i].dictId, DICT_ID_UNITS), "id differs");
            Check(FieldText(record.fileExt) == Stored(specs[i].fileExt, FILE_EXT_UNITS), "extension differs");
            Check(FieldText(record.dateText) == Stored(specs[i].dateText, DATE_TEXT_UNITS), "date differs");
            Check(FieldText(record.displayName) == Stored(specs[i].displayName, DISPLAY_NAME_UNITS), "name differs");
            Check(reader.SeekToEntry(i), "cannot seek to a written entry");
            std::string back;
            char chunk[CHUNK_SIZE];
            int result = 1;
            while (result == 1) {
                uint32_t count = CHUNK_SIZE;
                result = reader.ReadChunk(i, chunk, count);
                back.append(chunk, count);
            }
            Check(result == 0 && back == contents[i], "entry bytes differ from what was written");
            if (sealed) Check(reader.digest(i) == Sha256Of(contents[i]), "sealed digest differs from the entry's");
        }
    }
    const bool readSealed = opened && reader.sealed();
    std::vector<EntryDigest> digests;
    for (uint32_t i = 0; readSealed && i < reader.records().size(); ++i) digests.push_back(reader.digest(i));
    reader.Close();

    std::string out, err;
    dictpack::Run({"list", packagePath}, out, err);
    const bool verified = Tool({"verify", packagePath}) == dictpack::EXIT_OK;
    Empty(outDir);
    const int extracted = Tool({"extract", packagePath, outDir});
    Check(Names(scratch).size() <= 2, "dictpack wrote beside the folder it was given");
    if (verified) Check(extracted == dictpack::EXIT_OK, "a verified package does not extract");
    if (entryChanged) Check(!verified, "a sealed package with a changed entry verifies");

    // Every file extract leaves is named by an entry; an undamaged package's entries hold
    // exactly their bytes (an entry whose name another entry shares is not compared).
    std::multiset<std::string> entryNames;
    for (const PackageDirRecord& record : reader.records())
        entryNames.insert(dictpack::Utf16ToUtf8(FieldText(record.dictId) + FieldText(record.fileExt)));
    for (const std::string& name : Names(outDir)) Check(entryNames.count(name) > 0, "extract made a file no entry names");
    if (extracted == dictpack::EXIT_OK && intact) {
        for (uint32_t i = 0; i < specs.size(); ++i) {
            const std::string name = dictpack::Utf16ToUtf8(FieldText(reader.records()[i].dictId) +
                                                           FieldText(reader.records()[i].fileExt));
            if (entryNames.count(name) == 1)
                Check(ReadFile(outDir + "/" + name) == contents[i], "extracted bytes differ from the entry");
        }
    }
    if (verified && readSealed) {
        for (uint32_t i = 0; i < digests.size(); ++i) {
            const std::string name = dictpack::Utf16ToUtf8(FieldText(reader.records()[i].dictId) +
                                                           FieldText(reader.records()[i].fileExt));
            if (entryNames.count(name) == 1)
                Check(Sha256Of(ReadFile(outDir + "/" + name)) == digests[i], "a verified entry extracts other bytes");
        }
    }
    Empty(outDir);

    // seal leaves a package it accepts verifiable, sealed and with its entries unchanged.
    const bool sealAccepted = Tool({"seal", packagePath}) == dictpack::EXIT_OK;
    Check(Names(scratch).size() <= 2, "seal left a file beside the package");
    if (sealAccepted) {
        Check(Tool({"verify", packagePath}) == dictpack::EXIT_OK, "a package seal accepts does not verify");
        CPackageReader resealed;
        Check(resealed.Open(widePath.c_str()) && resealed.sealed(), "a package seal accepts is not sealed");
        Check(resealed.records().size() == reader.records().size(), "seal changed the directory");
        if (intact && !resealed.records().empty())
            Check(resealed.digest(0) == Sha256Of(contents[0]), "seal sealed other bytes");
    }
    if (verified && !readSealed) Check(sealAccepted, "a verified unsealed package cannot be sealed");
    return 0;
}
