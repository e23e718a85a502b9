// One session through the real waveIn and an encoder module, for the recordings under Wine:
//   wine_record OUTPUT.mp3 SECONDS MODULE [DEVICE]
// MODULE is the encoder module to load (a path, or a bare name for the library search).
// Records at 64 kbps from the moment capture has begun the device named DEVICE, opened as the
// window opens the entry it lists, or the default device. Lists the devices it sees, prints
// "capturing since T" once capture has begun and "told at T: CAUSE" when the session tells
// something (T: seconds since 1970, to the millisecond), and ends with status 0 when the
// session told of no failure. Its last line, only when the session ran to its end, is
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

namespace {
// Wall-clock time, which the script running this program shares.
double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s OUTPUT.mp3 SECONDS MODULE [DEVICE]\n", argv[0]);
        return 2;
    }
    const std::string output = argv[1];
    const auto length = std::chrono::milliseconds(static_cast<int>(std::atof(argv[2]) * 1000));
    g_pszEncoderLibrary = argv[3];

    SessionSettings settings(L"64 Kbps", std::wstring(output.begin(), output.end()), WAVE_MAPPER);
    const UINT devices = waveInGetNumDevs();
    for (UINT i = 0; i < devices; ++i) {
        WAVEINCAPSW caps = {};
        if (waveInGetDevCapsW(i, &caps, sizeof(caps)) != MMSYSERR_NOERROR)
            continue;
        std::printf("device %u: %s\n", i, ToUtf8(caps.szPname).c_str());
        if (argc == 5 && ToUtf8(caps.szPname) == argv[4] && !settings.device) {
            settings.deviceNumber = i;
            settings.device = IdentityOf(caps);
        }
    }
    if (argc == 5 && !settings.device) {
        std::printf("no device named %s\n", argv[4]);
        return 1;
    }

    std::mutex lock;
    std::string told;
    SetSessionFailureHandler([&](const std::string& cause) {
        std::lock_guard<std::mutex> guard(lock);
        std::printf("told at %.3f: %s\n", Now(), cause.c_str());
        std::fflush(stdout);
        told += cause;
    });
    Button button(settings);
    if (!ToggleRecording(button))
        return 1;
    if (WaitUntil([] { return g_dwBuffersOut.load() > 0; }, std::chrono::milliseconds(10000))) {
        std::printf("capturing since %.3f\n", Now());
        std::fflush(stdout);
    } else {
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
    if (!told.empty())
        return 1;
    // Every buffer is back: the space counted as queued is now what the device filled.
    std::printf("delivered %llu frames, least queued %lld frames\n",
                static_cast<unsigned long long>(g_qwFramesQueued.load()),
                static_cast<long long>(least == INT64_MAX ? -1 : least));
    return 0;
}
