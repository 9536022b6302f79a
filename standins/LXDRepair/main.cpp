// Stand-in for the host's repair tool: "-S" stops the stand-in service, unless a file
// "refuse" lies beside the tool. Every start is logged beside the tool so tests can tell
// whether and how it was started.
#include <windows.h>

#include <string>

#include "base/ScopedWin.h"
#include "standins/OwnDir.h"
#include "standins/lxdsvc/ServiceStop.h"

namespace {

void LogCall(const std::wstring& dir, const wchar_t* parameters) {
    qb::ScopedHandle log(CreateFileW((dir + STANDIN_REPAIR_CALLS_FILE).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    if (!log) return;
    std::string line;
    for (const wchar_t* p = parameters; *p != L'\0'; ++p) line += static_cast<char>(*p < 128 ? *p : '?');
    line += "\r\n";
    DWORD written = 0;
    WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    const std::wstring dir = standin::OwnDir();
    LogCall(dir, parameters != nullptr ? parameters : L"");
    if (parameters == nullptr || std::wstring(parameters) != L"-S") return 2;
    if (GetFileAttributesW((dir + STANDIN_REPAIR_REFUSE_FILE).c_str()) != INVALID_FILE_ATTRIBUTES) return 3;
    qb::ScopedHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, STANDIN_SERVICE_STOP_EVENT));
    if (!stop) return 0;  // no service running
    SetEvent(stop.get());
    return 0;
}
