#include "app/RunLog.h"

#include <shlobj.h>

#include <cwchar>
#include <vector>

#include "base/NameFolding.h"
#include "base/ProtectedFolder.h"
#include "base/WaitLog.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::wstring SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

DWORD ErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

CRunLog* g_processLog = nullptr;

// What the lower layers waited for, in the run's log.
void LogWait(const std::wstring& line) {
    if (g_processLog != nullptr) g_processLog->Line(line);
}

bool DefaultLogPath(std::wstring& path, DWORD& error) {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common))) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    const std::wstring folder = std::wstring(common) + LOG_FOLDER_PIECE;
    if (!MakeProtectedFolder(folder, error)) return false;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    swprintf(name, 64, LOG_DEFAULT_NAME_FORMAT, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    path = folder + name;
    return true;
}

// The path without its "\\?\" or "\\?\UNC\" form, as two spellings of one place compare.
std::wstring PlainPath(std::wstring path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

std::wstring LongPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length) : path;
}

// The file at the name itself: a plain file with one name, reached by the path asked for.
bool IsPlainFileAtPath(HANDLE file, const std::wstring& path, DWORD& error) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || GetFileType(file) != FILE_TYPE_DISK) {
        error = ErrorOr(ERROR_BAD_FILE_TYPE);
        return false;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    }
    if (info.nNumberOfLinks > 1) {  // a hard link to a file elsewhere
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    }
    std::vector<wchar_t> final(32768);
    const DWORD length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= final.size()) {
        error = ErrorOr(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    // A symbolic link or junction on the way (one the system followed without saying so, as
    // Wine does with a Unix link) ends the path somewhere else.
    if (!SameFileName(PlainPath(std::wstring(final.data(), length)), PlainPath(LongPath(path)))) {
        error = ERROR_CANT_ACCESS_FILE;
        return false;
    }
    return true;
}

// Opens the log at its name: an existing file to append to, or a new one. A name that exists
// but cannot be opened as a file (a link to nowhere) is never created through.
qb::ScopedHandle OpenAtName(const std::wstring& path, bool& created, DWORD& error) {
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    for (int attempt = 0; attempt < 2; ++attempt) {
        qb::ScopedHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, flags, nullptr));
        if (file || GetLastError() != ERROR_FILE_NOT_FOUND) {
            error = ErrorOr(ERROR_OPEN_FAILED);
            created = false;
            return file;
        }
        // Made by this run: it may go again if it turns out to be in the wrong place.
        file.reset(CreateFileW(path.c_str(), access | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                               flags, nullptr));
        if (file || GetLastError() != ERROR_FILE_EXISTS) {
            error = ErrorOr(ERROR_OPEN_FAILED);
            created = true;
            return file;
        }
    }
    error = ERROR_FILE_EXISTS;
    return qb::ScopedHandle();
}

}  // namespace

std::wstring LogValue(const std::wstring& value) {
    if (!value.empty() && value.find_first_of(L" \t\"=") == std::wstring::npos) return value;
    std::wstring quoted = L"\"";
    for (wchar_t c : value) quoted += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
    return quoted + L"\"";
}

CRunLog* CRunLog::OfProcess() { return g_processLog; }

CRunLog::~CRunLog() {
    if (g_processLog != this) return;
    qb::SetWaitSink(nullptr);
    g_processLog = nullptr;
}

bool CRunLog::Open(const std::wstring& path, DWORD& error) {
    error = ERROR_SUCCESS;
    std::wstring file = path;
    if (file.empty() && !DefaultLogPath(file, error)) return false;
    std::vector<wchar_t> full(32768);
    const DWORD length = GetFullPathNameW(file.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        error = ErrorOr(ERROR_BAD_PATHNAME);
        return false;
    }
    file.assign(full.data(), length);
    bool created = false;
    qb::ScopedHandle handle = OpenAtName(file, created, error);
    if (!handle) return false;
    if (!IsPlainFileAtPath(handle.get(), file, error)) {
        if (created) {
            FILE_DISPOSITION_INFO dispose = {TRUE};
            SetFileInformationByHandle(handle.get(), FileDispositionInfo, &dispose, sizeof dispose);
        }
        return false;
    }
    m_file = std::move(handle);
    m_strPath = file;
    g_processLog = this;
    qb::SetWaitSink(LogWait);
    Line(LOG_RUN_HEADER + std::to_wstring(GetCurrentProcessId()) + L": " + GetCommandLineW());
    Line(L"log: " + m_strPath);
    return true;
}

void CRunLog::Line(const std::wstring& text) {
    if (!m_file) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    const std::string line = Utf8(stamp + text + L"\r\n");
    DWORD written = 0;
    WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void CRunLog::Failure(const std::wstring& text, DWORD error) {
    Line(text + L" (error " + std::to_wstring(error) + L": " + SystemMessage(error) + L")");
}

int CRunLog::Exit(int code) {
    Line(L"exit code " + std::to_wstring(code));
    return code;
}
