// The engine's encoding cost on a PCM file: EncodeChunk through lame_enc.so, one-second
// chunks as the capture buffers give them, at the given bit rates. Prints one line per rate:
// "<kbps> <cpu seconds> <times real time>". Creates the file first (60 s of a 441 Hz tone
// with a little noise, 44100 Hz 16-bit stereo little-endian) when it does not exist, so the
// lame command can be timed on exactly the same input.
//   bench_encode_cost PCMFILE KBPS...
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "encoder.h"
#include "failure.h"

namespace {

constexpr size_t kChunkValues = 88200;  // one capture buffer

std::vector<short> ReadOrMake(const std::string& path) {
    std::vector<short> pcm;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        in.seekg(0, std::ios::end);
        pcm.resize(static_cast<size_t>(in.tellg()) / sizeof(short));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(pcm.data()),
                static_cast<std::streamsize>(pcm.size() * sizeof(short)));
        return pcm;
    }
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0, 300);
    pcm.resize(60 * kChunkValues);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(i / 2) / 44100;
        pcm[i] =
            static_cast<short>(std::lround(12000 * std::sin(2 * std::numbers::pi * 441 * t) + noise(random)));
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(pcm.data()),
               static_cast<std::streamsize>(pcm.size() * sizeof(short)));
    return pcm;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PCMFILE KBPS...\n", argv[0]);
        return 2;
    }
    const std::vector<short> pcm = ReadOrMake(argv[1]);
    const double audioSeconds = static_cast<double>(pcm.size()) / 2 / 44100;
    std::vector<unsigned char> out(705600);
    for (int i = 2; i < argc; ++i) {
        const auto kbps = static_cast<DWORD>(std::atoi(argv[i]));
        if (OpenEncoder(kbps, 44100, 0, L"/dev/null") != 1) {
            std::fprintf(stderr, "%s\n", TakeFailure().c_str());
            return 1;
        }
        const double begin = CpuSeconds();
        for (size_t at = 0; at < pcm.size(); at += kChunkValues) {
            DWORD bytes = 0;
            const auto values = static_cast<DWORD>(std::min(kChunkValues, pcm.size() - at));
            EncodeChunk(pcm.data() + at, values, out.data(), &bytes);
        }
        CloseEncoder();
        const double cpu = CpuSeconds() - begin;
        std::printf("%u %.3f %.0f\n", kbps, cpu, audioSeconds / cpu);
    }
    return 0;
}
