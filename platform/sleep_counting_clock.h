// A steady clock that goes on counting while the computer sleeps. Measured on it, a sleep in
// the middle of a take is time in which no audio came, and is told as such; measured on a
// clock that stands still meanwhile, the audio after waking would follow the audio before it
// as if no time had passed. Windows' steady clock (the performance counter) counts sleep
// already; Linux's (CLOCK_MONOTONIC) does not, CLOCK_BOOTTIME does.
#pragma once

#include <chrono>

#ifdef _WIN32
using SleepCountingClock = std::chrono::steady_clock;
#else
#include <time.h>

struct SleepCountingClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<SleepCountingClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        timespec now = {};
        clock_gettime(CLOCK_BOOTTIME, &now);
        return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
    }
};
#endif
