#include "tests/install/MessageRecorder.h"

#include "app/WizardMessages.h"
#include "tests/support/TestSupport.h"

namespace test {

namespace {

const wchar_t RECORDER_CLASS[] = L"QuillboxTestMessageRecorder";

const char* NameOf(UINT message) {
    switch (message) {
        case WM_WIZ_INSTALL_BEGIN: return "BEGIN";
        case WM_WIZ_INSTALL_END: return "END";
        case WM_WIZ_ITEM_BEGIN: return "ITEM_BEGIN";
        case WM_WIZ_ITEM_DONE: return "ITEM_DONE";
        case WM_WIZ_STEP: return "STEP";
        case WM_WIZ_ITEM_FAILED: return "ITEM_FAILED";
        case WM_WIZ_PACKAGE_BAD: return "PACKAGE_BAD";
    }
    return "?";
}

bool CarriesText(UINT message) {
    return message == WM_WIZ_ITEM_BEGIN || message == WM_WIZ_ITEM_DONE || message == WM_WIZ_ITEM_FAILED ||
           message == WM_WIZ_PACKAGE_BAD;
}

}  // namespace

MessageRecorder::MessageRecorder() {
    m_ready.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_thread.reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
    HANDLE waits[] = {m_ready.get(), m_thread.get()};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

MessageRecorder::~MessageRecorder() {
    if (m_hwnd != nullptr) PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
    WaitForSingleObject(m_thread.get(), INFINITE);
}

DWORD WINAPI MessageRecorder::ThreadProc(LPVOID self) {
    MessageRecorder* recorder = static_cast<MessageRecorder*>(self);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = RECORDER_CLASS;
    RegisterClassW(&windowClass);  // fails harmlessly when an earlier recorder registered it
    recorder->m_hwnd = CreateWindowExW(0, RECORDER_CLASS, L"recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                       nullptr, windowClass.hInstance, recorder);
    recorder->m_reporter = CDialogReporter(recorder->m_hwnd);
    SetEvent(recorder->m_ready.get());
    if (recorder->m_hwnd == nullptr) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

LRESULT CALLBACK MessageRecorder::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    MessageRecorder* recorder = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message >= WM_WIZ_INSTALL_BEGIN && message <= WM_WIZ_PACKAGE_BAD && recorder != nullptr) {
        RecordedMessage record{message, std::wstring(), lParam};
        if (CarriesText(message) && wParam != 0) record.text = reinterpret_cast<const wchar_t*>(wParam);
        if (recorder->onMessage) recorder->onMessage(record);
        recorder->messages.push_back(record);
        const auto answer = recorder->m_answers.find(message);
        return answer == recorder->m_answers.end() ? 1 : answer->second;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::string MessageRecorder::Sequence() const {
    std::string out;
    for (const RecordedMessage& record : messages) {
        if (!out.empty()) out += ' ';
        out += NameOf(record.message);
        if (record.message == WM_WIZ_PACKAGE_BAD) {
            out += "(" + Utf8(record.text) + ")";
        } else if (CarriesText(record.message)) {
            out += "(" + Utf8(record.text) + "," + std::to_string(record.lParam) + ")";
        }
    }
    return out;
}

}  // namespace test
