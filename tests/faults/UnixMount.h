// A small file system of limited size (or a read-only one) over a folder of the test's
// machine, made with the host's mount command through Wine's Z: drive. Needs root.
#pragma once

#include <windows.h>

#include <string>

namespace faults {

// Runs a /bin/sh script on the Unix side and returns its exit status, or -1 when it could
// not be run. The status travels through a file beside marker.
int RunShell(const std::string& script, const std::wstring& marker);

// The Unix path of a Windows path, or empty.
std::string UnixPath(const std::wstring& path);

class TmpfsMount {
public:
    // Mounts a tmpfs of sizeKb over dir (which must exist and be empty); scratch is a folder
    // outside dir for the shell's status files.
    TmpfsMount(const std::wstring& dir, unsigned sizeKb, const std::wstring& scratch);
    ~TmpfsMount();  // unmounts
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    // Everything written so far stays; nothing more can be written, renamed or deleted.
    bool MakeReadOnly();

private:
    std::string m_unixDir;
    std::wstring m_scratch;
    bool m_mounted = false;
};

}  // namespace faults
