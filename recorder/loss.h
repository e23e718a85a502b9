// Audio a session lost, kept so the person can be told how much and when: a recorder that
// drops a second without saying so is worse than one that stops.
//
// Written only by the buffer handler under g_hCaptureMutex; read by the worker once capture is
// closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class LossLog {
public:
    void Reset();
    // frames of audio reached the encoder.
    void NoteCaptured(uint64_t frames);
    // frames of audio were lost at this point of the recording.
    void NoteLost(uint64_t frames);
    // "" when nothing was lost; otherwise one sentence giving the amount to a tenth of a second
    // and where in the recording, e.g. "2.5 s of audio was lost at 0:12 ...".
    std::string Describe() const;

private:
    struct Gap {
        uint64_t atFrame;  // position in the recording, counting lost audio too
        uint64_t frames;
    };
    uint64_t position_ = 0;
    std::vector<Gap> gaps_;
};
