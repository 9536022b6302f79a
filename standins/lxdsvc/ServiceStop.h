// How the stand-in repair tool asks the stand-in service to end: a named manual-reset event
// that every running service waits on.
#pragma once

#define STANDIN_SERVICE_STOP_EVENT L"Local\\QuillboxStandinLxdsvcStop"
// A file of this name beside the repair tool makes it refuse to stop the service.
#define STANDIN_REPAIR_REFUSE_FILE L"refuse"
// The repair tool appends one line per start, holding its parameters, to this file beside it.
#define STANDIN_REPAIR_CALLS_FILE L"calls.log"
