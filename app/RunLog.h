// The run's log: UTF-8, one line per event, each led by the local time to the millisecond.
// Every line reaches the file when it is written, so a log of a run that was killed ends at
// the kill. Without a file every line is dropped.
#pragma once

#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

// "%TEMP%\Quillbox-YYYYMMDD-HHMMSS.log" when /LOG names no file.
#define LOG_DEFAULT_NAME_FORMAT L"Quillbox-%04u%02u%02u-%02u%02u%02u.log"

class CRunLog {
public:
    // The log of this process's run, once opened; null without /LOG. The dialog's worker
    // logs its install there too.
    static CRunLog* OfProcess();

    // path empty: the dated file in the temporary folder. False when it cannot be created.
    bool Open(const std::wstring& path);
    bool IsOpen() const { return m_file.valid(); }
    void Line(const std::wstring& text);
    // The line with the Windows error code and its meaning.
    void Failure(const std::wstring& text, DWORD error);
    // Logs the exit code last and hands it back.
    int Exit(int code);

private:
    qb::ScopedHandle m_file;
};
