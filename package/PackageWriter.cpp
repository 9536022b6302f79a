#include "package/PackageWriter.h"

#include <cstring>
#include <utility>

#include "package/PackageSeal.h"

std::string BuildPackageDirectory(const std::vector<PackageEntrySpec>& entries) {
    const uint32_t count = static_cast<uint32_t>(entries.size());
    PackageHeader header{};
    header.magic = PACKAGE_MAGIC;
    header.version1 = PACKAGE_ACCEPTED_VERSION;
    header.version2 = PACKAGE_ACCEPTED_VERSION;
    header.recordSize = PACKAGE_RECORD_SIZE;
    header.recordCount = count;
    header.dataBase = PACKAGE_HEADER_SIZE + count * PACKAGE_RECORD_SIZE;

    std::string out(header.dataBase, '\0');
    std::memcpy(&out[0], &header, sizeof header);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        PackageDirRecord record{};
        record.dataOffset = offset;
        record.dataSize = entries[i].size;
        SetFieldText(record.dictId, entries[i].dictId);
        SetFieldText(record.dateText, entries[i].dateText);
        SetFieldText(record.fileExt, entries[i].fileExt);
        SetFieldText(record.displayName, entries[i].displayName);
        std::memcpy(&out[PACKAGE_HEADER_SIZE + i * PACKAGE_RECORD_SIZE], &record, sizeof record);
        offset += entries[i].size;
    }
    return out;
}

std::string BuildPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data) {
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i].size = i < data.size() ? static_cast<uint32_t>(data[i].size()) : 0;
    std::string out = BuildPackageDirectory(entries);
    for (size_t i = 0; i < entries.size() && i < data.size(); ++i) out += data[i];
    return out;
}

namespace {

std::vector<EntryDigest> EntryDigests(size_t count, const std::vector<std::string>& data) {
    std::vector<EntryDigest> digests;
    for (size_t i = 0; i < count; ++i) digests.push_back(Sha256Of(i < data.size() ? data[i] : std::string()));
    return digests;
}

}  // namespace

std::string BuildSealedPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data) {
    const std::vector<EntryDigest> digests = EntryDigests(entries.size(), data);
    const std::string package = BuildPackage(std::move(entries), data);
    return package + BuildPackageSeal(package, digests);
}

std::string BuildEntriesOnlySealedPackage(std::vector<PackageEntrySpec> entries, const std::vector<std::string>& data) {
    const std::vector<EntryDigest> digests = EntryDigests(entries.size(), data);
    return BuildPackage(std::move(entries), data) + BuildEntriesOnlySeal(digests);
}
