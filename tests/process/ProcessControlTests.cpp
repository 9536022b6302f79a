#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>

#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "tests/process/HostFixture.h"

namespace {

using test::HostLayout;
using test::StartedProcess;

constexpr DWORD SHORT_POLL_MS = 20;
constexpr DWORD CLEAN_EXIT = 0;

class ProcessControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EndAllStandins();
        SetPollIntervalForTesting(SHORT_POLL_MS);
    }
    void TearDown() override {
        SetPollIntervalForTesting(POLL_INTERVAL_MS);
        test::EndAllStandins();
    }
    HostLayout host;
};

TEST_F(ProcessControlTest, FindMatchesWholeNameIgnoringCase) {
    auto service = test::StartService();
    ASSERT_TRUE(service->running());
    struct Case {
        const wchar_t* name;
        bool found;
    } cases[] = {
        {L"lxdsvc.exe", true}, {L"LXDSVC.EXE", true}, {L"LxdSvc.Exe", true},
        {L"lxdsvc", false},    {L"xdsvc.exe", false}, {L"lxdsvc.exe ", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        DWORD id = 12345;
        EXPECT_EQ(FindProcessByName(c.name, id), c.found) << test::Utf8(c.name);
        if (!c.found) {
            EXPECT_EQ(id, 12345u) << "output touched for " << test::Utf8(c.name);
        }
    }
}

TEST_F(ProcessControlTest, NullNamesAreRefused) {
    EXPECT_FALSE(KillProcessByName(nullptr));
    EXPECT_FALSE(StopProcessWithRepairTool(nullptr));
}

TEST_F(ProcessControlTest, NothingRunningNeedsNothingStarted) {
    EXPECT_TRUE(StopDictService());
    EXPECT_TRUE(StopProcessWithRepairTool(DICT_SERVICE_NAME));
    EXPECT_TRUE(KillProcessByName(DICT_SERVICE_NAME));
    EXPECT_EQ(host.RepairToolCalls(), "") << "the repair tool was started";
}

enum class Tool { Present, Missing, Refuses };

struct StopCase {
    const char* name;
    Tool tool;
    DWORD serviceExitCode;  // 0: ended by the repair tool, 4: terminated
    const char* toolCalls;
    friend void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }
};

class StopDictServiceTest : public ProcessControlTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDictServiceTest, EndsTheServiceGentlyFirst) {
    const StopCase& c = GetParam();
    if (c.tool == Tool::Missing) host.RemoveRepairTool();
    if (c.tool == Tool::Refuses) host.MakeRepairToolRefuse();
    auto service = test::StartService();
    ASSERT_TRUE(service->running());

    EXPECT_TRUE(StopDictService());

    EXPECT_EQ(service->WaitForExitCode(), c.serviceExitCode);
    DWORD id = 0;
    EXPECT_FALSE(FindProcessByName(DICT_SERVICE_NAME, id));
    EXPECT_EQ(host.RepairToolCalls(), c.toolCalls);
}

INSTANTIATE_TEST_SUITE_P(Services, StopDictServiceTest,
                         ::testing::Values(StopCase{"tool_stops_it", Tool::Present, CLEAN_EXIT, "-S\r\n"},
                                           StopCase{"tool_missing", Tool::Missing, TERMINATED_EXIT_CODE, ""},
                                           StopCase{"tool_refuses", Tool::Refuses, TERMINATED_EXIT_CODE, "-S\r\n"}),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(ProcessControlTest, RepairToolThatCannotStopItReportsFalse) {
    host.MakeRepairToolRefuse();
    auto service = test::StartService();
    EXPECT_FALSE(StopProcessWithRepairTool(DICT_SERVICE_NAME));
    EXPECT_TRUE(service->running());
}

// The waits between polls answer messages sent from other threads and processes, so a window of
// the stopping thread (the wizard's hidden dialog at the finish) can be reached meanwhile.
TEST_F(ProcessControlTest, StopAnswersMessagesSentWhileItWaits) {
    host.MakeRepairToolRefuse();
    auto service = test::StartService();
    std::unique_ptr<std::remove_pointer_t<HWND>, BOOL(WINAPI*)(HWND)> window(
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr), DestroyWindow);
    ASSERT_NE(window, nullptr);
    std::atomic<bool> stopping{true}, answered{false};
    bool answeredWhileStopping = false;
    std::thread sender([&] {
        Sleep(3 * SHORT_POLL_MS);
        SendMessageW(window.get(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"shown again"));
        answeredWhileStopping = stopping;
        answered = true;
    });

    EXPECT_TRUE(StopDictService());
    stopping = false;
    while (!answered) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        Sleep(1);
    }
    sender.join();
    EXPECT_TRUE(answeredWhileStopping);
}

TEST_F(ProcessControlTest, KillEndsOnlyTheFirstOfTwo) {
    auto first = test::StartService();
    auto second = test::StartService();
    ASSERT_TRUE(first->running());
    ASSERT_TRUE(second->running());

    EXPECT_FALSE(KillProcessByName(DICT_SERVICE_NAME));

    EXPECT_NE(first->running(), second->running()) << "exactly one should have been terminated";
    const StartedProcess& ended = first->running() ? *second : *first;
    EXPECT_EQ(ended.WaitForExitCode(), static_cast<DWORD>(TERMINATED_EXIT_CODE));
}

TEST_F(ProcessControlTest, ServiceThatOutlivesBothWaysReportsFalse) {
    host.MakeRepairToolRefuse();
    auto first = test::StartService();
    auto second = test::StartService();

    EXPECT_FALSE(StopDictService());

    EXPECT_TRUE(first->running() || second->running());
    EXPECT_EQ(host.RepairToolCalls(), "-S\r\n");
}

TEST_F(ProcessControlTest, LaunchStartsTheHostExecutable) {
    EXPECT_TRUE(LaunchHostExecutable());
    EXPECT_TRUE(test::WaitUntilRunning(TEST_HOST_EXECUTABLE));
}

TEST_F(ProcessControlTest, LaunchWithoutHostExecutableStartsNothing) {
    ASSERT_TRUE(DeleteFileW(host.hostExecutable.c_str()));
    EXPECT_FALSE(LaunchHostExecutable());
    Sleep(200);
    DWORD id = 0;
    EXPECT_FALSE(FindProcessByName(TEST_HOST_EXECUTABLE, id));
}

}  // namespace
