#include "tests/tools/RunDictPack.h"

#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

namespace test {
namespace {

struct Drain {
    HANDLE pipe;
    std::string text;
};

DWORD WINAPI DrainPipe(void* param) {
    Drain* drain = static_cast<Drain*>(param);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(drain->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) drain->text.append(buffer, got);
    return 0;
}

std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

RunResult RunDictPack(const std::vector<std::wstring>& args, const std::wstring& cwd) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE raw[4] = {};
    if (!CreatePipe(&raw[0], &raw[1], &inherit, 0) || !CreatePipe(&raw[2], &raw[3], &inherit, 0)) return result;
    qb::ScopedHandle outRead(raw[0]), outWrite(raw[1]), errRead(raw[2]), errWrite(raw[3]);
    SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);

    const std::wstring exe = test::ExeDir() + L"dictpack.exe";
    std::wstring command = Quote(exe);
    for (const std::wstring& arg : args) command += L" " + Quote(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info))
        return result;
    qb::ScopedHandle process(info.hProcess), thread(info.hThread);
    outWrite.reset();
    errWrite.reset();

    Drain errDrain{errRead.get(), std::string()};
    qb::ScopedHandle errThread(CreateThread(nullptr, 0, DrainPipe, &errDrain, 0, nullptr));
    Drain outDrain{outRead.get(), std::string()};
    DrainPipe(&outDrain);
    WaitForSingleObject(errThread.get(), INFINITE);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &result.code);
    result.out = outDrain.text;
    result.err = errDrain.text;
    return result;
}

}  // namespace test
