// The SHA-256 of an entry's bytes, taken on a thread of its own one block behind the copy:
// the copy spends its time waiting for the dialog to answer each progress step, and the
// hash runs in that time instead of adding to it. Without a thread it hashes in line.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "base/ScopedWin.h"
#include "package/PackageSeal.h"

class CEntryHasher {
public:
    CEntryHasher();
    ~CEntryHasher();
    CEntryHasher(const CEntryHasher&) = delete;
    CEntryHasher& operator=(const CEntryHasher&) = delete;

    void Add(const void* data, size_t count);
    // The digest of everything added; false when hashing failed.
    bool Finish(EntryDigest& digest);

    // Benchmark seam: hash in line, in blocks of the same size, on the copy's own thread.
    static void SetInLineForTesting(bool inLine);

private:
    static DWORD WINAPI HashBlocks(LPVOID self);
    void HandOver();
    void WaitForBlock();

    CSha256 m_hash;
    std::vector<char> m_filling;  // the copy's side
    std::vector<char> m_hashing;  // the thread's side while a block is handed over
    qb::ScopedHandle m_blockReady, m_blockDone, m_thread;
    bool m_busy = false;    // a block is with the thread
    bool m_stop = false;    // read by the thread after m_blockReady
    bool m_failed = false;  // written by the thread before m_blockDone
};
