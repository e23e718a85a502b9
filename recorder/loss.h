// Audio a session lost, kept so the person can be told how much and when: a recorder that
// drops a second without saying so is worse than one that stops.
//
// Two kinds: audio that came but could not be kept (the device had no free buffer, a buffer
// came back unfinished), and audio that never came (the source fell behind the clock).
// Positions are counted in frames the device delivered; Describe turns them into the
// recording's time, in which the audio that never came counts too.
//
// NoteCaptured is called only by the buffer handler, Reset (as a session starts) and
// NoteMissing only by the worker, NoteLost by both, each under g_hCaptureMutex; the worker
// reads it once capture is closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class LossLog {
public:
    void Reset();
    // frames of audio reached the encoder.
    void NoteCaptured(uint64_t frames);
    // frames of delivered audio were lost at this point of the recording.
    void NoteLost(uint64_t frames);
    // frames of audio never came, after the atFrame-th frame the device delivered.
    void NoteMissing(uint64_t atFrame, uint64_t frames);
    // Frames that never came, in all.
    uint64_t MissingFrames() const;
    // "" when nothing was lost; otherwise a sentence per kind giving the total and each of
    // the first five gaps to a tenth of a second, with where in the recording it began, e.g.
    // "2.5 s of audio could not be recorded because the computer did not keep up: 2.5 s at
    // 0:12."
    std::string Describe() const;

private:
    struct Gap {
        uint64_t atFrame;  // in delivered frames
        uint64_t frames;
    };
    static std::string Sentence(const std::vector<Gap>& gaps, const char* what);

    uint64_t position_ = 0;  // delivered frames handled so far, lost ones included
    std::vector<Gap> lost_;
    std::vector<Gap> missing_;
};

// The length of frames of audio to a tenth of a second, as "2.5 s".
std::string Seconds(uint64_t frames);

// The recording's time at frame, as "m:ss".
std::string RecordingClock(uint64_t frame);
