// Audio time against the clock. While a session records, the audio the device has delivered
// is compared with the time since capture started:
//   - a source that delivers nothing for 3 s (2 s on a device that does not tell when it
//     goes away, see Start) while buffers wait for it has stalled: the
//     session ends as it does when the device fails, and the window says since when (time
//     in which the handler held every buffer is the computer's loss, not the source's). Its
//     first audio may take 10 s (a headset switching profile, a device waking up); one that
//     delivers none by then ends the session saying so. A late first audio is told at Stop
//     as audio that did not come at 0:00: what was said right after the Start press is not
//     in the file;
//   - a source that fell behind and then flows again has lost the difference, which is told
//     at Stop with the session's other loss;
//   - a sleep of the computer is time in which the source delivered nothing: a stall, or a
//     loss once it flows again, never a splice of the audio after it onto the audio before;
//   - a source that keeps up says nothing. Its start-up latency, a delivery rhythm of 100 ms
//     or more, scheduling jitter and a device clock that drifts from ours never count: a
//     shortfall counts only once it is larger than those, and only once the audio flows
//     steadily again, so a late burst that makes up for a pause is not called a loss;
//   - at Stop, what is still open is judged on the spot, as nothing more can come: a source
//     that delivered nothing at all is told so (the file is empty), and one that fell behind
//     in the last seconds (a stall shorter than the limit, a first audio still catching up)
//     has lost the difference, at the end.
//
// Threads: the worker only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "sleep_counting_clock.h"
#include "wavein.h"

class CaptureClock {
public:
    using Clock = SleepCountingClock;

    struct Verdict {
        uint64_t missingFrames = 0;  // audio found missing at this poll...
        uint64_t missingAt = 0;      // ...after this many delivered frames
        bool stalled = false;        // nothing delivered for the stall limit...
        uint64_t stalledAt = 0;      // ...since this many delivered frames (0: none ever came)
        bool nothingCame = false;    // at Finish: the take had time for audio and got none
    };

    // deviceTellsItsEnd: the device fails its calls once its source goes away, as the
    // PulseAudio layer does. Windows' own waveIn does not: an unplugged device just stops
    // delivering, and only this clock notices, so it stalls after 2 s rather than 3 s and
    // the person hears of it within 4 s.
    void Start(Clock::time_point now, bool deviceTellsItsEnd = true);
    // delivered: frames the device has delivered since Start, never decreasing.
    Verdict Poll(Clock::time_point now, uint64_t delivered);
    // At Stop, after the last Poll: the shortfall beyond the source's own lag, whether or not
    // the audio flows steadily, or that nothing came at all. Never a stall.
    Verdict Finish(Clock::time_point now, uint64_t delivered);
    Clock::time_point Started() const { return start_; }

private:
    void Advance(Clock::time_point now, uint64_t delivered);

    struct Sample {
        Clock::time_point at;
        int64_t lag;  // frames the clock is ahead of the device
    };
    Clock::duration stallLimit_{};
    Clock::time_point start_;
    Clock::time_point lastPoll_;
    Clock::time_point lastAdvance_;
    uint64_t delivered_ = 0;
    int64_t baseline_ = 0;  // the lag of a source that keeps up
    std::deque<Sample> window_;
    Clock::duration longestQuiet_{};  // since the last steady stretch...
    uint64_t longestQuietAt_ = 0;     // ...and where it began
};

// The worker's side. Right after waveInStart succeeded on deviceNumber:
void StartCaptureClock(UINT deviceNumber);
// At every poll while the session records: reads the device's position and counts audio
// that never came in g_CaptureLoss. Returns "" or, for a stalled source, the cause to record
// once capture is closed: what the device delivered before it stalled is kept, which a
// failure recorded at once would drop.
std::string CheckCaptureClock();
// When the session stops recording, before capture closes: hands the buffer handler what a
// device that does not count its drops lost in a stretch still going on. With judge (the Stop
// press ended the session, not a failure or a stall) it also judges the end: audio missing
// at the end goes to g_CaptureLoss, and a take that got no audio at all returns the words to
// record once capture is closed; otherwise "".
std::string EndCaptureClock(bool judge);
