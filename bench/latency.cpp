// Latency a person feels, through the real capture layer and encoder module: from the Start
// press to the first MP3 bytes on disk, and from the Stop press to the button reading "Start
// Recording" again (the toggle returns right after it sets that caption). Prints the median
// and the maximum of each over SESSIONS sessions.
//   bench_latency FOLDER [SESSIONS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "button.h"
#include "session.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.0f ms, max %.0f ms (%zu sessions)\n", what, ms[ms.size() / 2], ms.back(),
                ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [SESSIONS]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path path = std::filesystem::path(argv[1]) / "latency.mp3";
    const int sessions = argc > 2 ? std::atoi(argv[2]) : 20;
    bool failed = false;
    SetSessionFailureHandler([&](const std::string& cause) {
        std::fprintf(stderr, "session failed: %s\n", cause.c_str());
        failed = true;
    });
    waveInGetNumDevs();

    std::vector<double> toFirstBytes, toStartCaption;
    Button button({L"128 Kbps", path.wstring(), 0});
    for (int i = 0; i < sessions && !failed; ++i) {
        std::filesystem::remove(path);  // the last session's bytes must not count
        const auto pressed = Clock::now();
        ToggleRecording(button);
        std::error_code error;
        while (std::filesystem::file_size(path, error) == 0 || error) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        toFirstBytes.push_back(Ms(Clock::now() - pressed));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a press is not instant
        const auto stopPressed = Clock::now();
        ToggleRecording(button);
        toStartCaption.push_back(Ms(Clock::now() - stopPressed));
    }
    if (failed)
        return 1;
    Report("Start press to first MP3 bytes on disk", toFirstBytes);
    Report("Stop press to \"Start Recording\"     ", toStartCaption);
    return 0;
}
