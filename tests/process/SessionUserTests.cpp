#include <gtest/gtest.h>

#include <ostream>

#include "host/Desktop.h"
#include "host/ProcessControl.h"
#include "host/SessionUser.h"
#include "standins/lxdsvc/ServiceStop.h"
#include "tests/process/HostFixture.h"

namespace {

using test::HostLayout;

enum class Setting { AsIs, NoDesktop, MissingExe, OtherAccount };

struct StartCase {
    const char* name;
    Setting setting;
    bool started;
    const wchar_t* why;  // the start of the reason when nothing was started
    friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

class SessionUserTest : public ::testing::TestWithParam<StartCase> {
protected:
    void SetUp() override { test::EndAllStandins(); }
    void TearDown() override {
        SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, nullptr);
        test::EndAllStandins();
    }
    HostLayout host;
};

// Under Wine no shell window is set: the desktop window's process, explorer.exe, is the shell.
// What it starts runs as the same account, in the program's own folder, never the caller's.
TEST_P(SessionUserTest, StartsOnlyWhereASignedInUserCanHaveIt) {
    const StartCase& c = GetParam();
    std::wstring own;
    bool elevated = false;
    ASSERT_TRUE(ProcessAccount(GetCurrentProcess(), own, elevated));
    if (c.setting == Setting::NoDesktop) SetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, L"1");
    const std::wstring exe = c.setting == Setting::MissingExe ? host.location + L"\\absent.exe" : host.hostExecutable;
    const std::wstring onlyAs = c.setting == Setting::OtherAccount ? L"ELSEWHERE\\someone" : own;

    const SessionStart start = StartAsSessionUser(exe, L"", L"", onlyAs);

    EXPECT_EQ(start.started, c.started);
    EXPECT_EQ(start.why.rfind(c.why, 0), 0u) << test::Utf8(start.why);
    if (c.setting == Setting::MissingExe) {
        EXPECT_EQ(start.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    if (!c.started) {
        EXPECT_EQ(DescribeStart(L"x", start), L"did not start x: " + start.why);
        Sleep(200);
        EXPECT_FALSE(test::FileExists(host.location + L"\\" STANDIN_SERVICE_STARTS_FILE));
        return;
    }
    EXPECT_EQ(start.account, own);
    EXPECT_EQ(start.shell.rfind(L"explorer.exe (process ", 0), 0u) << test::Utf8(start.shell);
    EXPECT_TRUE(test::WaitUntilRunning(TEST_HOST_EXECUTABLE));
    const std::wstring records = host.location + L"\\" STANDIN_SERVICE_STARTS_FILE;
    for (int look = 0; look < 500 && test::ReadFileBytes(records).empty(); ++look) Sleep(20);
    const std::string record = test::ReadFileBytes(records);
    EXPECT_NE(record.find(" parent=explorer.exe dir=" + test::Utf8(host.location) + "\r\n"), std::string::npos) << record;
}

INSTANTIATE_TEST_SUITE_P(
    Starts, SessionUserTest,
    ::testing::Values(StartCase{"as_is", Setting::AsIs, true, L""},
                      StartCase{"no_one_sees_a_window", Setting::NoDesktop, false,
                                L"no one can see a window here (" WIZ_ENV_ASSUME_NO_DESKTOP L"=1)"},
                      StartCase{"missing_program", Setting::MissingExe, false, L"the start failed (error 2)"},
                      StartCase{"another_account_signed_in", Setting::OtherAccount, false,
                                L"it ran as ELSEWHERE\\someone, the signed-in user is "}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

}  // namespace
