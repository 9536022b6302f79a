#include "host/SessionUser.h"

#include <tlhelp32.h>
#include <userenv.h>

#include <vector>

#include "base/ScopedWin.h"
#include "host/Desktop.h"

namespace {

// The parent attribute needs PROCESS_CREATE_PROCESS on the shell; the rest reads its token
// and session.
constexpr DWORD SHELL_ACCESS = PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD SHELL_TOKEN_ACCESS = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE;

class CAttributeList {
public:
    explicit CAttributeList(DWORD count) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, count, 0, &size);
        m_bytes.resize(size);
        if (!InitializeProcThreadAttributeList(get(), count, 0, &size)) m_bytes.clear();
    }
    ~CAttributeList() {
        if (!m_bytes.empty()) DeleteProcThreadAttributeList(get());
    }
    CAttributeList(const CAttributeList&) = delete;
    CAttributeList& operator=(const CAttributeList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() {
        return m_bytes.empty() ? nullptr : reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_bytes.data());
    }

private:
    std::vector<unsigned char> m_bytes;
};

class CEnvironmentBlock {
public:
    explicit CEnvironmentBlock(HANDLE token) {
        if (token != nullptr && !CreateEnvironmentBlock(&m_block, token, FALSE)) m_block = nullptr;
    }
    ~CEnvironmentBlock() {
        if (m_block != nullptr) DestroyEnvironmentBlock(m_block);
    }
    CEnvironmentBlock(const CEnvironmentBlock&) = delete;
    CEnvironmentBlock& operator=(const CEnvironmentBlock&) = delete;
    void* get() const { return m_block; }

private:
    void* m_block = nullptr;
};

std::wstring ExeNameOf(DWORD processId) {
    qb::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    if (!snapshot || !Process32FirstW(snapshot.get(), &entry)) return L"?";
    do {
        if (entry.th32ProcessID == processId) return entry.szExeFile;
    } while (Process32NextW(snapshot.get(), &entry));
    return L"?";
}

// An elevated administrator opens another account's process only with the debug privilege,
// enabled here on a copy of its own token for this thread alone.
qb::ScopedHandle OpenWithDebugPrivilege(DWORD processId) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw)) return qb::ScopedHandle();
    qb::ScopedHandle own(raw);
    if (!DuplicateTokenEx(own.get(), TOKEN_ADJUST_PRIVILEGES | TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                          SecurityImpersonation, TokenImpersonation, &raw))
        return qb::ScopedHandle();
    qb::ScopedHandle copy(raw);
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(copy.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
        GetLastError() == ERROR_NOT_ALL_ASSIGNED || !SetThreadToken(nullptr, copy.get()))
        return qb::ScopedHandle();
    qb::ScopedHandle process(OpenProcess(SHELL_ACCESS, FALSE, processId));
    const DWORD error = GetLastError();
    RevertToSelf();
    SetLastError(error);
    return process;
}

bool ReadTokenUser(HANDLE token, std::vector<unsigned char>& buffer) {
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0) return false;
    buffer.resize(needed);
    return GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed) != FALSE;
}

bool IsServiceAccount(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinLocalServiceSid) ||
           IsWellKnownSid(sid, WinNetworkServiceSid);
}

std::wstring AccountOf(PSID sid) {
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) return L"?";
    return domainLength > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

struct SessionShell {
    qb::ScopedHandle process;
    qb::ScopedHandle token;  // may stay empty: the start still takes the shell's token
    std::wstring name;
    std::wstring account;  // empty when the token cannot be read
};

