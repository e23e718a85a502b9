// A power request naming the file; where this Windows cannot make one, the execution state of
// the worker, the thread that lives through the session.
#include <cstdio>
#include <string>

#include "keep_awake.h"
#include "power_request_win32.h"
#include "text_conversion.h"

namespace {
template <typename Function>
Function Kernel32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

HANDLE g_hPowerRequest = nullptr;
bool g_bThreadStateSet = false;
}  // namespace

PowerRequestCalls g_PowerRequestCalls = {
    Kernel32<decltype(PowerRequestCalls::create)>("PowerCreateRequest"),
    Kernel32<decltype(PowerRequestCalls::set)>("PowerSetRequest"),
    Kernel32<decltype(PowerRequestCalls::clear)>("PowerClearRequest"),
    &CloseHandle,
    &SetThreadExecutionState,
};

void BeginKeepAwake(const std::wstring& outputPath) {
    const PowerRequestCalls& calls = g_PowerRequestCalls;
    std::wstring reason = L"Recording to " + PathFromWide(outputPath).filename().wstring();
    if (calls.create != nullptr && calls.set != nullptr && calls.clear != nullptr) {
        REASON_CONTEXT context = {};
        context.Version = POWER_REQUEST_CONTEXT_VERSION;
        context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
        context.Reason.SimpleReasonString = reason.data();
        const HANDLE request = calls.create(&context);
        if (request != INVALID_HANDLE_VALUE && request != nullptr) {
            if (calls.set(request, PowerRequestSystemRequired)) {
                g_hPowerRequest = request;
                return;
            }
            calls.close(request);
        }
    }
    g_bThreadStateSet = calls.setThreadState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    if (!g_bThreadStateSet)
        std::fprintf(stderr,
                     "Voxmere: the computer may fall asleep during this recording: Windows refused.\n");
}

// Windows answers every call at once: there is nothing to take.
void ServeKeepAwake() {}

void EndKeepAwake() {
    const PowerRequestCalls& calls = g_PowerRequestCalls;
    if (g_hPowerRequest != nullptr) {
        calls.clear(g_hPowerRequest, PowerRequestSystemRequired);
        calls.close(g_hPowerRequest);
        g_hPowerRequest = nullptr;
    }
    if (g_bThreadStateSet) {
        calls.setThreadState(ES_CONTINUOUS);
        g_bThreadStateSet = false;
    }
}
