// Digital silence: a take of nothing but exact zeros, which is what a microphone muted in the
// mixer delivers, and often one that the system's privacy settings block. Recording an hour of
// it without a word loses the hour as surely as a failure would.
//
// The buffer handler shows the watch every buffer it writes; the watch looks only until the
// first non-zero sample, and once the take has had sound it looks at nothing, so a source that
// gives sound costs a look at its first sample. The worker tells: an input (not the monitor of
// an output, which is silent whenever nothing plays) that has given 15 s of silence and nothing
// else, once, while the take goes on; and any take that was silence throughout, at its end.
//
// Threads: g_CaptureSilence is changed under g_hCaptureMutex (Note by the buffer handler, Reset
// by the worker as a session starts) and read by the worker without it: a poll must never wait
// for a handler that is slow to write. The functions below run on the worker only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "wavein.h"

class SilenceWatch {
public:
    void Reset();
    // frames of 16-bit stereo audio at samples were written to the file.
    void Note(const short* samples, uint64_t frames);
    bool HeardSound() const { return heardSound_.load(); }
    // Frames written before the first sound: all of them while HeardSound is false.
    uint64_t SilentFrames() const { return silentFrames_.load(); }

private:
    std::atomic<bool> heardSound_{false};
    std::atomic<uint64_t> silentFrames_{0};
};

extern SilenceWatch g_CaptureSilence;

// Once capture has opened deviceNumber, before it starts: whether the device is a monitor.
void StartSilenceWatch(UINT deviceNumber, bool monitor);
// At every poll while the session records: "" or, once a session, the notice that an input
// has given nothing but silence so far.
std::string CheckSilence();
// Once capture is closed: "" or the words for a take that was silence throughout.
std::string DescribeSilence();
