// The engine's encoding cost on a PCM file (44100 Hz 16-bit stereo little-endian, as captured
// from the recording's own source): EncodeChunk through lame_enc.so, one-second chunks as the
// capture buffers give them, at the given bit rates. This is the floor a recording's cost is
// measured against: the encoding alone, with no capture, no thread and no file. Prints one
// line per rate: "<kbps> <cpu seconds> <times real time>".
//   bench_encode_cost PCMFILE KBPS...
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "encoder.h"
#include "failure.h"

namespace {

constexpr size_t kChunkValues = 88200;  // one capture buffer

// Whole frames only: a capture cut short may end mid-frame.
std::vector<short> Read(const std::string& path) {
    std::vector<short> pcm;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return pcm;
    in.seekg(0, std::ios::end);
    pcm.resize(static_cast<size_t>(in.tellg()) / 4 * 2);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * sizeof(short)));
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
    const std::vector<short> pcm = Read(argv[1]);
    if (pcm.empty()) {
        std::fprintf(stderr, "%s: no audio to encode\n", argv[1]);
        return 1;
    }
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
