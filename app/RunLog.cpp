#include "app/RunLog.h"

#include <cwchar>

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

CRunLog* g_processLog = nullptr;

}  // namespace

CRunLog* CRunLog::OfProcess() { return g_processLog; }

bool CRunLog::Open(const std::wstring& path) {
    std::wstring file = path;
    if (file.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        if (GetTempPathW(MAX_PATH + 1, temp) == 0) return false;
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t name[64];
        swprintf(name, 64, LOG_DEFAULT_NAME_FORMAT, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                 now.wSecond);
        file = std::wstring(temp) + name;
    }
    m_file.reset(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (m_file) g_processLog = this;
    return m_file.valid();
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
