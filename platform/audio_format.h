// The one audio format Voxmere captures and encodes: 16-bit stereo PCM at 44100 Hz,
// little-endian, interleaved. The capture layer refuses any other; the engine asks for
// exactly this and feeds the encoder at this rate.
#pragma once

#include <cstdint>

constexpr uint32_t kAudioSampleRate = 44100;
constexpr uint16_t kAudioChannels = 2;
constexpr uint16_t kAudioBitsPerSample = 16;
constexpr uint16_t kAudioFrameBytes = kAudioChannels * (kAudioBitsPerSample / 8);
