// A real window on a thread of its own, standing where the wizard dialog stands: it records
// every worker message (with the text that wParam points to) and answers as told.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/DialogReporter.h"
#include "base/ScopedWin.h"

namespace test {

struct RecordedMessage {
    UINT message;
    std::wstring text;  // the display name or package path, empty for the others
    LPARAM lParam;
};

class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND hwnd() const { return m_hwnd; }
    // The engine's reports as the wizard's messages to this window.
    CDialogReporter& reporter() { return m_reporter; }
    // Every message is answered 1 unless told otherwise.
    void SetAnswer(UINT message, LRESULT answer) { m_answers[message] = answer; }
    // Runs on the window's thread while the worker waits inside SendMessageW.
    std::function<void(const RecordedMessage&)> onMessage;
    // Compact form, e.g. "BEGIN ITEM_BEGIN(abc,1) STEP ITEM_DONE(abc,1) END".
    std::string Sequence() const;

    std::vector<RecordedMessage> messages;

private:
    static DWORD WINAPI ThreadProc(LPVOID self);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    CDialogReporter m_reporter{nullptr};
    std::map<UINT, LRESULT> m_answers;
    qb::ScopedHandle m_ready;
    qb::ScopedHandle m_thread;
};

}  // namespace test
