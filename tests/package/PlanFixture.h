// A host installation in a scratch folder, registered in the test prefix's registry and
// checked as the wizard does at start-up, and packages written beside the test program,
// which is where the package scan looks. Everything is removed again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "install/InstallManager.h"
#include "package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace test {

class PlanFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A package file beside the program; returns its full path.
    std::wstring WriteBeside(const std::wstring& name, const std::string& bytes);
    // A dictionary file already installed in the host's data directory.
    std::wstring WriteInstalled(const std::wstring& name, const std::string& bytes = "installed");
    const std::wstring& DataDir() const { return m_dataDir; }

    static const EntryItem& EntryAt(const CInstallManager& manager, size_t package, size_t entry);
    static std::vector<std::wstring> InstalledNames(const CInstallManager& manager);

private:
    TempDir m_host{L"host"};
    std::wstring m_dataDir;
    std::unique_ptr<HostRegistry> m_registry;
};

// Removes every *.dir (files and folders) beside the program, leftovers of a crashed run too.
void RemovePackagesBeside();

// One entry of a package, the given bytes as its data.
std::string PackageOf(const std::wstring& dictId, const std::wstring& fileExt, const std::wstring& dateText,
                      const std::wstring& displayName, const std::string& data = "data");

}  // namespace test
