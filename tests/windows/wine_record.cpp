// One session through the real waveIn and an encoder module, for the recordings under Wine:
//   wine_record OUTPUT.mp3 SECONDS MODULE
// MODULE is the encoder module to load (a path, or a bare name for the library search).
// Records the default device at 64 kbps from the moment capture has begun, lists the devices
// it sees, and ends with status 0 when the session told of no failure.
#include <atomic>
#include <chrono>
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
    std::this_thread::sleep_for(length);
    ToggleRecording(button);

    std::lock_guard<std::mutex> guard(lock);
    if (!told.empty()) {
        std::printf("the session told: %s\n", told.c_str());
        return 1;
    }
    return 0;
}
