// Writes the seed corpus: a few sound packages and typical damage, so the fuzzer starts
// from the format's real shape.
#include <cstdio>
#include <cstring>
#include <string>

#include "package/PackageWriter.h"

namespace {

void Save(const std::string& dir, const char* name, const std::string& bytes) {
    FILE* file = std::fopen((dir + "/" + name).c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

PackageDirRecord& Record(std::string& bytes, size_t i) {
    return *reinterpret_cast<PackageDirRecord*>(&bytes[PACKAGE_HEADER_SIZE + i * PACKAGE_RECORD_SIZE]);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const std::string one = BuildPackage({{L"abc", L".dic", L"2009-01-01", L"ABC", 0}}, {"dictionary data"});
    Save(dir, "one-entry.dir", one);
    Save(dir, "empty-directory.dir", BuildPackageDirectory({}));
    Save(dir, "three-entries.dir",
         BuildPackage({{L"a", L".dic", L"2009-01-01", L"A", 0}, {L"b", L".dip", L"2010-02-03 04:05:06", L"B", 0},
                       {L"c", L".dic", L"", L"", 0}},
                      {std::string(2049, 'a'), "", std::string(3000, 'c')}));
    std::string bad = one;
    bad.resize(bad.size() - 20);
    Save(dir, "entry-past-eof.dir", bad);
    bad = one;
    Record(bad, 0).dataOffset = 0x7FFFFFF0;
    Save(dir, "entry-past-2g.dir", bad);
    bad = one;
    std::memcpy(Record(bad, 0).dictId, u"..\\..\\x", 16);
    Save(dir, "escaping-name.dir", bad);
    bad = one;
    reinterpret_cast<PackageHeader*>(&bad[0])->recordSize = 200;
    Save(dir, "record-size-200.dir", bad);

    const std::string sealed = BuildSealedPackage(
        {{L"a", L".dic", L"2009-01-01", L"A", 0}, {L"b", L".dip", L"2009-01-02", L"B", 0}}, {std::string(2049, 'a'), "b"});
    Save(dir, "sealed-two-entries.dir", sealed);
    Save(dir, "sealed-empty-directory.dir", BuildSealedPackage({}, {}));
    bad = sealed;
    bad[bad.size() - 16] = 3;  // the seal's entry count
    Save(dir, "seal-wrong-count.dir", bad);
    bad = sealed;
    bad.erase(bad.size() - 80, 32);  // a digest gone: the seal starts inside the data
    Save(dir, "seal-cut-short.dir", bad);
    return 0;
}
