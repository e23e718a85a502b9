#include "device_identity.h"

#include <cwchar>
#include <optional>

#include "capture.h"
#include "failure.h"
#include "text_conversion.h"

namespace {
// A device whose number moves at every look-up is being plugged and unplugged: a few tries,
// then the person is told rather than kept waiting.
constexpr int kOpenAttempts = 3;

bool Carries(UINT number, const DeviceIdentity& identity) {
    WAVEINCAPSW caps = {};
    return waveInGetDevCapsW(number, &caps, sizeof(caps)) == MMSYSERR_NOERROR && IdentityOf(caps) == identity;
}

// Far more input devices than any system has: a backend that never answers
// MMSYSERR_BADDEVICEID past its last device must not keep the search going for ever.
constexpr UINT kMostDevices = 256;

// The number that names the device now: listed first, then the others in order. Devices are
// numbered from 0 without gaps, so the first number the system does not know ends the search.
// Asks nothing but the capabilities: a backend that numbers from a snapshot keeps it.
std::optional<UINT> FindDevice(UINT listed, const DeviceIdentity& identity) {
    if (Carries(listed, identity))
        return listed;
    for (UINT number = 0; number < kMostDevices; ++number) {
        WAVEINCAPSW caps = {};
        const MMRESULT result = waveInGetDevCapsW(number, &caps, sizeof(caps));
        if (result == MMSYSERR_BADDEVICEID)
            break;
        if (result == MMSYSERR_NOERROR && IdentityOf(caps) == identity)
            return number;
    }
    return std::nullopt;
}
}  // namespace

DeviceIdentity IdentityOf(const WAVEINCAPSW& caps) {
    return {std::wstring(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN)), caps.wMid, caps.wPid};
}

int OpenShownDevice(UINT listed, const DeviceIdentity& identity, UINT* opened) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        const std::optional<UINT> number = FindDevice(listed, identity);
        if (!number) {
            RecordFailure("Cannot open \"" + ToUtf8(identity.name) +
                          "\": it is no longer connected. Connect it again, or choose another input device.");
            return 0;
        }
        if (OpenCapture(*number) == 0)
            return 0;
        // The numbers may have moved between the look-up and the open, and the open then took
        // whatever sat at the number: only a number that still names the device proves it.
        if (Carries(*number, identity)) {
            *opened = *number;
            return 1;
        }
        CloseCapture();
    }
    RecordFailure("Cannot open \"" + ToUtf8(identity.name) +
                  "\": the system's list of input devices kept changing while it was opened. Press Start "
                  "again.");
    return 0;
}