// The session's shell process that may be a parent, or false with why.
bool FindSessionShell(SessionShell& shell, std::wstring& why) {
    std::wstring unseen;
    if (NoOneCanSeeWindows(unseen)) {
        why = L"no one can see a window here (" + unseen + L")";
        return false;
    }
    HWND window = GetShellWindow();
    if (window == nullptr) window = GetDesktopWindow();
    DWORD processId = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &processId) == 0 || processId == 0) {
        why = L"no shell runs in this session";
        return false;
    }
    shell.name = ExeNameOf(processId) + L" (process " + std::to_wstring(processId) + L")";
    shell.process.reset(OpenProcess(SHELL_ACCESS, FALSE, processId));
    if (!shell.process && GetLastError() == ERROR_ACCESS_DENIED) shell.process = OpenWithDebugPrivilege(processId);
    if (!shell.process) {
        why = L"the shell " + shell.name + L" cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    DWORD ours = 0, theirs = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ours) || !ProcessIdToSessionId(processId, &theirs) ||
        ours != theirs) {
        why = L"the shell " + shell.name + L" is not of this session";
        return false;
    }
    HANDLE raw = nullptr;
    if (OpenProcessToken(shell.process.get(), SHELL_TOKEN_ACCESS, &raw)) shell.token.reset(raw);
    std::vector<unsigned char> user;
    if (!shell.token || !ReadTokenUser(shell.token.get(), user)) return true;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    shell.account = AccountOf(sid);
    if (IsServiceAccount(sid)) {
        why = L"the shell " + shell.name + L" runs as " + shell.account + L", no signed-in user";
        return false;
    }
    return true;
}

}  // namespace

bool ProcessAccount(HANDLE process, std::wstring& account, bool& elevated) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return false;
    qb::ScopedHandle token(raw);
    std::vector<unsigned char> user;
    TOKEN_ELEVATION elevation = {};
    DWORD needed = 0;
    if (!ReadTokenUser(token.get(), user) ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &needed))
        return false;
    account = AccountOf(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    elevated = elevation.TokenIsElevated != 0;
    return true;
}

SessionStart StartAsSessionUser(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                                const std::wstring& onlyAs) {
    SessionStart start;
    SessionShell shell;
    if (!FindSessionShell(shell, start.why)) return start;
    start.shell = shell.name;
    if (!onlyAs.empty() && !shell.account.empty() && _wcsicmp(onlyAs.c_str(), shell.account.c_str()) != 0) {
        start.why = L"it ran as " + onlyAs + L", the signed-in user is " + shell.account;
        return start;
    }

    CAttributeList attributes(1);
    HANDLE parent = shell.process.get();
    if (attributes.get() == nullptr ||
        !UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent, sizeof parent,
                                   nullptr, nullptr)) {
        start.error = GetLastError();
        start.why = L"the start could not be prepared (error " + std::to_wstring(start.error) + L")";
        return start;
    }
    // The user's own variables (profile, temporary folder), not the elevating account's.
    const CEnvironmentBlock environment(shell.token.get());
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_SHOWNORMAL;
    startup.lpAttributeList = attributes.get();
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    // Never the wizard's own folder: the setup folder may be a disk the user wants to remove.
    std::wstring directory = folder;
    if (directory.empty()) directory = exe.substr(0, exe.find_last_of(L'\\'));
    const DWORD flags = EXTENDED_STARTUPINFO_PRESENT | CREATE_DEFAULT_ERROR_MODE |
                        (environment.get() != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, environment.get(),
                        directory.c_str(), &startup.StartupInfo, &info)) {
        start.error = GetLastError();
        start.why = L"the start failed (error " + std::to_wstring(start.error) + L")";
        return start;
    }
    qb::ScopedHandle process(info.hProcess);
    qb::ScopedHandle thread(info.hThread);
    start.started = true;
    start.processId = info.dwProcessId;
    if (!ProcessAccount(process.get(), start.account, start.elevated)) start.account.clear();
    return start;
}

SessionStart OpenAddressAsSessionUser(const std::wstring& address) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SessionStart start;
        start.error = GetLastError();
        start.why = L"the system folder cannot be read";
        return start;
    }
    const std::wstring folder(system, length);
    return StartAsSessionUser(folder + L"\\" RUNDLL_NAME, OPEN_ADDRESS_ENTRY + address, folder);
}

std::wstring DescribeStart(const std::wstring& what, const SessionStart& start) {
    if (!start.started) return L"did not start " + what + L": " + start.why;
    const std::wstring as = start.account.empty() ? std::wstring(L"the shell's user (the token cannot be read)")
                                                  : start.account + (start.elevated ? L" (elevated)" : L" (not elevated)");
    return L"started " + what + L" as " + as + L", process " + std::to_wstring(start.processId) + L", child of " +
           start.shell;
}
