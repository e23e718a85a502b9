// Audio time against the clock, on a simulated source: what it must never call a loss, and
// what it must.
#include "capture_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = CaptureClock::Clock;

// A source polled every 100 ms (give or take scheduling) that hands over audio in bursts of
// `rhythm`, `latency` behind the clock and `ppm` slower than it. pauseAt/pauseFor: it
// delivers nothing for that long; catchUp: afterwards it hands over what it held back.
struct Source {
    Clock::duration latency = 200ms;
    Clock::duration rhythm = 100ms;
    double ppm = 0;
    Clock::duration pauseAt = Clock::duration::max();
    Clock::duration pauseFor{};
    bool catchUp = false;

    uint64_t DeliveredBy(Clock::duration t) const {
        Clock::duration audio = t - latency;
        if (t >= pauseAt && t < pauseAt + pauseFor)
            audio = pauseAt - latency;
        else if (t >= pauseAt + pauseFor && !catchUp)
            audio -= pauseFor;
        if (audio <= Clock::duration::zero())
            return 0;
        audio -= audio % rhythm;
        const double seconds = std::chrono::duration<double>(audio).count() * (1 - ppm / 1e6);
        return static_cast<uint64_t>(seconds * 44100);
    }
};

// atStop: the clock's verdict at a Stop pressed at length, when the source has not stalled.
std::vector<CaptureClock::Verdict> Simulate(const Source& source, Clock::duration length, unsigned seed = 1,
                                            CaptureClock::Verdict* atStop = nullptr) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jitterMs(0, 60);
    CaptureClock clock;
    const Clock::time_point start{};
    clock.Start(start);
    std::vector<CaptureClock::Verdict> verdicts;
    for (Clock::duration t = 100ms; t < length; t += 100ms + std::chrono::milliseconds(jitterMs(random))) {
        const CaptureClock::Verdict v = clock.Poll(start + t, source.DeliveredBy(t));
        if (v.missingFrames > 0 || v.stalled)
            verdicts.push_back(v);
        if (v.stalled)
            return verdicts;
    }
    if (atStop != nullptr)
        *atStop = clock.Finish(start + length, source.DeliveredBy(length));
    return verdicts;
}

TEST(CaptureClock, ASourceThatKeepsUpSaysNothing) {
    EXPECT_TRUE(Simulate({}, 600s).empty());
    Source slowRhythm;
    slowRhythm.rhythm = 250ms;
    slowRhythm.latency = 400ms;
    EXPECT_TRUE(Simulate(slowRhythm, 120s, 2).empty());
    Source drifting;
    drifting.ppm = 300;  // three times what a poor sound card drifts: 1 s an hour
    EXPECT_TRUE(Simulate(drifting, 3600s, 3).empty());
    Source madeUp;  // a pause whose audio comes late, in one burst
    madeUp.pauseAt = 10s;
    madeUp.pauseFor = 2500ms;
    madeUp.catchUp = true;
    EXPECT_TRUE(Simulate(madeUp, 30s, 4).empty());
}

TEST(CaptureClock, AudioThatNeverCameIsCountedOnceWhereItWasMissing) {
    Source paused;
    paused.pauseAt = 20s;
    paused.pauseFor = 1500ms;
    const auto verdicts = Simulate(paused, 40s);
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_FALSE(verdicts[0].stalled);
    EXPECT_NEAR(verdicts[0].missingFrames / 44100.0, 1.5, 0.15);
    EXPECT_NEAR(verdicts[0].missingAt / 44100.0, 19.8, 0.15);
}

TEST(CaptureClock, NothingForThreeSecondsIsAStallSinceTheLastAudio) {
    Source stopped;
    stopped.pauseAt = 5s;
    stopped.pauseFor = 3600s;
    const auto verdicts = Simulate(stopped, 20s);
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_TRUE(verdicts[0].stalled);
    EXPECT_NEAR(verdicts[0].stalledAt / 44100.0, 4.8, 0.15);
}

// A headset switching profile or a device waking up: its first audio comes late. That is no
// stall, but the seconds after the press are not in the file, which is told.
TEST(CaptureClock, FirstAudioMayTakeTenSecondsAndItsDelayIsTold) {
    Source late;
    late.latency = 4s;
    const auto verdicts = Simulate(late, 30s);
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_FALSE(verdicts[0].stalled);
    EXPECT_NEAR(verdicts[0].missingFrames / 44100.0, 3.7, 0.15);  // beyond the usual start-up latency
    EXPECT_EQ(verdicts[0].missingAt, 0u);

    Source silent;  // never delivers at all
    silent.latency = 3600s;
    EXPECT_TRUE(Simulate(silent, 9900ms).empty());
    const auto never = Simulate(silent, 12s);
    ASSERT_EQ(never.size(), 1u);
    EXPECT_TRUE(never[0].stalled);
    EXPECT_EQ(never[0].stalledAt, 0u);
}

// Nothing more can come after Stop: what the polls left open is judged there.
TEST(CaptureClock, StopJudgesWhatIsStillOpen) {
    CaptureClock::Verdict atStop;
    Source silent;
    silent.latency = 3600s;
    EXPECT_TRUE(Simulate(silent, 6s, 1, &atStop).empty());
    EXPECT_TRUE(atStop.nothingCame);
    EXPECT_EQ(atStop.missingFrames, 0u);
    Simulate(silent, 300ms, 1, &atStop);  // a Stop pressed before any source could deliver
    EXPECT_FALSE(atStop.nothingCame);

    Source stopped;  // a stall shorter than the limit, cut short by the Stop
    stopped.pauseAt = 5s;
    stopped.pauseFor = 3600s;
    EXPECT_TRUE(Simulate(stopped, 6s, 1, &atStop).empty());
    EXPECT_FALSE(atStop.nothingCame);
    EXPECT_NEAR(atStop.missingFrames / 44100.0, 1.0, 0.15);
    EXPECT_NEAR(atStop.missingAt / 44100.0, 4.8, 0.15);

    Source late;  // a first audio still catching up
    late.latency = 4s;
    EXPECT_TRUE(Simulate(late, 4200ms, 1, &atStop).empty());
    EXPECT_NEAR(atStop.missingFrames / 44100.0, 3.7, 0.15);
    EXPECT_EQ(atStop.missingAt, 0u);

    EXPECT_TRUE(Simulate({}, 60s, 1, &atStop).empty());  // a source that kept up
    EXPECT_EQ(atStop.missingFrames, 0u);
    EXPECT_FALSE(atStop.nothingCame);
}

}  // namespace
