// One long session through the real capture layer and encoder module, for the soak script:
// records SECONDS seconds to PATH from the default source and prints what the person would be
// told (lost audio, failures) and the process's peak resident memory.
//   bench_soak PATH SECONDS
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "button.h"
#include "session.h"

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PATH SECONDS\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int seconds = std::atoi(argv[2]);

    std::mutex lock;
    std::string notice;
    SetSessionFailureHandler([&](const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        notice = text;
    });

    waveInGetNumDevs();
    Button button({L"128 Kbps", std::wstring(path.begin(), path.end()), 0});
    ToggleRecording(button);
    const long idlePeak = PeakKilobytes();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ToggleRecording(button);

    std::lock_guard<std::mutex> guard(lock);
    std::printf("told:        %s\n", notice.empty() ? "nothing (no loss, no failure)" : notice.c_str());
    std::printf("peak memory: %ld KiB resident (%ld KiB after the start)\n", PeakKilobytes(), idlePeak);
    return notice.empty() ? 0 : 1;
}
