#include "capture.h"

#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "audio_format.h"
#include "encoder.h"
#include "failure.h"
#include "loss.h"
#include "session.h"
#include "silence.h"
#include "text_conversion.h"

std::mutex g_hCaptureMutex;
HWAVEIN g_hWaveIn = nullptr;
WAVEFORMATEX g_WaveFormat = {};
unsigned char* g_pEncodedBuffer = nullptr;
DWORD g_dwEncodedBytes = 0;
std::atomic<DWORD> g_dwBuffersOut{0};
LossLog g_CaptureLoss;
std::atomic<uint64_t> g_qwFramesQueued{0};
static WAVEHDR g_FirstHeaders[kCaptureBufferCount] = {};
WAVEHDR (*g_WaveHeaders)[kCaptureBufferCount] = &g_FirstHeaders;

namespace {
// Tables that a device given up on may still write into and report: kept reachable, never
// freed and never reused. Bounded: each holds three seconds of buffers.
constexpr size_t kAbandonedLimit = 4;
WAVEHDR (*g_AbandonedHeaders[kAbandonedLimit])[kCaptureBufferCount] = {};
size_t g_nAbandonedHeaders = 0;

// Set by CloseCapture (and by a failure) before it asks for the buffers back: from then on no
// handler queues a buffer again, so the device's hold on them can only shrink. The recording
// flag alone cannot say this: a session that fails ends while the flag is still set.
std::atomic<bool> g_bDraining{false};

// How long CloseCapture waits for the device to give back its buffers. The device hands
// them back at once on reset; only a broken device takes longer.
constexpr auto kBufferReturnLimit = std::chrono::seconds(5);
// The wait after a reset that failed: such a device hands back nothing more (Windows' waveIn
// on a device that went away mid-take), only what the stop handed back, whose report is
// already under way. Waiting longer would only keep the person from hearing what happened.
constexpr auto kFailedResetLimit = std::chrono::milliseconds(300);

// The device's count of dropped frames when the handler last looked.
uint64_t g_qwDeviceLostFrames = 0;

// Frames the device had filled into the buffers handled so far, in fill order; and the starved
// stretches handed over by the worker that lie beyond them, oldest first. Under the mutex.
uint64_t g_qwFramesReturned = 0;
struct StarvedStretch {
    uint64_t atDeviceFrame;
    uint64_t frames;
};
std::vector<StarvedStretch> g_PendingStarved;

// Notes, in order, the pending starved stretches that fell at or before deviceFrame.
void NoteStarvedUpTo(uint64_t deviceFrame) {
    size_t reached = 0;
    while (reached < g_PendingStarved.size() && g_PendingStarved[reached].atDeviceFrame <= deviceFrame)
        g_CaptureLoss.NoteLost(g_PendingStarved[reached++].frames);
    g_PendingStarved.erase(g_PendingStarved.begin(),
                           g_PendingStarved.begin() + static_cast<ptrdiff_t>(reached));
}

// Whole frames a buffer of bytes holds.
uint64_t FramesIn(DWORD bytes) {
    return bytes / g_WaveFormat.nBlockAlign;
}

// Queues header with the device, counting its space first: once queued it may be filled and
// reported at any time. On failure the count is as before.
MMRESULT Queue(WAVEHDR* header) {
    g_qwFramesQueued += FramesIn(header->dwBufferLength);
    const MMRESULT result = waveInAddBuffer(g_hWaveIn, header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR)
        g_qwFramesQueued -= FramesIn(header->dwBufferLength);
    return result;
}

// Under g_hCaptureMutex: leaves the current table and its buffers to a device that still
// holds them, and gives the next session a fresh one (none past the limit).
void AbandonHeaders() {
    g_AbandonedHeaders[g_nAbandonedHeaders++] = g_WaveHeaders;
    g_WaveHeaders = g_nAbandonedHeaders < kAbandonedLimit ? new (std::nothrow)
                                                                WAVEHDR[1][kCaptureBufferCount]()
                                                          : nullptr;
}

bool IsCurrentHeader(const WAVEHDR* header) {
    if (g_WaveHeaders == nullptr)
        return false;
    for (const WAVEHDR& current : *g_WaveHeaders) {
        if (&current == header)
            return true;
    }
    return false;
}
}  // namespace

std::string CaptureDeviceName(UINT deviceNumber) {
    if (deviceNumber == WAVE_MAPPER)
        return "the default input device";
    WAVEINCAPSW caps = {};
    if (waveInGetDevCapsW(deviceNumber, &caps, sizeof(caps)) != MMSYSERR_NOERROR) {
        return "input device " + std::to_string(deviceNumber);
    }
    return "\"" + ToUtf8(caps.szPname) + "\"";
}

