// The Windows calls that keep the computer awake, gathered so that a test can see them made
// and undone, and can make them fail. Everywhere else they are kernel32's own; a call that
// this Windows lacks is null.
#pragma once

#include <windows.h>

struct PowerRequestCalls {
    HANDLE(WINAPI* create)(PREASON_CONTEXT context);  // PowerCreateRequest
    BOOL(WINAPI* set)(HANDLE request, POWER_REQUEST_TYPE type);
    BOOL(WINAPI* clear)(HANDLE request, POWER_REQUEST_TYPE type);
    BOOL(WINAPI* close)(HANDLE request);                             // CloseHandle
    EXECUTION_STATE(WINAPI* setThreadState)(EXECUTION_STATE flags);  // SetThreadExecutionState
};

// Read only by the session's worker; a test replaces it while no session runs.
extern PowerRequestCalls g_PowerRequestCalls;
