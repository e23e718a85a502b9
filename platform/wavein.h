// The waveform-audio input contract the recording engine and the window rely on: the waveIn
// subset of <mmsystem.h>, with the same names, types, values and semantics. On Windows this
// header is <mmsystem.h> itself; elsewhere it is implemented over PulseAudio
// (wavein_pulse.cpp), and the unit tests link a scripted backend in its place.
//
// Ownership of a WAVEHDR, per thread:
//   - the caller owns a header until waveInAddBuffer accepts it;
//   - from then on the device owns it: the capture side fills lpData and then sets
//     dwBytesRecorded and WHDR_DONE (in that order, both before the report);
//   - it is the caller's again once it has been reported (WIM_DATA), on the notification
//     thread, from the moment the report begins.
// The caller must not touch lpData, dwBytesRecorded or dwFlags of a header the device owns.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include "dword.h"  // <windows.h>, as the engine needs it
// Only after <windows.h>, whose types it uses.
#include <mmsystem.h>
#else

#include "dword.h"

typedef uint16_t WORD;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef uintptr_t DWORD_PTR;
typedef UINT MMRESULT;
typedef char* LPSTR;
typedef wchar_t WCHAR;

#define CALLBACK

typedef struct HWAVEIN__* HWAVEIN;

// Capture format. Only WAVE_FORMAT_PCM with 16-bit samples is accepted.
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};

// Unlike Windows' 32 characters, the product name here holds the source's whole
// description: PulseAudio descriptions ("Monitor of Built-in Audio Analog Stereo") are
// routinely longer than 31 characters and would otherwise be cut mid-word.
#define MAXPNAMELEN 256

struct WAVEINCAPSW {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};

// A position of the device, in the unit wType names.
struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            uint8_t hour, min, sec, frame, fps, dummy;
            uint8_t pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
};

#define TIME_MS 0x0001u
#define TIME_SAMPLES 0x0002u
#define TIME_BYTES 0x0004u

#define WAVE_FORMAT_PCM 1
#define WAVE_MAPPER ((UINT)-1)
#define CALLBACK_FUNCTION 0x00030000u

#define WIM_OPEN 0x3BE
#define WIM_CLOSE 0x3BF
#define WIM_DATA 0x3C0

#define WHDR_DONE 0x00000001u
#define WHDR_PREPARED 0x00000002u
#define WHDR_INQUEUE 0x00000010u

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_BADERRNUM 9
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

// The callback named by waveInOpen. Called with WIM_OPEN, WIM_DATA (dwParam1: the WAVEHDR*)
// and WIM_CLOSE. WIM_DATA runs on the device's notification thread, one report at a time, in
// the order the buffers were filled, with no lock of this layer held. WIM_OPEN and WIM_CLOSE
// run on the thread that calls waveInOpen or waveInClose, before that call returns (as on
// Windows). The handler may call waveInAddBuffer; it must not call waveInStop, waveInReset or
// waveInClose.
//
// After waveInClose has returned no report begins, and WIM_CLOSE was the last message to
// begin. A WIM_DATA report already under way when close was called may still be finishing
// on the notification thread: close does not wait for it, since the caller may hold a lock
// that handler takes. Close succeeds only once every buffer is back, so such a report's
// buffer is already the caller's; the handler must touch nothing the caller frees after
// close once it has let go of the last buffer (the engine's handler returns straight after
// releasing its lock).
typedef void(CALLBACK* LPWAVEINPROC)(HWAVEIN hwi, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2);

// Every function taking an HWAVEIN returns MMSYSERR_INVALHANDLE for a handle that names no
// open device: one never opened, or closed already (handles are never reused). A device whose
// server or source went away refuses as described at the end of this header.

