#include "tests/install/InstallFixture.h"

#include "host/ProcessControl.h"
#include "install/InstallEngine.h"
#include "package/PackageWriter.h"

namespace test {

namespace {

constexpr DWORD SHORT_POLL_MS = 20;

}  // namespace

void InstallFixture::SetUp() {
    EndAllStandins();
    SetPollIntervalForTesting(SHORT_POLL_MS);
}

void InstallFixture::TearDown() {
    SetPollIntervalForTesting(POLL_INTERVAL_MS);
    EndAllStandins();
    RemoveTree(ExeDir() + L"dict_image");
    DeleteFileW((ExeDir() + DICT_CONFIG_FILE_NAME).c_str());
}

PackageItem& InstallFixture::AddPackage(const std::wstring& fileName, const std::vector<PlannedEntry>& entries) {
    std::vector<PackageEntrySpec> specs;
    std::vector<std::string> data;
    PackageItem package;
    package.filePath = PackagePath(fileName);
    package.entries = std::make_unique<std::vector<EntryItem>>();
    for (const PlannedEntry& planned : entries) {
        specs.push_back({planned.dictId, L".dic", L"2010-01-01", L"D-" + planned.dictId, 0});
        data.push_back(planned.data);
        EntryItem item;
        item.index = static_cast<uint32_t>(package.entries->size());
        item.size = static_cast<uint32_t>(planned.data.size());
        item.dictId = planned.dictId;
        item.fileExt = L".dic";
        item.displayName = L"D-" + planned.dictId;
        item.dateText = L"2010-01-01";
        item.targetPath = TargetOf(planned.dictId);
        item.action = planned.action;
        package.entries->push_back(item);
    }
    EXPECT_TRUE(WriteFileBytes(package.filePath, BuildPackage(specs, data)));
    manager.Packages().push_back(std::move(package));
    return manager.Packages().back();
}

void InstallFixture::AddPackageWithoutEntries(const std::wstring& fileName) {
    PackageItem package;
    package.filePath = PackagePath(fileName);
    manager.Packages().push_back(std::move(package));
}

void InstallFixture::WriteWizardConfig(const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(ExeDir() + DICT_CONFIG_FILE_NAME, text));
}

void InstallFixture::WriteWizardImage(const std::wstring& dictId, const std::string& bytes) {
    ASSERT_TRUE(MakeDirs(ExeDir() + L"dict_image"));
    ASSERT_TRUE(WriteFileBytes(ExeDir() + L"dict_image\\" + dictId + DICT_IMAGE_EXTENSION, bytes));
}

std::wstring InstallFixture::HostValue(const std::wstring& section, const wchar_t* key) const {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(section.c_str(), key, L"", value, 1024, host.configPath.c_str());
    return value;
}

bool CutFileTo(const std::wstring& path, size_t size) {
    std::string bytes = ReadFileBytes(path);
    if (bytes.size() < size) return false;
    bytes.resize(size);
    return WriteFileBytes(path, bytes);
}

bool FileIsClosed(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid();
}

}  // namespace test
