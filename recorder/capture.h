// Audio capture: three one-second buffers of 16-bit stereo PCM at 44100 Hz rotating through
// the input device. Each filled buffer is encoded and appended to the output on the device's
// notification thread, in fill order, and queued again.
//
// Owners, per thread:
//   - *g_WaveHeaders and their lpData blocks: the worker between OpenCapture and waveInStart
//     and again inside CloseCapture after every buffer is back; the device while a header is
//     queued; the notification thread while it handles a report. A table that a device
//     never gave back stays that device's for the rest of the process (see CloseCapture).
//   - g_pEncodedBuffer, g_dwEncodedBytes: the notification thread, under g_hCaptureMutex.
//   - g_hWaveIn: written by the worker (OpenCapture, CloseCapture), read under the mutex.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "loss.h"
#include "wavein.h"

constexpr DWORD kCaptureBufferCount = 3;
constexpr DWORD kEncodedBlockBytes = 705600;  // four capture buffers' worth

// The engine's one lock: held across the whole handling of a buffer and across the parts of
// the teardown that touch buffers or the device.
extern std::mutex g_hCaptureMutex;
extern HWAVEIN g_hWaveIn;
extern WAVEFORMATEX g_WaveFormat;
// The current session's table of headers. Null once devices have kept too many tables:
// capture then refuses to open.
extern WAVEHDR (*g_WaveHeaders)[kCaptureBufferCount];
extern unsigned char* g_pEncodedBuffer;
extern DWORD g_dwEncodedBytes;

// Buffers handed to the device and not yet handled after coming back. CloseCapture waits for
// it to reach 0 before it releases anything.
extern std::atomic<DWORD> g_dwBuffersOut;

// What the current (or last) session lost: frames the device dropped while no buffer was
// queued, and buffers that came back without WHDR_DONE. Reset by the worker as the session
// starts.
extern LossLog g_CaptureLoss;

// Frames of buffer space given to the device since the open, less what came back unfilled:
// once the device's position reaches it, no buffer waits for the device. Added to before
// each queueing, taken from as each buffer is reported.
extern std::atomic<uint64_t> g_qwFramesQueued;

// For a device that does not count its own drops (waveInCountsDroppedAudio): frames it could
// not take because the handler held every buffer, after it had filled atDeviceFrame frames,
// as the worker's clock finds them at the end of such a stretch. Noted as lost where they
// fell: at once when the handler has handled the buffers filled before them, else right
// after it has (the handler may lag the clock by several buffers on a busy machine), and by
// CloseCapture at the latest. Called under g_hCaptureMutex.
void NoteStarved(uint64_t atDeviceFrame, uint64_t frames);

// Opens device deviceNumber (WAVE_MAPPER: the default source) for 44100 Hz 16-bit stereo and
// queues three one-second buffers, not yet capturing. 1 on success; else 0 with the cause
// recorded as the session's failure, no buffer left allocated and g_hWaveIn null.
int OpenCapture(UINT deviceNumber);

// Stops the device, gets every buffer back (handling those that hold audio, so nothing
// captured before the stop is lost), then unprepares and frees them, zeroes the table and
// closes the device. Only what is open is closed; callable any number of times.
// A device that keeps buffers for 5 s (0.3 s once its reset has failed) is given up: it
// keeps its table and buffers, which are never freed or reused, the next session gets a
// fresh table, and a late report from it touches nothing of that session (a few such tables
// at most; then capture refuses).
void CloseCapture();

// How messages name device deviceNumber: its product name in quotes.
std::string CaptureDeviceName(UINT deviceNumber);

// The server's words for a failed device operation; without them, the system's text for
// code, led for the codes a person can act on by what happened and what to do: another
// program holds the device (MMSYSERR_ALLOCATED), or it is gone (MMSYSERR_BADDEVICEID,
// MMSYSERR_NODRIVER). A phrase about the device: "it is no longer connected. ..." follows
// the device's name and a colon.
std::string CaptureErrorText(MMRESULT code);

// The device callback: WIM_DATA goes to OnBufferFilled; anything else is ignored.
void CALLBACK WaveInProc(HWAVEIN hwi, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                         DWORD_PTR dwParam2);

// Handles one buffer the device reported: encodes and appends what it holds (showing it to
// g_CaptureSilence), and queues it again while the session records. A header not in the
// current table is ignored. Runs on the notification thread.
void OnBufferFilled(WAVEHDR* header);
