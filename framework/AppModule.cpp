#include "framework/AppModule.h"

#include <algorithm>

CAppModule g_appModule;

namespace {

template <typename T>
BOOL AddUnique(std::vector<T*>& list, T* item) {
    if (item == nullptr || std::find(list.begin(), list.end(), item) != list.end()) return FALSE;
    list.push_back(item);
    return TRUE;
}

template <typename T>
BOOL RemoveItem(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return FALSE;
    list.erase(it);
    return TRUE;
}

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~CriticalSectionLock() { ::LeaveCriticalSection(&m_cs); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

}  // namespace

BOOL CMessageLoop::AddMessageFilter(CMessageFilter* pFilter) { return AddUnique(m_filters, pFilter); }
BOOL CMessageLoop::RemoveMessageFilter(CMessageFilter* pFilter) { return RemoveItem(m_filters, pFilter); }
BOOL CMessageLoop::AddIdleHandler(CIdleHandler* pHandler) { return AddUnique(m_idleHandlers, pHandler); }
BOOL CMessageLoop::RemoveIdleHandler(CIdleHandler* pHandler) { return RemoveItem(m_idleHandlers, pHandler); }

int CMessageLoop::Run() {
    bool doIdle = true;
    MSG msg = {};
    for (;;) {
        if (doIdle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            OnIdle();
            doIdle = false;
        }
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (got == 0) break;
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (IsIdleMessage(msg)) doIdle = true;
    }
    return static_cast<int>(msg.wParam);
}

BOOL CMessageLoop::PreTranslateMessage(MSG* pMsg) {
    // A filter may remove itself (its window is destroyed by the message it handles), so the
    // index is checked again on every round instead of iterating a snapshot of the list.
    for (size_t i = m_filters.size(); i-- > 0;) {
        if (i >= m_filters.size()) continue;
        if (m_filters[i]->PreTranslateMessage(pMsg)) return TRUE;
    }
    return FALSE;
}

void CMessageLoop::OnIdle() {
    for (size_t i = 0; i < m_idleHandlers.size(); ++i) m_idleHandlers[i]->OnIdle();
}

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
    switch (msg.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case 0x0118:  // WM_SYSTIMER: the caret's blink
        return false;
    default:
        return true;
    }
}

CAppModule::CAppModule() { ::InitializeCriticalSection(&m_cs); }

CAppModule::~CAppModule() { ::DeleteCriticalSection(&m_cs); }

HRESULT CAppModule::Init(const void* /*pObjMap*/, HINSTANCE hInstance, const GUID* /*pLibID*/) {
    m_hInstance = hInstance;
    return S_OK;
}

void CAppModule::Term() {
    CriticalSectionLock lock(m_cs);
    m_loops.clear();
}

BOOL CAppModule::AddMessageLoop(CMessageLoop* pLoop) {
    if (pLoop == nullptr) return FALSE;
    CriticalSectionLock lock(m_cs);
    return m_loops.emplace(::GetCurrentThreadId(), pLoop).second ? TRUE : FALSE;
}

BOOL CAppModule::RemoveMessageLoop() {
    CriticalSectionLock lock(m_cs);
    return m_loops.erase(::GetCurrentThreadId()) != 0 ? TRUE : FALSE;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) {
    CriticalSectionLock lock(m_cs);
    auto it = m_loops.find(threadId);
    return it == m_loops.end() ? nullptr : it->second;
}
