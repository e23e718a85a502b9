// Decodes an MP3 stream with libmpg123 and measures what the tests check: every frame header
// as libmpg123 reads it, whether a Xing/Info frame leads the stream, the decoded PCM at the
// stream's own rate and channel count (no resampling), the dominant frequency and a
// continuity measure for a recorded sine.
#pragma once

#include <string>
#include <vector>

enum class Mp3Mode { Stereo, JointStereo, DualChannel, Mono };

// One audio frame's header. The Xing/Info frame is not among them.
struct Mp3Frame {
    int mpegVersion = 0;  // 1, 2, or 25 for MPEG-2.5
    int layer = 0;
    int sampleRate = 0;
    int bitrateKbps = 0;
    Mp3Mode mode = Mp3Mode::Stereo;
    bool crc = false;
    bool privateBit = false;
    bool copyright = false;
    bool original = false;
};

struct Mp3Probe {
    bool ok = false;
    std::string error;  // libmpg123's words when ok is false

    int sampleRate = 0;  // of the decoded output, the stream's own
    int channels = 0;
    std::vector<Mp3Frame> frames;
    bool hasXingOrInfo = false;
    // Encoder delay and padding from a LAME tag; -1 when the stream carries none.
    int encoderDelay = -1;
    int encoderPadding = -1;

    // Decoded PCM per channel; right repeats left for a mono stream. With a LAME tag,
    // libmpg123 has already cut the encoder's delay and padding.
    std::vector<short> left;
    std::vector<short> right;
    double seconds = 0;  // decoded samples per channel / sampleRate

    // Strongest frequency of the left channel between 100 and 2000 Hz, to about 0.25 Hz.
    double dominantHz = 0;
    // For a sine: the largest deviation, in samples at sampleRate, of the spacing of two
    // successive rising zero crossings from the typical spacing, over the part of the signal
    // a frame (1152 samples) inside the encoder's lead-in and tail. A lost or repeated piece of
    // audio that is not a whole number of periods, or a stretch of silence, shows as a jump
    // here; a clean stream stays well under one sample.
    double maxPhaseJumpSamples = 0;
    double maxPhaseJumpAtSeconds = 0;  // where it is, from the start of the decoded audio
};

Mp3Probe ProbeMp3Bytes(const std::vector<unsigned char>& bytes);
Mp3Probe ProbeMp3File(const std::string& path);

// Seconds of sound in the decoded left channel: from the first to the last sample louder than
// a quarter of the peak. The encoder's lead-in and the padding of the last frame are silent,
// so this is what was captured, whatever the frame size at the chosen rate.
double SoundingSeconds(const Mp3Probe& probe);
