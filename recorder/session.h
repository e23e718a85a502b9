// A recording session: everything between the Start press and the Stop press. At most one
// exists at a time. This is the window's whole entry into the engine; it knows no toolkit.
//
// Threads: ToggleRecording runs on the window's thread; each session runs RecordThreadProc on
// a worker of its own; buffers are handled on the capture notification thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "device_identity.h"
#include "wavein.h"

// 1 while recording is wanted. Written only by ToggleRecording; read by the worker's wait
// loop and the buffer handler.
extern std::atomic<int32_t> g_bRecording;

// The running worker, or null. Stored by the start path, cleared by the worker as its last act.
struct RecordThread;
extern std::atomic<RecordThread*> g_hRecordThread;

// What a session records, read from the window on the window's thread before the worker
// starts: the worker reads no control, so a Stop can never wait on a worker that waits for
// the window.
struct SessionSettings {
    SessionSettings() = default;
    // A device given by number alone, as code that fills no list (tests, benchmarks) gives it.
    SessionSettings(std::wstring bitRate, std::wstring path, UINT number)
        : bitRateText(std::move(bitRate)), outputPath(std::move(path)), deviceNumber(number) {}

    std::wstring bitRateText;  // "128 Kbps"; a text without a leading number means 128
    std::wstring outputPath;   // used whole
    UINT deviceNumber = WAVE_MAPPER;
    // What the list showed at deviceNumber when it was filled: the device opened is the one
    // that carries it, wherever it sits now. None: deviceNumber is opened as it stands.
    std::optional<DeviceIdentity> device;
};

// The Start/Stop button as the toggle sees it; the window implements it.
class RecordButton {
public:
    virtual ~RecordButton() = default;
    virtual std::wstring GetCaption() const = 0;
    virtual void SetCaption(const std::wstring& caption) = 0;
    virtual SessionSettings ReadSettings() const = 0;
    // Called at every poll of the stop wait, on the window's thread: the place to keep the
    // window painted while the teardown runs.
    virtual void ServeWhileStopping() {}
};

extern const wchar_t kStartCaption[];     // "Start Recording"
extern const wchar_t kStopCaption[];      // "Stop Recording"
extern const wchar_t kStoppingCaption[];  // "Stopping…": a stop that outlasted the wait

// The Start/Stop press. Caption exactly kStartCaption: set the flag, show kStopCaption, start
// the worker with the settings read now. Any other caption: clear the flag, wait until the
// worker has closed capture, the encoder and the file (polling every 100 ms), then show
// kStartCaption. A teardown that blocks (a device call that never returns, a close on a file
// system that stopped answering) is waited for 3 s at most: the caption then reads
// kStoppingCaption (a press on it waits once more), and FinishStopping tells when the worker
// is done: no new session can start before. Returns false when the worker could not be
// started (the failure handler has then been told why).
bool ToggleRecording(RecordButton& button);

// While the caption reads kStoppingCaption, for the window to poll: true once the worker has
// ended, the caption then reading kStartCaption.
bool FinishStopping(RecordButton& button);

// Told when a session ends with something the person must know: it ended on its own because
// something failed (the device, the encoder, the file or the worker), it lost audio, no audio
// came at all, or it holds nothing but silence.
// Called at most once per session, on the worker (or, when the worker could not start, on
// the window's thread), after the session has closed everything it opened. cause names what
// failed with the system's or library's words, then how much audio was lost and when, then
// the silence. The window answers by taking the stop path if its button still reads
// kStopCaption.
using SessionFailureHandler = std::function<void(const std::string& cause)>;
void SetSessionFailureHandler(SessionFailureHandler handler);

// Told what the person should know while the session goes on: an input that has given
// nothing but silence. At most once per session, on the worker; the session is not ended and
// the handler must not end it. What the person should know about the take as a whole goes
// with the session's end, through the failure handler.
using SessionNoticeHandler = std::function<void(const std::string& notice)>;
void SetSessionNoticeHandler(SessionNoticeHandler handler);

// The bit rate in kbit/s that a bit-rate text gives: its leading decimal integer, else 128.
DWORD ParseBitRate(const std::wstring& text);

// The worker: opens the encoder and the file, then capture, starts it, waits for the flag to
// clear or the session to fail, closes capture, then the encoder and the file, and clears
// g_hRecordThread. Its parameter is the session's RecordThread; exit code always 0.
uint32_t RecordThreadProc(void* parameter);
