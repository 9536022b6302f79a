#include "package/PackageSeal.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace {

bool SameMagic(const char (&magic)[8], const char (&known)[8]) { return std::memcmp(magic, known, sizeof magic) == 0; }

std::string Digests(const std::vector<EntryDigest>& digests) {
    std::string out;
    for (const EntryDigest& digest : digests) out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    return out;
}

std::string Trailer(size_t count, uint32_t version, const char (&magic)[8]) {
    PackageSealTrailer trailer{};
    trailer.entryCount = static_cast<uint32_t>(count);
    trailer.sealSize = static_cast<uint32_t>(PackageSealSize(count, version));
    std::memcpy(trailer.magic, magic, sizeof trailer.magic);
    return std::string(reinterpret_cast<const char*>(&trailer), sizeof trailer);
}

}  // namespace

uint32_t SealVersionOf(const PackageSealTrailer& trailer) {
    if (SameMagic(trailer.magic, PACKAGE_SEAL_WHOLE_MAGIC)) return PACKAGE_SEAL_WHOLE;
    if (SameMagic(trailer.magic, PACKAGE_SEAL_ENTRIES_MAGIC)) return PACKAGE_SEAL_ENTRIES;
    return PACKAGE_SEAL_NONE;
}

bool HashPackageFrame(const PackageHeader& header, const std::vector<PackageDirRecord>& records,
                      PackageFrameDigests& digests) {
    CSha256 headerHash, directoryHash;
    headerHash.Update(&header, sizeof header);
    if (!records.empty()) directoryHash.Update(records.data(), records.size() * sizeof(PackageDirRecord));
    return headerHash.Finish(digests.header) && directoryHash.Finish(digests.directory);
}

std::string BuildPackageSeal(const PackageHeader& header, const std::vector<PackageDirRecord>& records,
                             const std::vector<EntryDigest>& digests) {
    PackageFrameDigests frame;
    if (!HashPackageFrame(header, records, frame)) return std::string();
    return Digests(digests) + Digests({frame.header, frame.directory}) +
           Trailer(digests.size(), PACKAGE_SEAL_WHOLE, PACKAGE_SEAL_WHOLE_MAGIC);
}

std::string BuildPackageSeal(const std::string& headerAndDirectory, const std::vector<EntryDigest>& digests) {
    PackageHeader header{};
    std::vector<PackageDirRecord> records(digests.size());
    const size_t need = sizeof header + records.size() * sizeof(PackageDirRecord);
    if (headerAndDirectory.size() < need) return std::string();
    std::memcpy(&header, headerAndDirectory.data(), sizeof header);
    if (!records.empty())
        std::memcpy(records.data(), headerAndDirectory.data() + sizeof header, records.size() * sizeof(PackageDirRecord));
    return BuildPackageSeal(header, records, digests);
}

std::string BuildEntriesOnlySeal(const std::vector<EntryDigest>& digests) {
    return Digests(digests) + Trailer(digests.size(), PACKAGE_SEAL_ENTRIES, PACKAGE_SEAL_ENTRIES_MAGIC);
}

#ifdef _WIN32

namespace {

// The hashing functions of bcrypt.dll, taken from the system folder the first time a sealed
// package is read: a wizard that reads no sealed package never maps the library (it costs
// about 2 MB), and no library of that name beside the wizard can stand in for it.
struct BCryptApi {
    decltype(&BCryptOpenAlgorithmProvider) openProvider = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    BCRYPT_ALG_HANDLE sha256 = nullptr;  // kept for the process: opening it costs far more than a hash
};

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

const BCryptApi* Bcrypt() {
    static const BCryptApi* api = [] {
        static BCryptApi loaded;
        const HMODULE module = LoadSystemLibrary(SHA256_PROVIDER_LIBRARY);
        if (module == nullptr || !Resolve(module, "BCryptOpenAlgorithmProvider", loaded.openProvider) ||
            !Resolve(module, "BCryptCreateHash", loaded.createHash) || !Resolve(module, "BCryptHashData", loaded.hashData) ||
            !Resolve(module, "BCryptFinishHash", loaded.finishHash) ||
            !Resolve(module, "BCryptDestroyHash", loaded.destroyHash) ||
            loaded.openProvider(&loaded.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
            return static_cast<const BCryptApi*>(nullptr);
        return static_cast<const BCryptApi*>(&loaded);
    }();
    return api;
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* fileName, SystemLibraryLoader loadEx) {
    const HMODULE module = loadEx(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr) return module;
    // Windows 7 without KB2533623 does not know the flag and refuses the call; the system
    // folder's full path then names the same file, and its own imports are looked for
    // beside it first.
    const DWORD refused = GetLastError();
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(refused);
        return nullptr;
    }
    std::wstring path(system, length);
    if (path.back() != L'\\') path += L'\\';
    path += fileName;
    return loadEx(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

struct CSha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

CSha256::CSha256() : m_state(new State) {
    const BCryptApi* api = Bcrypt();
    m_failed = api == nullptr || api->createHash(api->sha256, &m_state->hash, nullptr, 0, nullptr, 0, 0) < 0;
}

CSha256::~CSha256() {
    if (m_state->hash != nullptr) Bcrypt()->destroyHash(m_state->hash);
    delete m_state;
}

bool CSha256::Update(const void* data, size_t count) {
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (!m_failed && count > 0) {
        const ULONG part = count > 0x40000000 ? 0x40000000 : static_cast<ULONG>(count);
        m_failed = Bcrypt()->hashData(m_state->hash, const_cast<UCHAR*>(bytes), part, 0) < 0;
        bytes += part;
        count -= part;
    }
    return !m_failed;
}

bool CSha256::Finish(EntryDigest& digest) {
    if (!m_failed)
        m_failed = Bcrypt()->finishHash(m_state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0) < 0;
    return !m_failed;
}

#else

struct CSha256::State {
    EVP_MD_CTX* context = nullptr;
};

CSha256::CSha256() : m_state(new State) {
    m_state->context = EVP_MD_CTX_new();
    m_failed = m_state->context == nullptr || EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1;
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(m_state->context);
    delete m_state;
}

bool CSha256::Update(const void* data, size_t count) {
    if (!m_failed) m_failed = EVP_DigestUpdate(m_state->context, data, count) != 1;
    return !m_failed;
}

bool CSha256::Finish(EntryDigest& digest) {
    unsigned int length = 0;
    if (!m_failed) m_failed = EVP_DigestFinal_ex(m_state->context, digest.data(), &length) != 1 || length != digest.size();
    return !m_failed;
}

#endif

EntryDigest Sha256Of(const std::string& bytes) {
    EntryDigest digest{};
    CSha256 hash;
    hash.Update(bytes.data(), bytes.size());
    hash.Finish(digest);
    return digest;
}
