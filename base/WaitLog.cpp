#include "base/WaitLog.h"

#include <cwchar>

namespace qb {
namespace {

// Set once at the start, before any thread that waits exists.
WaitSink g_sink = nullptr;

}  // namespace

void SetWaitSink(WaitSink sink) { g_sink = sink; }

std::wstring WaitLine(const std::wstring& what, DWORD milliseconds, const wchar_t* outcome) {
    wchar_t seconds[32];
    swprintf(seconds, 32, L"%lu.%lu", static_cast<unsigned long>(milliseconds / 1000),
             static_cast<unsigned long>((milliseconds % 1000) / 100));
    return L"waited " + std::wstring(seconds) + L" s for " + what + L" (" + outcome + L")";
}

void ReportWait(const std::wstring& what, DWORD startTick, const wchar_t* outcome) {
    if (g_sink != nullptr) g_sink(WaitLine(what, GetTickCount() - startTick, outcome));
}

void ReportLine(const std::wstring& line) {
    if (g_sink != nullptr) g_sink(line);
}

void ReportHeldFileWait(const std::wstring& path, DWORD startTick, bool letGo) {
    ReportWait(path + L" to be let go", startTick, letGo ? WAIT_OUTCOME_LET_GO : WAIT_OUTCOME_STILL_HELD);
}

}  // namespace qb
