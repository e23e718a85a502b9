// A scripted waveIn device for unit tests, linked in place of the PulseAudio backend. The
// test plays the device: it fills buffers, hands them back, refuses operations; reports go
// to the engine's callback on a notification thread of this backend, one at a time, in
// order, as the real device delivers them. The device never waits for a report to be handled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wavein.h"

namespace scripted {

struct Device {
    std::wstring name;
    bool capsFail = false;  // waveInGetDevCapsW fails for it
    bool monitor = false;   // waveInIsMonitor says so once it is open
    WORD manufacturer = 0;  // wMid
    WORD product = 0;       // wPid
};

// Forgets every device, refusal and call; waits for pending reports first.
void Reset();
void SetDevices(std::vector<Device> devices);
// The next waveInOpen, once it has taken its device number, replaces the devices: the
// system's numbers moving while a device opens.
void SetDevicesAtOpen(std::vector<Device> devices);

// The next waveInOpen fails with code, the server's words being serverText.
void RefuseOpen(MMRESULT code, std::string serverText);
// The next waveInStart fails with code.
void RefuseStart(MMRESULT code);
// waveInAddBuffer succeeds count more times, then fails with WAVERR_UNPREPARED... until Reset.
void RefuseAddBufferAfter(int count);

// Fills the head queued buffer with bytes of audio and reports it. Every 16-bit value is the
// running count of values captured since the open, so a test can tell which audio reached
// the encoder and in which order. withDone false reports it without WHDR_DONE. Returns false
// when nothing is queued or the device is not capturing.
bool FillNext(uint32_t bytes, bool withDone = true);
// Fills the head queued buffer partly without handing it back (waveInStop/waveInReset will).
bool FillPartly(uint32_t bytes);
// The device drops frames of audio for want of a queued buffer (waveInGetLostFrames grows).
void LoseFrames(uint64_t frames);
// The next waveInReset acts as a broken driver: it hands back the buffer being filled but
// keeps the queued ones, and the device is then detached (the next waveInOpen opens a fresh
// one) and holds them until ReportKept. The reset returns result (a device that went away
// mid-take fails it).
void BreakOnReset(MMRESULT result = MMSYSERR_NOERROR);
// The detached device writes bytes of audio into each buffer it kept and reports it, late.
void ReportKept(uint32_t bytes);
// waveInStop blocks, as a driver that never returns, until ReleaseStop (or Reset).
void HangStop();
void ReleaseStop();
// Reports a message other than WIM_DATA to the callback.
void SendMessage(UINT uMsg);
// Waits until every report so far has been handled by the callback.
void WaitForReports();

// waveInGetPosition answers as a source that delivers in real time: the frames of the time
// spent capturing since the open, whatever the test fills.

// Until Reset, the source delivers nothing more: the position stands where it is now (at 0
// before the open or the start).
void StopDelivering();
// Until Reset, every value filled is 0 but the one with this running count since the open, 1:
// a source of digital silence, with at most one sample of sound.
void DeliverSilence(uint64_t soundAtValue = UINT64_MAX);

// Until Reset, the device counts as Windows' own waveIn does: its position is the audio
// placed in buffers (what the test fills), and it counts no drops.
void CountOnlyBufferedAudio();

// What the engine did to the device.
bool IsOpen();
bool IsCapturing();
size_t QueuedCount();
UINT OpenedDeviceNumber();
WAVEFORMATEX OpenedFormat();
// The device operations in call order, by name without the "waveIn" prefix:
// "Open", "Prepare", "AddBuffer", "Start", "Stop", "Reset", "Unprepare", "Close".
std::vector<std::string> Calls();

}  // namespace scripted
