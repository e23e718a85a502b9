#include "session.h"

#include <chrono>
#include <cwchar>
#include <initializer_list>
#include <new>
#include <system_error>
#include <thread>

#include "audio_format.h"
#include "capture.h"
#include "capture_clock.h"
#include "encoder.h"
#include "failure.h"
#include "keep_awake.h"
#include "silence.h"

std::atomic<int32_t> g_bRecording{0};
std::atomic<RecordThread*> g_hRecordThread{nullptr};

const wchar_t kStartCaption[] = L"Start Recording";
const wchar_t kStopCaption[] = L"Stop Recording";
const wchar_t kStoppingCaption[] = L"Stopping\u2026";

// The worker's handle and what it records. The worker deletes it as its last act but one.
struct RecordThread {
    explicit RecordThread(SessionSettings s) : settings(std::move(s)) {}
    SessionSettings settings;
    std::thread thread;
    // The worker must not release its handle before the start path has stored it in
    // g_hRecordThread: a session that fails at once would otherwise clear the variable
    // first and the start path would then store a dangling handle that no one clears.
    std::atomic<bool> stored{false};
};

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How long the stop path waits for the teardown before it gives the window back: longer than
// a teardown that ends by itself takes on a busy machine, short of what feels like a hang.
constexpr auto kStopWaitLimit = std::chrono::seconds(3);
constexpr size_t kCaptionChars = 99;  // the caption is read into a buffer of 100 characters

SessionFailureHandler g_failureHandler;
SessionNoticeHandler g_noticeHandler;

// Tells the window what went wrong, if anything: the failure that ended the session, then
// what the take lacks (audio lost, silence), each in a paragraph of its own.
void TellWindow(std::initializer_list<std::string> lacks) {
    std::string told = TakeFailure();
    for (const std::string& lack : lacks) {
        if (!lack.empty())
            told += (told.empty() ? "" : "\n\n") + lack;
    }
    if (!told.empty() && g_failureHandler)
        g_failureHandler(told);
}

bool StartWorker(const SessionSettings& settings) {
    auto* worker = new (std::nothrow) RecordThread(settings);
    if (worker == nullptr) {
        RecordFailure("Cannot start recording: not enough memory.");
        return false;
    }
    try {
        worker->thread = std::thread(RecordThreadProc, worker);
    } catch (const std::system_error& e) {
        delete worker;
        RecordFailure(std::string("Cannot start the recording thread: ") + e.what());
        return false;
    }
    g_hRecordThread.store(worker);
    worker->stored.store(true);
    worker->stored.notify_one();
    return true;
}
}  // namespace

void SetSessionFailureHandler(SessionFailureHandler handler) {
    g_failureHandler = std::move(handler);
}

void SetSessionNoticeHandler(SessionNoticeHandler handler) {
    g_noticeHandler = std::move(handler);
}

DWORD ParseBitRate(const std::wstring& text) {
    int bitrate = 128;
    std::swscanf(text.c_str(), L"%d Kbps", &bitrate);
    return static_cast<DWORD>(bitrate);
}

bool ToggleRecording(RecordButton& button) {
    const std::wstring caption = button.GetCaption().substr(0, kCaptionChars);
    if (caption == kStartCaption) {
        const SessionSettings settings = button.ReadSettings();
        g_bRecording = 1;
        button.SetCaption(kStopCaption);
        if (!StartWorker(settings)) {
            TellWindow({});
            return false;
        }
        return true;
    }

    g_bRecording = 0;
    const auto giveUp = std::chrono::steady_clock::now() + kStopWaitLimit;
    while (g_hRecordThread.load() != nullptr) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            button.SetCaption(kStoppingCaption);
            return true;
        }
        button.ServeWhileStopping();
        std::this_thread::sleep_for(kPollInterval);
    }
    button.SetCaption(kStartCaption);
    return true;
}

bool FinishStopping(RecordButton& button) {
    if (g_hRecordThread.load() != nullptr)
        return false;
    button.SetCaption(kStartCaption);
    return true;
}

uint32_t RecordThreadProc(void* parameter) {
    auto* self = static_cast<RecordThread*>(parameter);
    const SessionSettings& settings = self->settings;

    // The loss log speaks of this session only: one that fails before capture opens must
    // not repeat what the previous session lost.
    {
        std::lock_guard<std::mutex> lock(g_hCaptureMutex);
        g_CaptureLoss.Reset();
        g_CaptureSilence.Reset();
    }

    // The encoder and the file first, so the first filled buffer finds them ready; a
    // session that cannot record ends here rather than pretending to.
    bool capturing = false;
    UINT device = settings.deviceNumber;
    if (OpenEncoder(ParseBitRate(settings.bitRateText), kAudioSampleRate, 0, settings.outputPath) == 1 &&
        (settings.device ? OpenShownDevice(settings.deviceNumber, *settings.device, &device)
                         : OpenCapture(device)) == 1) {
        StartSilenceWatch(device, waveInIsMonitor(g_hWaveIn));
        const MMRESULT started = waveInStart(g_hWaveIn);
        capturing = started == MMSYSERR_NOERROR;
        if (capturing) {
            StartCaptureClock(device);
            BeginKeepAwake(settings.outputPath);  // after the start, which it must not delay
        } else {
            RecordFailure("Cannot start capturing from " + CaptureDeviceName(device) + ": " +
                          CaptureErrorText(started));
        }
    }

    // A source that stops delivering fails nothing by itself: the clock is what notices, while
    // the session records (a stall) and at the Stop press (no audio at all).
    std::string sourceFault;
    while (g_bRecording.load() != 0 && !g_bSessionFailed.load() && sourceFault.empty()) {
        std::this_thread::sleep_for(kPollInterval);
        if (capturing) {
            sourceFault = CheckCaptureClock();
            const std::string notice = CheckSilence();
            if (!notice.empty() && g_noticeHandler)
                g_noticeHandler(notice);
        }
        ServeKeepAwake();
    }

    if (capturing) {
        const bool pressed = sourceFault.empty() && !g_bSessionFailed.load();
        sourceFault += EndCaptureClock(pressed);
    }
    // Capture before the encoder: once CloseCapture returns no buffer is being handled and
    // none will be, so the encoder and the file can close safely.
    CloseCapture();
    if (!sourceFault.empty()) {
        // The source's fault is the cause; what the teardown of a device that stopped found
        // follows.
        const std::string teardown = TakeFailure();
        RecordFailure(teardown.empty() ? sourceFault : sourceFault + " " + teardown);
    }
    CloseEncoder();
    EndKeepAwake();
    TellWindow({g_CaptureLoss.Describe(), DescribeSilence()});

    self->stored.wait(false);
    self->thread.detach();
    delete self;
    g_hRecordThread.store(nullptr);
    return 0;
}
