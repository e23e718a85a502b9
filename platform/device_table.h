// The input devices as the capture layer numbers them: a snapshot of the sound server's
// sources, taken by RefreshDeviceTable and read by the other functions. Device 0 is the
// server's default source, then the other sources, then the monitor sources, each group by
// the server's index. Safe to call from any thread; the table's lock is never held while the
// server is asked.
#pragma once

#include <cstddef>
#include <string>

#include "wavein.h"

// Replaces the snapshot with the server's sources now and returns how many it holds. An
// unreachable server (or one that does not answer within the connection time) empties it and
// sets error to the server's words; on success error is left alone.
size_t RefreshDeviceTable(std::string& error);

// Fills caps for device number of the snapshot: its description decoded from UTF-8 (malformed
// bytes become U+FFFD), cut to MAXPNAMELEN - 1 characters. MMSYSERR_BADDEVICEID when the
// snapshot has no such device.
MMRESULT DescribeDevice(UINT_PTR number, WAVEINCAPSW& caps);

// The server's name of device number's source, taking a snapshot first if none was ever
// taken. MMSYSERR_NODRIVER with error set when that snapshot could not be taken;
// MMSYSERR_BADDEVICEID with error "No such input device" when there is no such device.
MMRESULT DeviceSource(UINT number, std::string& source, std::string& error);

// Whether the snapshot holds source (by the server's name) as the monitor of a sink. false for
// a source it does not hold.
bool SourceIsMonitor(const std::string& source);
