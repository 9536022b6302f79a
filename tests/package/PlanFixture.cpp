#include "tests/package/PlanFixture.h"

#include "base/ScopedWin.h"
#include "host/HostPaths.h"

namespace test {

void PlanFixture::SetUp() {
    RemovePackagesBeside();
    ASSERT_TRUE(WriteFileBytes(m_host / L"Lexora.exe", "MZ"));
    m_dataDir = m_host / L"plugin\\localquery\\dictdata";
    ASSERT_TRUE(MakeDirs(m_dataDir));
    m_registry = std::make_unique<HostRegistry>(m_host.path().c_str(), L"Lexora.exe");
    ASSERT_TRUE(CheckHostEnvironment());
}

void PlanFixture::TearDown() {
    RemovePackagesBeside();
    m_registry.reset();
}

std::wstring PlanFixture::WriteBeside(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = ExeDir() + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
}

std::wstring PlanFixture::WriteInstalled(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = m_dataDir + L"\\" + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
}

const EntryItem& PlanFixture::EntryAt(const CInstallManager& manager, size_t package, size_t entry) {
    auto it = manager.Packages().begin();
    std::advance(it, package);
    return it->entries->at(entry);
}

std::vector<std::wstring> PlanFixture::InstalledNames(const CInstallManager& manager) {
    std::vector<std::wstring> names;
    for (const auto& item : manager.Installed()) names.push_back(item.fileName);
    return names;
}

void RemovePackagesBeside() {
    const std::wstring dir = ExeDir();
    WIN32_FIND_DATAW data;
    std::vector<std::wstring> found;
    {
        qb::ScopedFindHandle find(FindFirstFileW((dir + L"*.dir").c_str(), &data));
        if (!find) return;
        do {
            found.push_back(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
    }
    for (const auto& name : found) {
        const std::wstring path = dir + name;
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileW(path.c_str());
    }
}

std::string PackageOf(const std::wstring& dictId, const std::wstring& fileExt, const std::wstring& dateText,
                      const std::wstring& displayName, const std::string& data) {
    return BuildPackage({{dictId, fileExt, dateText, displayName, 0}}, {data});
}

}  // namespace test
