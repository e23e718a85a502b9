#include "capture_clock.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "audio_format.h"
#include "capture.h"
#include "loss.h"

namespace {
using namespace std::chrono_literals;

constexpr int64_t kRate = kAudioSampleRate;
constexpr auto kStallLimit = 3s;
// For a device that does not tell when it goes away: the clock is all that notices an unplug.
constexpr auto kUntoldEndStallLimit = 2s;
// A source's first audio may take longer: a Bluetooth headset switches profile, a USB device
// wakes up. Counted from Start.
constexpr auto kFirstAudioLimit = 10s;
// The lag a source is allowed before it has shown its own: start-up latency.
constexpr int64_t kStartAllowance = kRate * 3 / 10;
// A shortfall beyond the source's own lag that is counted as lost.
constexpr int64_t kCounted = kRate * 3 / 10;
// The lag is judged over this stretch of polls, which must hold at least kSteadyPolls; it is
// steady when it moves less than kSteadySpread in it (a 100 ms rhythm moves it by 100 ms).
constexpr auto kWindow = 600ms;
constexpr size_t kSteadyPolls = 4;
constexpr int64_t kSteadySpread = kRate / 4;
// How fast the lag may grow without counting as loss: a device clock a thousandth slower
// than ours, ten times what sound cards drift.
constexpr int64_t kDriftPerMille = 1;

int64_t Frames(CaptureClock::Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count() * kRate / 1000000;
}

CaptureClock g_clock;
UINT g_uClockDevice = 0;
// The device's position in its own unit, widened past its 32-bit wrap.
UINT g_uPositionUnit = TIME_SAMPLES;
DWORD g_dwLastPosition = 0;
uint64_t g_qwPosition = 0;

DWORD PositionIn(const MMTIME& time) {
    switch (time.wType) {
        case TIME_SAMPLES:
            return time.u.sample;
        case TIME_MS:
            return time.u.ms;
        default:
            return time.u.cb;
    }
}

// The frames the device has delivered since the clock started; false when it cannot say.
bool ReadPosition(uint64_t& frames) {
    MMTIME time = {};
    time.wType = g_uPositionUnit;
    if (waveInGetPosition(g_hWaveIn, &time, sizeof(time)) != MMSYSERR_NOERROR)
        return false;
    if (time.wType != g_uPositionUnit) {  // the device chose another unit: count in that one
        g_uPositionUnit = time.wType;
        g_dwLastPosition = PositionIn(time);
        return false;
    }
    g_qwPosition += static_cast<DWORD>(PositionIn(time) - g_dwLastPosition);
    g_dwLastPosition = PositionIn(time);
    switch (g_uPositionUnit) {
        case TIME_SAMPLES:
            frames = g_qwPosition;
            return true;
        case TIME_BYTES:
            frames = g_qwPosition / g_WaveFormat.nBlockAlign;
            return true;
        case TIME_MS:
            frames = g_qwPosition * kRate / 1000;
            return true;
        default:
            return false;  // a unit that is not audio time: no check
    }
}

// A device that does not count its drops (Windows' own waveIn) stops its position while no
// buffer is queued: the handler holds them all (a stalled disk, a network folder). That time
// is the computer's loss, not a source that stalled, so it is measured here and added to the
// position, as a device that counts its drops would have counted it. The position alone
// cannot tell the two apart; the space queued can: a device that has filled all of it has
// nothing to fill.
bool g_bDeviceCountsDrops = true;
bool g_bStarved = false;  // at the last poll
CaptureClock::Clock::time_point g_tpLastPoll;
uint64_t g_qwLastPosition = 0;
uint64_t g_qwStarvedStretch = 0;    // found in the stretch still going on...
uint64_t g_qwStarvedStretchAt = 0;  // ...which began once the device had filled this much
uint64_t g_qwStarvedTold = 0;       // handed to the buffer handler

void HandOverStarvedStretch() {
    if (g_qwStarvedStretch == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(g_hCaptureMutex);
        NoteStarved(g_qwStarvedStretchAt, g_qwStarvedStretch);
    }
    g_qwStarvedTold += std::exchange(g_qwStarvedStretch, 0);
}

// Over a poll interval with the device starved at either end, the audio time it did not
// deliver is the starved time: the part of the interval in which it still had a buffer, it
// filled in real time. A stretch is handed over once it ends, with the position it began at,
// so the handler places it after the buffers filled before it, however late it handles them.
uint64_t WithStarvedTime(CaptureClock::Clock::time_point now, uint64_t position, uint64_t queued) {
    const bool starved = position >= queued;
    if (starved && !g_bStarved && g_qwStarvedStretch == 0)
        g_qwStarvedStretchAt = position;
    if (starved || g_bStarved) {
        const int64_t shortfall =
            Frames(now - g_tpLastPoll) - static_cast<int64_t>(position - g_qwLastPosition);
        if (shortfall > 0)
            g_qwStarvedStretch += static_cast<uint64_t>(shortfall);
    }
    if (!starved)
        HandOverStarvedStretch();
    g_bStarved = starved;
    g_tpLastPoll = now;
    g_qwLastPosition = position;
    return position + g_qwStarvedTold + g_qwStarvedStretch;
}
}  // namespace

void CaptureClock::Start(Clock::time_point now, bool deviceTellsItsEnd) {
    *this = CaptureClock();
    stallLimit_ = deviceTellsItsEnd ? Clock::duration(kStallLimit) : Clock::duration(kUntoldEndStallLimit);
    start_ = lastPoll_ = lastAdvance_ = now;
    baseline_ = kStartAllowance;
}

