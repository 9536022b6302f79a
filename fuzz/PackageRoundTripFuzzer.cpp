// Builds a package with the writer from fuzzed entries, optionally damages a few of its
// bytes, and reads it back with the wizard's reader and with dictpack's list, verify and
// extract. Checks: an undamaged package reads back exactly as written (texts cut to their
// field, every entry's bytes), dictpack writes only files named by entries and only inside
// the folder it was given, and a package it verifies also extracts.
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
    std::string package = BuildPackage(specs, contents);
    const size_t damage = package.empty() ? 0 : in.ConsumeIntegralInRange<size_t>(0, 3);
    for (size_t i = 0; i < damage; ++i)
        package[in.ConsumeIntegralInRange<size_t>(0, package.size() - 1)] = static_cast<char>(in.ConsumeIntegral<uint8_t>());
    if (!WriteFile(packagePath, package)) return 0;

    CPackageReader reader;
    const bool opened = reader.Open(std::wstring(packagePath.begin(), packagePath.end()).c_str());
    if (damage == 0) {
        Check(opened, "a written package does not open");
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
        }
    }
    reader.Close();

    std::string out, err;
    dictpack::Run({"list", packagePath}, out, err);
    const bool verified = Tool({"verify", packagePath}) == dictpack::EXIT_OK;
    Empty(outDir);
    const int extracted = Tool({"extract", packagePath, outDir});
    Check(Names(scratch).size() <= 2, "dictpack wrote beside the folder it was given");
    if (verified) Check(extracted == dictpack::EXIT_OK, "a verified package does not extract");

    // Every file extract leaves is named by an entry; an undamaged package's entries hold
    // exactly their bytes (an entry whose name another entry shares is not compared).
    std::multiset<std::string> entryNames;
    for (const PackageDirRecord& record : reader.records())
        entryNames.insert(dictpack::Utf16ToUtf8(FieldText(record.dictId) + FieldText(record.fileExt)));
    for (const std::string& name : Names(outDir)) Check(entryNames.count(name) > 0, "extract made a file no entry names");
    if (extracted == dictpack::EXIT_OK && damage == 0) {
        for (uint32_t i = 0; i < specs.size(); ++i) {
            const std::string name = dictpack::Utf16ToUtf8(FieldText(reader.records()[i].dictId) +
                                                           FieldText(reader.records()[i].fileExt));
            if (entryNames.count(name) == 1)
                Check(ReadFile(outDir + "/" + name) == contents[i], "extracted bytes differ from the entry");
        }
    }
    Empty(outDir);
    return 0;
}
