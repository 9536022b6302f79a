// The run's log: UTF-8, one line per event, each led by the local time to the millisecond.
// Every run appends to the file behind a header line of its own, and every line reaches the
// file when it is written, so a log of a run that was killed ends at the kill. Without a file
// every line is dropped.
//
// The wizard runs elevated or as SYSTEM, so the log is never written through a name that
// another account could have pointed elsewhere: the file is opened without following a
// symbolic link or junction at its name, must be a plain file with one name, and the path the
// system reached it by must be the path asked for (no link or junction on the way).
#pragma once

#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

// "%ProgramData%\Quillbox\Logs\Quillbox-YYYYMMDD-HHMMSS.log" when /LOG names no file. Both
// folders are made for SYSTEM and Administrators only (a protected DACL, as the removal
// records' folders), so that no other account can plant a link or a file of that name in them.
#define LOG_FOLDER_PIECE L"\\Quillbox\\Logs"
#define LOG_DEFAULT_NAME_FORMAT L"\\Quillbox-%04u%02u%02u-%02u%02u%02u.log"
#define LOG_RUN_HEADER L"==== Quillbox run, process "

class CRunLog {
public:
    // The log of this process's run, once opened; null without /LOG. The dialog's worker
    // logs its install there too.
    static CRunLog* OfProcess();

    CRunLog() = default;
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;
    ~CRunLog();

    // path empty: the dated file in the log folder; a relative path is taken from the current
    // directory. Writes the run's header and the log's full path. False with the Windows error
    // when the file cannot be opened or is refused (see above).
    bool Open(const std::wstring& path, DWORD& error);
    bool IsOpen() const { return m_file.valid(); }
    const std::wstring& path() const { return m_strPath; }
    void Line(const std::wstring& text);
    // The line with the Windows error code and its meaning.
    void Failure(const std::wstring& text, DWORD error);
    // Logs the exit code last and hands it back.
    int Exit(int code);

private:
    qb::ScopedHandle m_file;
    std::wstring m_strPath;
};

// One value of a key=value line: as it is, or in double quotes (a quote inside doubled) when
// it holds a space, a tab, a quote or an equals sign.
std::wstring LogValue(const std::wstring& value);
