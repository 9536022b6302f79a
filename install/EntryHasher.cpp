#include "install/EntryHasher.h"

#include "install/InstallEngine.h"

namespace {
bool g_hashInLine = false;
}

void CEntryHasher::SetInLineForTesting(bool inLine) { g_hashInLine = inLine; }

CEntryHasher::CEntryHasher()
    : m_blockReady(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_blockDone(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    m_filling.reserve(HASH_BLOCK_BYTES);
    if (m_blockReady && m_blockDone && !g_hashInLine) m_thread.reset(CreateThread(nullptr, 0, HashBlocks, this, 0, nullptr));
    if (m_thread) m_hashing.reserve(HASH_BLOCK_BYTES);
}

CEntryHasher::~CEntryHasher() {
    if (!m_thread) return;
    WaitForBlock();
    m_stop = true;
    SetEvent(m_blockReady.get());
    WaitForSingleObject(m_thread.get(), INFINITE);
}

DWORD WINAPI CEntryHasher::HashBlocks(LPVOID self) {
    CEntryHasher* hasher = static_cast<CEntryHasher*>(self);
    for (;;) {
        WaitForSingleObject(hasher->m_blockReady.get(), INFINITE);
        if (hasher->m_stop) return 0;
        if (!hasher->m_hash.Update(hasher->m_hashing.data(), hasher->m_hashing.size())) hasher->m_failed = true;
        SetEvent(hasher->m_blockDone.get());
    }
}

void CEntryHasher::WaitForBlock() {
    if (!m_busy) return;
    WaitForSingleObject(m_blockDone.get(), INFINITE);
    m_busy = false;
}

void CEntryHasher::HandOver() {
    if (!m_thread) {
        if (!m_hash.Update(m_filling.data(), m_filling.size())) m_failed = true;
        m_filling.clear();
        return;
    }
    WaitForBlock();
    m_hashing.swap(m_filling);
    m_filling.clear();
    m_busy = true;
    SetEvent(m_blockReady.get());
}

void CEntryHasher::Add(const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const size_t part = count < HASH_BLOCK_BYTES - m_filling.size() ? count : HASH_BLOCK_BYTES - m_filling.size();
        m_filling.insert(m_filling.end(), bytes, bytes + part);
        bytes += part;
        count -= part;
        if (m_filling.size() == HASH_BLOCK_BYTES) HandOver();
    }
}

bool CEntryHasher::Finish(EntryDigest& digest) {
    if (!m_filling.empty()) HandOver();
    WaitForBlock();
    return !m_failed && m_hash.Finish(digest);
}
