// A host laid out in a scratch folder, a recording window, and plans built by hand from
// packages written for the test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/InstallManager.h"
#include "tests/install/MessageRecorder.h"
#include "tests/process/HostFixture.h"
#include "tests/support/TestSupport.h"

namespace test {

struct PlannedEntry {
    std::wstring dictId;
    std::string data;
    EntryAction action;
};

class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the package file and appends it to the plan: entry i has directory index i,
    // display name "D-" + id and target dictdata\<id>.dic.
    PackageItem& AddPackage(const std::wstring& fileName, const std::vector<PlannedEntry>& entries);
    // A plan package whose directory was empty: no entry list, and no file written.
    void AddPackageWithoutEntries(const std::wstring& fileName);
    std::wstring TargetOf(const std::wstring& dictId) const { return host.dictData + L"\\" + dictId + L".dic"; }
    std::wstring PackagePath(const std::wstring& fileName) const { return packages / fileName; }
    // The wizard's own files beside the test program.
    void WriteWizardConfig(const std::string& text);
    void WriteWizardImage(const std::wstring& dictId, const std::string& bytes);
    std::wstring HostValue(const std::wstring& section, const wchar_t* key) const;

    HostLayout host;
    TempDir packages{L"pkg"};
    CInstallManager manager;
};

bool CutFileTo(const std::wstring& path, size_t size);
// Nobody holds the file open.
bool FileIsClosed(const std::wstring& path);

}  // namespace test
