// The application module and the per-thread message loop that the wizard's dialog plugs into.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

class CMessageFilter {
public:
    virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    virtual BOOL OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop {
public:
    BOOL AddMessageFilter(CMessageFilter* pFilter);
    BOOL RemoveMessageFilter(CMessageFilter* pFilter);
    BOOL AddIdleHandler(CIdleHandler* pHandler);
    BOOL RemoveIdleHandler(CIdleHandler* pHandler);

    // Runs until WM_QUIT and returns its wParam.
    int Run();

    // Filters are asked most recently added first; the first that returns TRUE consumes the message.
    BOOL PreTranslateMessage(MSG* pMsg);
    void OnIdle();
    // Messages that are not worth another round of idle handlers.
    static bool IsIdleMessage(const MSG& msg);

private:
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};

class CAppModule {
public:
    CAppModule();
    ~CAppModule();
    CAppModule(const CAppModule&) = delete;
    CAppModule& operator=(const CAppModule&) = delete;

    // The object map and type library are accepted for the usual signature and not used.
    HRESULT Init(const void* pObjMap, HINSTANCE hInstance, const GUID* pLibID = nullptr);
    void Term();
    HINSTANCE GetModuleInstance() const { return m_hInstance; }
    HINSTANCE GetResourceInstance() const { return m_hInstance; }

    BOOL AddMessageLoop(CMessageLoop* pLoop);
    BOOL RemoveMessageLoop();
    CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId());

private:
    HINSTANCE m_hInstance = nullptr;
    CRITICAL_SECTION m_cs;
    std::map<DWORD, CMessageLoop*> m_loops;
};

// The process's one module, constructed before the entry point runs.
extern CAppModule g_appModule;
