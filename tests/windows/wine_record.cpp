// One session through the real waveIn and an encoder module, for the recordings under Wine:
//   wine_record OUTPUT.mp3 SECONDS MODULE
// MODULE is the encoder module to load (a path, or a bare name for the library search).
// Records the default device at 64 kbps from the moment capture has begun, lists the devices
// it sees, and ends with status 0 when the session told of no failure. Its last line, only
// when the session ran to its end, is
//   delivered FRAMES frames, least queued LEAST frames
// FRAMES: what waveIn delivered into the buffers, all of which must be in the file. LEAST:
// the smallest space the device had queued and not yet filled, watched every 5 ms (-1: the
// position could not be read, which proves nothing). Above 0, the device never waited for a
// buffer, so no audio was dropped for want of one: a gap in the file is then beneath waveIn
// (Wine's audio driver drops audio without telling its caller). The line is there because a
// Wine program whose server goes away ends with status 0 and no word.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "button.h"
#include "capture.h"
#include "encoder.h"
#include "failure.h"
#include "session.h"
#include "text_conversion.h"
#include "wait_until.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT.mp3 SECONDS MODULE\n", argv[0]);
        return 2;
    }
    const std::string output = argv[1];
    const auto length = std::chrono::milliseconds(static_cast<int>(std::atof(argv[2]) * 1000));
    g_pszEncoderLibrary = argv[3];

    const UINT devices = waveInGetNumDevs();
    for (UINT i = 0; i < devices; ++i) {
        WAVEINCAPSW caps = {};
        if (waveInGetDevCapsW(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR)
            std::printf("device %u: %s\n", i, ToUtf8(caps.szPname).c_str());
    }

    std::mutex lock;
    std::string told;
    SetSessionFailureHandler([&](const std::string& cause) {
        std::lock_guard<std::mutex> guard(lock);
        told += cause;
    });
    Button button({L"64 Kbps", std::wstring(output.begin(), output.end()), WAVE_MAPPER});
    if (!ToggleRecording(button))
        return 1;
    if (!WaitUntil([] { return g_dwBuffersOut.load() > 0; }, std::chrono::milliseconds(10000))) {
        std::printf("capture never began\n");
    }
    // The space queued and not yet filled, for as long as the session records.
    std::atomic<bool> watching{true};
    int64_t least = INT64_MAX;
    std::thread watcher([&] {
        while (watching) {
            {
                std::lock_guard<std::mutex> capture(g_hCaptureMutex);
                MMTIME time = {};
                time.wType = TIME_SAMPLES;
                if (g_hWaveIn != nullptr &&
                    waveInGetPosition(g_hWaveIn, &time, sizeof(time)) == MMSYSERR_NOERROR &&
                    (time.wType == TIME_SAMPLES || time.wType == TIME_BYTES)) {
                    const int64_t filled =
                        time.wType == TIME_SAMPLES ? time.u.sample : time.u.cb / g_WaveFormat.nBlockAlign;
                    least = std::min(least, static_cast<int64_t>(g_qwFramesQueued.load()) - filled);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::this_thread::sleep_for(length);
    watching = false;
    watcher.join();
    ToggleRecording(button);
    // The stop returns once the worker is done, or once the window's wait for it is over: only
    // a worker that has ended has had every buffer back and told all it will.
    if (!WaitUntil([] { return g_hRecordThread.load() == nullptr; }, std::chrono::milliseconds(30000))) {
        std::printf("the session did not end\n");
        return 1;
    }

    std::lock_guard<std::mutex> guard(lock);
    if (!told.empty()) {
        std::printf("the session told: %s\n", told.c_str());
        return 1;
    }
    // Every buffer is back: the space counted as queued is now what the device filled.
    std::printf("delivered %llu frames, least queued %lld frames\n",
                static_cast<unsigned long long>(g_qwFramesQueued.load()),
                static_cast<long long>(least == INT64_MAX ? -1 : least));
    return 0;
}
