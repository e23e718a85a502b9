// What the notification thread pays for one capture buffer: EncodeChunk of one second of
// 44100 Hz stereo through the engine's binding and the real lame_enc.so. "times_real_time"
// is seconds of audio encoded per second of wall time; below 1 the recorder cannot keep up.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "encoder.h"
#include "failure.h"

namespace {

constexpr DWORD kBufferValues = 88200;  // one buffer: 44100 stereo frames

// A 441 Hz sine has exactly 441 periods in the buffer, so encoding the same buffer over and
// over feeds the encoder a seamless signal rather than a click every second.
std::vector<short> OneSecondOfSine() {
    std::vector<short> pcm(kBufferValues);
    for (size_t i = 0; i < kBufferValues / 2; ++i) {
        const double t = static_cast<double>(i) / 44100;
        pcm[2 * i] = pcm[2 * i + 1] =
            static_cast<short>(std::lround(16000 * std::sin(2 * std::numbers::pi * 441 * t)));
    }
    return pcm;
}

void EncodeChunkOfOneBuffer(benchmark::State& state) {
    const auto bitrate = static_cast<DWORD>(state.range(0));
    const std::string path = "/tmp/voxmere-bench-" + std::to_string(getpid()) + ".mp3";
    if (OpenEncoder(bitrate, 44100, 0, std::wstring(path.begin(), path.end())) != 1) {
        state.SkipWithError(TakeFailure().c_str());
        CloseEncoder();
        std::remove(path.c_str());
        return;
    }

    const std::vector<short> pcm = OneSecondOfSine();
    std::vector<unsigned char> out(705600);
    DWORD bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (EncodeChunk(pcm.data(), kBufferValues, out.data(), &bytes) != BE_ERR_SUCCESSFUL) {
            state.SkipWithError("EncodeChunk failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    CloseEncoder();
    std::remove(path.c_str());

    // One second of audio per iteration, divided by the wall time spent on them.
    if (spent.count() > 0)
        state.counters["times_real_time"] = static_cast<double>(state.iterations()) / spent.count();
}

}  // namespace

BENCHMARK(EncodeChunkOfOneBuffer)
    ->Name("EncodeChunk")
    ->ArgName("kbps")
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
