// Owners for Win32 resources: each closes its handle exactly once, on every path.
#pragma once

#include <windows.h>

namespace qb {

template <typename T, typename Traits>
class ScopedResource {
public:
    ScopedResource() = default;
    explicit ScopedResource(T value) : m_value(value) {}
    ~ScopedResource() { reset(); }

    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;
    ScopedResource(ScopedResource&& other) noexcept : m_value(other.release()) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return m_value; }
    bool valid() const { return Traits::IsValid(m_value); }
    explicit operator bool() const { return valid(); }

    T release() {
        T value = m_value;
        m_value = Traits::Invalid();
        return value;
    }
    void reset(T value = Traits::Invalid()) {
        if (Traits::IsValid(m_value)) Traits::Close(m_value);
        m_value = value;
    }

private:
    T m_value = Traits::Invalid();
};

struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};

struct RegKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY k) { return k != nullptr; }
    static void Close(HKEY k) { ::RegCloseKey(k); }
};

struct LibraryTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE m) { return m != nullptr; }
    static void Close(HMODULE m) { ::FreeLibrary(m); }
};

struct IconTraits {
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { ::DestroyIcon(h); }
};

struct ScreenDCTraits {
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC dc) { return dc != nullptr; }
    static void Close(HDC dc) { ::ReleaseDC(nullptr, dc); }
};

struct LocalMemoryTraits {
    static void* Invalid() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Close(void* p) { ::LocalFree(p); }
};

// Files, threads, processes, snapshots, events.
using ScopedHandle = ScopedResource<HANDLE, KernelHandleTraits>;
using ScopedFindHandle = ScopedResource<HANDLE, FindHandleTraits>;
using ScopedRegKey = ScopedResource<HKEY, RegKeyTraits>;
using ScopedLibrary = ScopedResource<HMODULE, LibraryTraits>;
using ScopedIcon = ScopedResource<HICON, IconTraits>;  // loaded with LoadImageW, not shared
using ScopedScreenDC = ScopedResource<HDC, ScreenDCTraits>;  // GetDC(nullptr)
using ScopedLocalMemory = ScopedResource<void*, LocalMemoryTraits>;  // from LocalAlloc, or a call that uses it

}  // namespace qb
