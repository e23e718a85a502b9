// Any 331-byte record, and any input after it, must be taken or refused by the encoder module
// with an error code: never a crash, an overrun of the caller's block or a leak.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bladeenc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(BE_CONFIG)) return 0;
    BE_CONFIG config;
    std::memcpy(&config, data, sizeof(config));
    data += sizeof(config);
    size -= sizeof(config);

    BE_DWORD samples = 0;
    BE_DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    if (beInitStream(&config, &samples, &bufferSize, &stream) != BE_ERR_SUCCESSFUL) return 0;

    // The engine's contract: up to 88200 values per call into a 705600-byte block.
    constexpr size_t kMaxValues = 88200;
    std::vector<short> pcm(kMaxValues);
    const size_t values = std::min(size / 2, kMaxValues);
    std::memcpy(pcm.data(), data, values * 2);
    std::vector<unsigned char> out(705600);
    BE_DWORD outBytes = 0;
    beEncodeChunk(stream, static_cast<BE_DWORD>(values), pcm.data(), out.data(), &outBytes);
    if (outBytes > out.size()) __builtin_trap();
    beDeinitStream(stream, out.data(), &outBytes);
    if (outBytes > 7200) __builtin_trap();
    beCloseStream(stream);
    return 0;
}
