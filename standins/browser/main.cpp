// Stand-in for the user's web browser: records each address it was asked to open, with the
// token it was started with, in "opened.log" beside it, and ends.
#include <windows.h>

#include <string>

#include "standins/OwnDir.h"
#include "standins/StartRecord.h"
#include "standins/browser/BrowserStandin.h"


int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    standin::AppendLine(standin::OwnDir() + BROWSER_OPENED_FILE,
                        standin::StartRecord() + " address=" + standin::Utf8(parameters != nullptr ? parameters : L""));
    return 0;
}