namespace {
// The sound server's words for the last failure, when it gave any: they name the cause.
std::string ServerWords() {
    const char* server = waveInLastServerError();
    return server != nullptr ? server : "";
}

// The system's text for code, after what happened and what to do when the person can act on it.
std::string Worded(MMRESULT code, const char* action) {
    WCHAR text[256] = {};
    waveInGetErrorTextW(code, text, 256);
    if (action == nullptr)
        return ToUtf8(text);
    return std::string(action) + " (" + ToUtf8(text) + ")";
}

// What a person can do about a code that has a cause they can act on, or null. Only codes
// that stand alone: a server that gave words said more than the code.
const char* ActionFor(MMRESULT code) {
    switch (code) {
        case MMSYSERR_ALLOCATED:
            return "it is in use by another program. Close that program, or choose another input device.";
        case MMSYSERR_BADDEVICEID:
        case MMSYSERR_NODRIVER:
            return "it is no longer connected. Connect it again, or choose another input device.";
        default:
            return nullptr;
    }
}

// Why the device did not open. Windows answers an open that its privacy settings refuse with
// nothing more precise than MMSYSERR_ERROR (when it does not open and deliver silence).
std::string OpenErrorText(MMRESULT code) {
    const std::string server = ServerWords();
    if (!server.empty())
        return server;
    if (code == MMSYSERR_ERROR)
        return Worded(code,
                      "Windows may be blocking access to the microphone. Allow it in Settings, Privacy & "
                      "security, Microphone, then press Start again.");
    return Worded(code, ActionFor(code));
}
}  // namespace

std::string CaptureErrorText(MMRESULT code) {
    const std::string server = ServerWords();
    return server.empty() ? Worded(code, ActionFor(code)) : server;
}

int OpenCapture(UINT deviceNumber) {
    g_WaveFormat.nSamplesPerSec = kAudioSampleRate;
    g_WaveFormat.wBitsPerSample = kAudioBitsPerSample;
    g_WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    g_WaveFormat.nChannels = kAudioChannels;
    g_WaveFormat.nBlockAlign = g_WaveFormat.nChannels * (g_WaveFormat.wBitsPerSample / 8);
    g_WaveFormat.nAvgBytesPerSec = g_WaveFormat.nBlockAlign * g_WaveFormat.nSamplesPerSec;
    g_WaveFormat.cbSize = 0;

    if (g_WaveHeaders == nullptr) {
        RecordFailure(
            "Input devices have kept the buffers of earlier recordings; restart Voxmere to "
            "record again.");
        return 0;
    }
    g_bDraining = false;
    g_dwBuffersOut = 0;
    g_qwDeviceLostFrames = 0;
    g_qwFramesQueued = 0;
    g_qwFramesReturned = 0;
    g_PendingStarved.clear();
    const MMRESULT opened = waveInOpen(&g_hWaveIn, deviceNumber, &g_WaveFormat,
                                       reinterpret_cast<DWORD_PTR>(&WaveInProc), 0, CALLBACK_FUNCTION);
    if (opened != MMSYSERR_NOERROR) {
        g_hWaveIn = nullptr;  // nothing allocated yet, nothing to close
        RecordFailure("Cannot open " + CaptureDeviceName(deviceNumber) + ": " + OpenErrorText(opened));
        return 0;
    }

    for (WAVEHDR& header : *g_WaveHeaders) {
        header.lpData = new (std::nothrow) char[g_WaveFormat.nAvgBytesPerSec];
        if (header.lpData == nullptr) {
            RecordFailure("Not enough memory for the capture buffers.");
            break;
        }
        header.dwBufferLength = g_WaveFormat.nAvgBytesPerSec;
        MMRESULT result = waveInPrepareHeader(g_hWaveIn, &header, sizeof(WAVEHDR));
        if (result == MMSYSERR_NOERROR) {
            // Counted before it is queued: once queued it may come back at any time.
            ++g_dwBuffersOut;
            result = Queue(&header);
            if (result != MMSYSERR_NOERROR)
                --g_dwBuffersOut;
        }
        if (result != MMSYSERR_NOERROR) {
            RecordFailure("Cannot queue a capture buffer on " + CaptureDeviceName(deviceNumber) + ": " +
                          CaptureErrorText(result));
            break;
        }
    }
    if (g_bSessionFailed) {
        CloseCapture();  // releases what was allocated and closes the device
        return 0;
    }
    return 1;
}