// Takes a snapshot of the input devices and returns how many it holds: device 0 is the
// server's default source, then the other sources, then the monitor sources, each group in
// the server's order. Device numbers given to the functions below index the latest snapshot,
// so the number a list shows is the device that opens even if sources come and go.
// Returns 0 when no server answers within a few seconds (it never waits longer), with the
// server's words in waveInLastServerError.
UINT waveInGetNumDevs();

// Capabilities of device uDeviceID of the latest snapshot: szPname is the source's
// description, whole up to MAXPNAMELEN - 1 characters (malformed UTF-8 shows as U+FFFD).
// Caller: pwic points to cbwic writable bytes. Checks: MMSYSERR_INVALPARAM for a null pwic or
// cbwic other than sizeof(WAVEINCAPSW); MMSYSERR_BADDEVICEID when the snapshot has no such
// device (also before any snapshot). Never asks the server.
MMRESULT waveInGetDevCapsW(UINT_PTR uDeviceID, WAVEINCAPSW* pwic, UINT cbwic);

// Opens device uDeviceID of the latest snapshot (taking one first if there is none), or the
// default source for WAVE_MAPPER, asking the server for exactly *pwfx, and reports WIM_OPEN.
// Caller: dwCallback is an LPWAVEINPROC that stays callable until waveInClose has returned.
// Checks, in this order, each leaving *phwi null: MMSYSERR_INVALPARAM for a null phwi or
// pwfx; MMSYSERR_INVALFLAG unless fdwOpen is CALLBACK_FUNCTION; MMSYSERR_INVALPARAM for a
// null dwCallback; WAVERR_BADFORMAT for anything but 16-bit stereo PCM at 44100 Hz with
// matching nBlockAlign and nAvgBytesPerSec; MMSYSERR_NODRIVER when no snapshot could be
// taken; MMSYSERR_BADDEVICEID for a number the snapshot lacks; MMSYSERR_NODRIVER when the
// server or the source cannot be reached within the connection time; MMSYSERR_NOMEM when the
// stream or the notification thread cannot be made. Never hangs. On success stores the
// handle in *phwi before WIM_OPEN.
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);

// Marks a header as prepared. Caller: lpData points to dwBufferLength writable bytes that
// stay valid until the header is unprepared, and dwFlags is 0 or a previous prepare's.
// Checks: MMSYSERR_INVALPARAM unless cbwh is sizeof(WAVEHDR), lpData is set and the buffer
// holds at least one frame; WAVERR_STILLPLAYING while the device owns the header.
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);

// Undoes the prepare. Checks: MMSYSERR_INVALPARAM for a null header or cbwh other than
// sizeof(WAVEHDR); WAVERR_STILLPLAYING while the device owns the header.
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);

// Queues a prepared header: clears WHDR_DONE and dwBytesRecorded, sets WHDR_INQUEUE. Buffers
// are filled in queue order, whole frames only (a length that is not a multiple of 4 bytes
// leaves its tail unused); a full buffer leaves the queue, gets its byte count and WHDR_DONE,
// and is reported. Safe from the WIM_DATA handler. Checks: as waveInPrepareHeader for the
// header; WAVERR_UNPREPARED for one that is not prepared; WAVERR_STILLPLAYING for one the
// device already owns; MMSYSERR_NODRIVER on a failed device.
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);

// Begins filling the queued buffers. With none queued the audio is counted as lost
// (waveInGetLostFrames) rather than held back. Checks: MMSYSERR_NODRIVER on a failed device.
MMRESULT waveInStart(HWAVEIN hwi);

// Stops filling. The buffer being filled (one holding at least one frame) is handed back
// partly filled (WHDR_DONE, its byte count) and reported; buffers not yet begun stay queued.
// Does not wait for any report to be handled. Succeeds also on a stopped or failed device.
MMRESULT waveInStop(HWAVEIN hwi);

// Stops filling and hands back every buffer: the one being filled as waveInStop does, then
// each queued one with dwBytesRecorded 0, all marked WHDR_DONE and reported in queue order.
// Does not wait for any report to be handled. Succeeds also on a stopped or failed device.
MMRESULT waveInReset(HWAVEIN hwi);

