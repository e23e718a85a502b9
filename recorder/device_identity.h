// Which input device the list showed. Device numbers name whatever sits at that place of the
// system's list now: on Windows the list is live, so a headset plugged in or pulled out after
// the window was filled moves every device behind it. The list therefore keeps, for each
// entry, the identity it was filled from, and the session opens the device that still carries
// it, wherever it now sits, or none.
//
// Threads: the window fills identities on its thread; the worker opens with them.
#pragma once

#include <string>

#include "wavein.h"

// What waveInGetDevCapsW said of a device: its product name and, on Windows, the
// manufacturer and product ids (0 where the backend has none).
struct DeviceIdentity {
    std::wstring name;
    WORD manufacturer = 0;
    WORD product = 0;
    bool operator==(const DeviceIdentity&) const = default;
};

DeviceIdentity IdentityOf(const WAVEINCAPSW& caps);

// Opens capture (OpenCapture) on the device the list showed as number listed with identity:
// on listed while it still names that device, else on the first device that does. Numbers
// that move again while the device opens are caught: a device that no longer carries the
// identity once open is closed and looked up afresh. 1 with *opened set to the number it
// opened under; else 0 with the cause recorded as the session's failure (a device no longer
// in the system's list: 'Cannot open "NAME": it is no longer connected.') and nothing open.
int OpenShownDevice(UINT listed, const DeviceIdentity& identity, UINT* opened);
