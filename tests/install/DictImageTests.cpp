#include <gtest/gtest.h>

#include "tests/install/InstallFixture.h"

namespace {

using test::ReadFileBytes;

class DictImageTest : public test::InstallFixture {
protected:
    std::wstring HostImage(const std::wstring& name) const { return host.imageDir + L"\\" + name; }
};

TEST_F(DictImageTest, CopiesAndReplacesThePicture) {
    WriteWizardImage(L"abc", "new picture");
    ASSERT_TRUE(test::WriteFileBytes(HostImage(L"abc.bmp"), "old picture, longer than the new one"));
    EXPECT_TRUE(manager.CopyDictionaryImage(L"abc"));
    EXPECT_EQ(ReadFileBytes(HostImage(L"abc.bmp")), "new picture");
}

TEST_F(DictImageTest, MissingPictureWritesNothing) {
    EXPECT_FALSE(manager.CopyDictionaryImage(L"abc"));
    EXPECT_FALSE(test::FileExists(HostImage(L"abc.bmp")));
    EXPECT_FALSE(manager.CopyDictionaryImage(nullptr));
}

TEST_F(DictImageTest, MissingHostFolderFails) {
    WriteWizardImage(L"abc", "picture");
    test::RemoveTree(host.imageDir);
    EXPECT_FALSE(manager.CopyDictionaryImage(L"abc"));
}

TEST_F(DictImageTest, EmptyIdLooksForBareExtension) {
    WriteWizardImage(L"", "nameless");
    EXPECT_TRUE(manager.CopyDictionaryImage(L""));
    EXPECT_EQ(ReadFileBytes(HostImage(L".bmp")), "nameless");
}

TEST_F(DictImageTest, InstalledEntryBringsItsPicture) {
    test::MessageRecorder recorder;
    WriteWizardImage(L"pic", "picture");
    AddPackage(L"a.dir", {{L"pic", "data", ACTION_INSTALL}, {L"nopic", "data", ACTION_INSTALL}});
    EXPECT_TRUE(manager.InstallPackages(manager.Packages(), recorder.reporter()));
    EXPECT_EQ(ReadFileBytes(HostImage(L"pic.bmp")), "picture");
    EXPECT_FALSE(test::FileExists(HostImage(L"nopic.bmp")));
    EXPECT_TRUE(test::FileExists(TargetOf(L"nopic")));
}

}  // namespace