// How much audio the source has delivered while capturing, since the open or the last
// waveInReset, in the unit pmmt->wType asks for (TIME_SAMPLES: frames, TIME_BYTES, TIME_MS;
// any other unit is answered in TIME_BYTES, with wType changed to say so). Every frame
// counts, also one dropped for want of a queued buffer, so the position falls behind the
// clock only when the source itself delivers too little. The count wraps at 2^32 in its
// unit. Over PulseAudio it includes everything the server has sent up to the call, which the
// call first takes into the buffers itself (so a caller that asks often does the reading on
// its own wake-ups). Caller: pmmt->wType is set. Checks: MMSYSERR_INVALPARAM for a null pmmt or cbmmt
// other than sizeof(MMTIME).
MMRESULT waveInGetPosition(HWAVEIN hwi, MMTIME* pmmt, UINT cbmmt);

// Closes the device and reports WIM_CLOSE; the handle is invalid from then on. Caller: every
// buffer is back (reported) first, typically by waveInReset and waiting for the reports.
// Checks: WAVERR_STILLPLAYING while the device still owns a buffer or a report of one has
// not begun; the device stays open then. Does not wait for a report to be handled, so it may
// be called while holding a lock that a report handler takes (see LPWAVEINPROC for what
// that leaves running).
MMRESULT waveInClose(HWAVEIN hwi);

// A short text for an error code, cut to cchText characters with the terminating null.
// Checks: MMSYSERR_INVALPARAM for a null pszText or cchText 0; MMSYSERR_BADERRNUM (and an
// empty text) for a code this layer never returns.
MMRESULT waveInGetErrorTextW(MMRESULT mmrError, WCHAR* pszText, UINT cchText);

#endif  // _WIN32

// ---- Beyond <mmsystem.h> -------------------------------------------------------------------
// Declared on every platform; on Windows wavein_win32_extras.cpp implements them.

// The sound server's own words for the last failure of a device operation on the calling
// thread ("Connection refused", "Entity killed"), or a short reason of this layer when the
// server gave none ("No such source"); "" when the last operation succeeded or its error code
// says it all. Lets the engine name the cause of a failed open precisely rather than by error
// code alone. Every function above sets it except waveInGetDevCapsW and waveInGetErrorTextW,
// which leave it alone (they are used to word a message about the failure). The text stays
// valid until the next call on this thread.
const char* waveInLastServerError();

// Frames of audio the device had to discard since it was opened because it was capturing
// with no buffer queued. 0 for a null or unknown handle. PulseAudio tells a record client
// nothing of overruns on the server's side; the capture side drains the server at all times
// (also with no buffer queued) so that its queue never overflows and every loss is counted
// here.
uint64_t waveInGetLostFrames(HWAVEIN hwi);

// Whether the device counts the audio it drops for want of a queued buffer, in
// waveInGetLostFrames and in its position, as this layer does. Windows' own waveIn does not:
// its position counts only audio placed in buffers, so it stands still while none is queued,
// and what the source sent meanwhile is gone without a count.
bool waveInCountsDroppedAudio(HWAVEIN hwi);

// Whether the open device records what an output plays (a monitor of a sink) rather than a
// microphone or a line input: silence from it may only mean that nothing is playing. false for
// a null or unknown handle, and on Windows, whose waveIn does not tell the two apart. Over
// PulseAudio the answer comes from the latest snapshot (waveInGetNumDevs).
bool waveInIsMonitor(HWAVEIN hwi);

// A device whose sound server or source goes away while it is open notices within a second,
// stops, and hands back every buffer as waveInReset does. From then on waveInAddBuffer and
// waveInStart refuse with MMSYSERR_NODRIVER, and waveInLastServerError gives the cause ("The
// sound server went away (Connection terminated)"); stop, reset, unprepare and close work as
// usual.
