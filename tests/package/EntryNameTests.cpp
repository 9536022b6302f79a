#include <gtest/gtest.h>

#include "package/EntryNames.h"

namespace {

struct NameCase {
    const wchar_t* dictId;
    const wchar_t* fileExt;
    bool safe;
};

class EntryNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNameTest, OnlyPlainFileNamesInsideTheDirectory) {
    EXPECT_EQ(IsSafeEntryName(GetParam().dictId, GetParam().fileExt), GetParam().safe)
        << "dictId [" << ::testing::PrintToString(std::wstring(GetParam().dictId)) << "] fileExt ["
        << ::testing::PrintToString(std::wstring(GetParam().fileExt)) << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameTest,
    ::testing::Values(NameCase{L"abc", L".dic", true}, NameCase{L"ABC", L".DIP", true},
                      NameCase{L"\x82f1\x6c49", L".dic", true}, NameCase{L"a.b", L".dic", true},
                      NameCase{L"abc", L"", true}, NameCase{L"", L".dic", false},
                      NameCase{L"console", L".dic", true}, NameCase{L"com10", L".dic", true},
                      NameCase{L"..\\..\\evil", L".dic", false}, NameCase{L"../evil", L".dic", false},
                      NameCase{L"abc", L".dic\\x", false}, NameCase{L"abc", L"/x", false},
                      NameCase{L"C:evil", L".dic", false}, NameCase{L"abc", L".d:c", false},
                      NameCase{L"a*b", L".dic", false}, NameCase{L"a?b", L".dic", false},
                      NameCase{L"a\"b", L".dic", false}, NameCase{L"a<b", L".dic", false},
                      NameCase{L"a>b", L".dic", false}, NameCase{L"a|b", L".dic", false},
                      NameCase{L"a\tb", L".dic", false}, NameCase{L"..", L"", false},
                      NameCase{L".", L"", false}, NameCase{L"", L".", false}, NameCase{L".", L".", false},
                      NameCase{L"", L"", false}, NameCase{L" . ", L"", false},
                      NameCase{L"con", L".dic", false}, NameCase{L"NUL", L"", false},
                      NameCase{L"Com1", L".dic", false}, NameCase{L"lpt9", L".dip", false},
                      NameCase{L"aux ", L".dic", false}, NameCase{L"abc", L".dic.", false},
                      NameCase{L"abc.dic ", L"", false}, NameCase{L"abc.dic", L"._gin_hh_", false},
                      NameCase{L"abc", L".dic._GIN_HH_", false}, NameCase{L"abc._gin_hh_x", L".dic", true}));

}  // namespace