CaptureClock::Verdict CaptureClock::Poll(Clock::time_point now, uint64_t delivered) {
    Verdict verdict;
    const Clock::duration sincePoll = now - lastPoll_;
    lastPoll_ = now;
    if (delivered > delivered_) {
        Advance(now, delivered);
    } else if (now - lastAdvance_ >= (delivered_ == 0 ? kFirstAudioLimit : stallLimit_)) {
        verdict.stalled = true;
        verdict.stalledAt = delivered_;
        return verdict;
    }

    window_.push_back({now, Frames(now - start_) - static_cast<int64_t>(delivered)});
    while (window_.front().at < now - kWindow)
        window_.pop_front();
    if (window_.size() < kSteadyPolls)
        return verdict;
    const auto [low, high] = std::minmax_element(
        window_.begin(), window_.end(), [](const Sample& a, const Sample& b) { return a.lag < b.lag; });
    if (high->lag - low->lag > kSteadySpread)
        return verdict;  // falling behind or catching up: judged once it is steady again

    const int64_t excess = low->lag - baseline_;
    if (excess > kCounted) {
        verdict.missingFrames = static_cast<uint64_t>(excess);
        verdict.missingAt = longestQuiet_ > Clock::duration::zero() ? longestQuietAt_ : delivered_;
        baseline_ = low->lag;
    } else if (excess > 0) {
        baseline_ += std::min(excess, Frames(sincePoll) * kDriftPerMille / 1000 + 1);
    } else {
        baseline_ = low->lag;  // the source's own lag is smaller than assumed
    }
    longestQuiet_ = {};
    return verdict;
}

void CaptureClock::Advance(Clock::time_point now, uint64_t delivered) {
    if (now - lastAdvance_ > longestQuiet_) {
        longestQuiet_ = now - lastAdvance_;
        longestQuietAt_ = delivered_;
    }
    delivered_ = delivered;
    lastAdvance_ = now;
}

CaptureClock::Verdict CaptureClock::Finish(Clock::time_point now, uint64_t delivered) {
    Verdict verdict;
    if (delivered > delivered_)
        Advance(now, delivered);
    const int64_t excess = Frames(now - start_) - static_cast<int64_t>(delivered_) - baseline_;
    if (excess <= kCounted)
        return verdict;
    if (delivered_ == 0) {
        verdict.nothingCame = true;
        return verdict;
    }
    // A quiet stretch still going on is where the audio went missing: at the end.
    verdict.missingFrames = static_cast<uint64_t>(excess);
    verdict.missingAt = now - lastAdvance_ >= longestQuiet_ ? delivered_ : longestQuietAt_;
    return verdict;
}

void StartCaptureClock(UINT deviceNumber) {
    g_uClockDevice = deviceNumber;
    g_uPositionUnit = TIME_SAMPLES;
    g_dwLastPosition = 0;
    g_qwPosition = 0;
    g_bDeviceCountsDrops = waveInCountsDroppedAudio(g_hWaveIn);
    g_bStarved = false;
    g_qwLastPosition = 0;
    g_qwStarvedStretch = 0;
    g_qwStarvedStretchAt = 0;
    g_qwStarvedTold = 0;
    g_tpLastPoll = CaptureClock::Clock::now();
    // The device that counts its drops is the PulseAudio layer, which also tells when its
    // source goes away; Windows' own waveIn does neither.
    g_clock.Start(g_tpLastPoll, g_bDeviceCountsDrops);
}

namespace {
// The frames delivered so far, with the starved time of a device that does not count its
// drops; false when the device cannot say.
bool ReadDelivered(CaptureClock::Clock::time_point& now, uint64_t& delivered) {
    if (!ReadPosition(delivered))
        return false;
    // Read after the position: space queued in between can only make the device look less
    // starved than it was, never starved when it was not.
    const uint64_t queued = g_qwFramesQueued.load();
    now = CaptureClock::Clock::now();
    if (!g_bDeviceCountsDrops)
        delivered = WithStarvedTime(now, delivered, queued);
    return true;
}
}  // namespace

std::string EndCaptureClock(bool judge) {
    CaptureClock::Clock::time_point now;
    uint64_t delivered = 0;
    const bool read = judge && ReadDelivered(now, delivered);
    HandOverStarvedStretch();
    if (!read)
        return "";
    const CaptureClock::Verdict verdict = g_clock.Finish(now, delivered);
    if (verdict.nothingCame)
        return "No audio came from " + CaptureDeviceName(g_uClockDevice) + " in the " +
               Seconds(static_cast<uint64_t>(Frames(now - g_clock.Started()))) +
               " recorded; the file is empty.";
    std::lock_guard<std::mutex> lock(g_hCaptureMutex);
    g_CaptureLoss.NoteMissing(verdict.missingAt, verdict.missingFrames);
    return "";
}

std::string CheckCaptureClock() {
    CaptureClock::Clock::time_point now;
    uint64_t delivered = 0;
    if (!ReadDelivered(now, delivered))
        return "";
    const CaptureClock::Verdict verdict = g_clock.Poll(now, delivered);
    if (verdict.missingFrames == 0 && !verdict.stalled)
        return "";
    std::lock_guard<std::mutex> lock(g_hCaptureMutex);
    g_CaptureLoss.NoteMissing(verdict.missingAt, verdict.missingFrames);
    if (!verdict.stalled)
        return "";
    if (verdict.stalledAt == 0)
        return "Recording stopped because " + CaptureDeviceName(g_uClockDevice) +
               " delivered no audio at all in " +
               std::to_string(std::chrono::seconds(kFirstAudioLimit).count()) + " seconds.";
    return "Recording stopped because " + CaptureDeviceName(g_uClockDevice) +
           " stopped delivering audio at " +
           RecordingClock(verdict.stalledAt + g_CaptureLoss.MissingFrames()) +
           ": it may have been unplugged, or it failed.";
}
