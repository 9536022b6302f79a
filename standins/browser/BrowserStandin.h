// Stand-in for the user's web browser: each address it is asked to open is appended to this
// file beside it, with the token it was started with (standins/StartRecord.h).
#pragma once

#define BROWSER_OPENED_FILE L"opened.log"
