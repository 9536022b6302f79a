#include "tests/tools/RunDictPack.h"

#include "base/ScopedWin.h"
#include "tests/support/TestSupport.h"

#include <memory>

namespace test {
namespace {

// A run that takes longer is stuck, whatever the machine: a run of dictpack takes well under
// a second natively and a few seconds where 32-bit code is emulated.
constexpr DWORD DICTPACK_EXIT_WAIT_MS = 180000;
// Once the tool has ended, its pipes close at once unless another process inherited them.
constexpr DWORD PIPE_CLOSE_WAIT_MS = 10000;

// The reading thread owns its share of the state: a drain that is given up on (a process that
// never closes the pipe) may outlive the call.
struct Drain {
    qb::ScopedHandle pipe;
    CRITICAL_SECTION lock;
    std::string text;
    explicit Drain(HANDLE handle) : pipe(handle) { InitializeCriticalSection(&lock); }
    std::string Text() {
        EnterCriticalSection(&lock);
        std::string copy = text;
        LeaveCriticalSection(&lock);
        return copy;
    }
};

DWORD WINAPI DrainPipe(void* param) {
    std::shared_ptr<Drain> drain(*static_cast<std::shared_ptr<Drain>*>(param));
    delete static_cast<std::shared_ptr<Drain>*>(param);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(drain->pipe.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        EnterCriticalSection(&drain->lock);
        drain->text.append(buffer, got);
        LeaveCriticalSection(&drain->lock);
    }
    return 0;
}

qb::ScopedHandle StartDrain(const std::shared_ptr<Drain>& drain) {
    auto* param = new std::shared_ptr<Drain>(drain);
    HANDLE thread = CreateThread(nullptr, 0, DrainPipe, param, 0, nullptr);
    if (thread == nullptr) delete param;
    return qb::ScopedHandle(thread);
}

// False when the pipe stayed open: its reader is cancelled, or left behind when even that fails.
bool FinishDrain(const qb::ScopedHandle& thread) {
    if (!thread) return false;
    if (WaitForSingleObject(thread.get(), PIPE_CLOSE_WAIT_MS) == WAIT_OBJECT_0) return true;
    CancelSynchronousIo(thread.get());
    WaitForSingleObject(thread.get(), 1000);
    return false;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
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

    auto errDrain = std::make_shared<Drain>(errRead.release());
    auto outDrain = std::make_shared<Drain>(outRead.release());
    const qb::ScopedHandle errThread = StartDrain(errDrain), outThread = StartDrain(outDrain);

    std::string stuck;
    if (WaitForSingleObject(process.get(), DICTPACK_EXIT_WAIT_MS) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), 5000);
        stuck = "\n[test] dictpack.exe did not exit within " + std::to_string(DICTPACK_EXIT_WAIT_MS / 1000) +
                " s and was ended: " + Narrow(command) + "\n";
    } else {
        GetExitCodeProcess(process.get(), &result.code);
    }
    const bool outClosed = FinishDrain(outThread), errClosed = FinishDrain(errThread);
    if (!outClosed || !errClosed)
        stuck += "\n[test] dictpack.exe's output pipe stayed open " + std::to_string(PIPE_CLOSE_WAIT_MS / 1000) +
                 " s after it ended (another process holds it): " + Narrow(command) + "\n";
    result.out = outDrain->Text();
    result.err = errDrain->Text() + stuck;
    return result;
}

}  // namespace test
