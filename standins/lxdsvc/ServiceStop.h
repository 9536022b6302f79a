// How the stand-in repair tool asks the stand-in service to end: a named manual-reset event
// that every running service waits on.
#pragma once

#define STANDIN_SERVICE_STOP_EVENT L"Local\\QuillboxStandinLxdsvcStop"
// A file of this name beside the repair tool makes it refuse to stop the service.
#define STANDIN_REPAIR_REFUSE_FILE L"refuse"
// The service appends one line per start, what it was started with (StartRecord.h), to this
// file beside it.
#define STANDIN_SERVICE_STARTS_FILE L"lxdsvc-starts.log"
// When this file lies beside the service, it names (UTF-16) a file the service holds open
// without sharing while it runs, as the real one holds its dictionaries.
#define STANDIN_SERVICE_HOLD_FILE L"hold.txt"
// The repair tool appends one line per start, holding its parameters, to this file beside it.
#define STANDIN_REPAIR_CALLS_FILE L"calls.log"