void CloseCapture() {
    {
        std::lock_guard<std::mutex> lock(g_hCaptureMutex);
        if (g_hWaveIn == nullptr)
            return;
        // From here no handler queues a buffer again, so the device only gives buffers back.
        g_bDraining = true;
    }
    // The stop hands back the buffer being filled, with what it holds; the reset hands back
    // every queued one. Their reports are handled as usual, so audio captured before the stop
    // reaches the file. Both are called without the lock: Windows' own waveIn delivers those
    // reports from inside waveInStop and waveInReset and waits until the callback returns,
    // and the callback takes the lock.
    waveInStop(g_hWaveIn);
    const MMRESULT reset = waveInReset(g_hWaveIn);

    // The reports need the lock to be handled: wait for them without it.
    const auto deadline = std::chrono::steady_clock::now() +
                          (reset == MMSYSERR_NOERROR ? kBufferReturnLimit : kFailedResetLimit);
    while (g_dwBuffersOut.load() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::lock_guard<std::mutex> lock(g_hCaptureMutex);
    // Every buffer that will be handled has been: a stretch still pending is told at the end.
    NoteStarvedUpTo(std::numeric_limits<uint64_t>::max());
    if (g_dwBuffersOut.load() != 0) {
        // The device may still write into its buffers and headers, and report them: freeing,
        // zeroing or reusing them would hand it memory that is no longer its own. It keeps
        // them (a small, bounded leak) and is left open to the process's end.
        RecordFailure("The input device did not give back its buffers; it was left open.");
        AbandonHeaders();
        g_hWaveIn = nullptr;
        return;
    }
    for (WAVEHDR& header : *g_WaveHeaders) {
        if (header.lpData != nullptr) {
            waveInUnprepareHeader(g_hWaveIn, &header, sizeof(WAVEHDR));
            delete[] header.lpData;
        }
    }
    std::memset(*g_WaveHeaders, 0, sizeof(*g_WaveHeaders));
    waveInClose(g_hWaveIn);
    g_hWaveIn = nullptr;
}

void NoteStarved(uint64_t atDeviceFrame, uint64_t frames) {
    g_PendingStarved.push_back({atDeviceFrame, frames});
    NoteStarvedUpTo(g_qwFramesReturned);
}

void CALLBACK WaveInProc(HWAVEIN, UINT uMsg, DWORD_PTR, DWORD_PTR dwParam1, DWORD_PTR) {
    if (uMsg == WIM_DATA)
        OnBufferFilled(reinterpret_cast<WAVEHDR*>(dwParam1));
}

void OnBufferFilled(WAVEHDR* header) {
    std::lock_guard<std::mutex> lock(g_hCaptureMutex);
    // A late report from a device given up on: its header is not this session's, and
    // neither the count of buffers out nor the rotation is its business.
    if (!IsCurrentHeader(header))
        return;
    const bool done = (header->dwFlags & WHDR_DONE) != 0;
    const bool recording = g_bRecording.load() != 0 && !g_bDraining && !g_bSessionFailed;
    g_qwFramesQueued -= FramesIn(header->dwBufferLength) - FramesIn(header->dwBytesRecorded);

    // Audio the device dropped for want of a queued buffer comes before this buffer's. Only
    // while recording: after the Stop press the device runs dry on purpose.
    if (recording) {
        const uint64_t deviceLost = waveInGetLostFrames(g_hWaveIn);
        if (deviceLost > g_qwDeviceLostFrames)
            g_CaptureLoss.NoteLost(deviceLost - g_qwDeviceLostFrames);
        g_qwDeviceLostFrames = deviceLost;
        if (!done)
            g_CaptureLoss.NoteLost(header->dwBytesRecorded / g_WaveFormat.nBlockAlign);
    }

    // Whatever the buffer holds is written, also after the Stop press: it was captured
    // before the device was stopped. A buffer without WHDR_DONE holds nothing reliable.
    if (done && header->dwBytesRecorded > 0 && !g_bSessionFailed) {
        g_pEncodedBuffer = new (std::nothrow) unsigned char[kEncodedBlockBytes];
        if (g_pEncodedBuffer == nullptr) {
            RecordFailure("Not enough memory to encode the recording.");
        } else {
            const BE_ERR encoded =
                EncodeChunk(reinterpret_cast<const short*>(header->lpData), header->dwBytesRecorded / 2,
                            g_pEncodedBuffer, &g_dwEncodedBytes);
            AppendToOutput(g_pEncodedBuffer, g_dwEncodedBytes);
            g_CaptureLoss.NoteCaptured(header->dwBytesRecorded / g_WaveFormat.nBlockAlign);
            g_CaptureSilence.Note(reinterpret_cast<const short*>(header->lpData),
                                  header->dwBytesRecorded / g_WaveFormat.nBlockAlign);
            if (encoded != BE_ERR_SUCCESSFUL) {
                RecordFailure("The MP3 encoder failed on a buffer (error " + std::to_string(encoded) + ").");
            }
            delete[] g_pEncodedBuffer;
            g_pEncodedBuffer = nullptr;
        }
    }

    // A starved stretch is told after the audio filled before it, which may have waited here
    // longer than the worker took to find the stretch.
    g_qwFramesReturned += FramesIn(header->dwBytesRecorded);
    NoteStarvedUpTo(g_qwFramesReturned);

    bool queued = false;
    if (done && recording && !g_bSessionFailed) {  // this buffer may have just failed
        const MMRESULT result = Queue(header);
        queued = result == MMSYSERR_NOERROR;
        if (!queued)
            RecordFailure("Recording stopped because the input device failed: " + CaptureErrorText(result));
    }
    if (!queued)
        --g_dwBuffersOut;
}
