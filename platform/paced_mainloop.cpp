#include "paced_mainloop.h"

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace {
using namespace std::chrono_literals;

// While pumps come, the mainloop thread takes a round itself only this long after the last.
constexpr auto kStandBy = 1s;
// A round dispatches until nothing is left, or this many passes: a server that sends faster
// than they go must not keep the round going.
constexpr int kPassLimit = 16;
}  // namespace

bool PacedMainloop::Start(const char* threadName) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr)
        return false;
    quit_ = false;
    failure_.clear();
    pa_mainloop_set_poll_func(loop_, &PacedMainloop::PollUnlocked, this);
    try {
        thread_ = std::thread([this, threadName] {
            pthread_setname_np(pthread_self(), threadName);
            Run();
        });
    } catch (const std::system_error&) {
        pa_mainloop_free(loop_);
        loop_ = nullptr;
        return false;
    }
    return true;
}

void PacedMainloop::Stop() {
    if (loop_ == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        round_ = nullptr;
        pa_mainloop_wakeup(loop_);
    }
    wake_.notify_all();
    rested_.notify_all();
    thread_.join();
    pa_mainloop_free(loop_);
    loop_ = nullptr;
}

void PacedMainloop::Wait(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    if (failure_.empty())
        signal_.wait_until(lock, deadline);
    lock.release();  // the caller still holds it
}

void PacedMainloop::Pace(std::chrono::milliseconds period, Round round, void* context) {
    period_ = period;
    round_ = round;
    context_ = context;
    lastRound_ = Clock::now();
    pa_mainloop_wakeup(loop_);  // out of its poll and into the first rest
}

void PacedMainloop::Unpace() {
    round_ = nullptr;
    wake_.notify_all();
}

void PacedMainloop::Pump(Due due) {
    std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
    rested_.wait(lock, [this] { return resting_ || round_ == nullptr || quit_; });
    lock.release();
    if (!resting_ || round_ == nullptr)
        return;
    const Clock::time_point now = Clock::now();
    lastPump_ = now;  // pumps are coming: the mainloop thread stands by
    if (due == Due::IfDue && now - lastRound_ < period_ - period_ / 4)
        return;
    TakeRound();
    lastRound_ = Clock::now();
}

// Lock held, and no other thread inside the loop: the mainloop thread is resting or is the
// caller.
void PacedMainloop::TakeRound() {
    for (int pass = 0; pass < kPassLimit; ++pass) {
        const int dispatched = pa_mainloop_iterate(loop_, 0, nullptr);
        if (dispatched < 0)
            Fail();
        if (dispatched <= 0)
            break;
    }
    // Also after a failure: what the stream already holds is still taken, and the round's
    // owner learns of the failure there.
    if (round_ != nullptr)
        round_(context_);
}

// Lock held: a poll failed (pa_mainloop_iterate fails on nothing else here, as the loop is
// never asked to quit). Stop's own end is not a failure.
void PacedMainloop::Fail() {
    if (quit_)
        return;
    failure_ = pollError_ != 0 ? std::string("poll failed: ") + std::strerror(pollError_) : "it failed";
    quit_ = true;
    wake_.notify_all();    // the mainloop thread, if resting, ends
    rested_.notify_all();  // a pump stops waiting for a rest
    signal_.notify_all();  // and so does a waiter
}

PacedMainloop::Clock::time_point PacedMainloop::NextRound() const {
    const Clock::time_point own = lastRound_ + period_;
    const Clock::time_point standBy = lastPump_ + kStandBy;
    return standBy > own ? standBy : own;
}

void PacedMainloop::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (round_ == nullptr) {
            // The poll function lets the lock go while it waits.
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0)
                Fail();
            continue;
        }
        resting_ = true;
        rested_.notify_all();
        // The due time moves on while pumps come: it is read again at every wake.
        while (!quit_ && round_ != nullptr && Clock::now() < NextRound())
            wake_.wait_until(lock, NextRound());
        resting_ = false;
        if (!quit_ && round_ != nullptr) {
            TakeRound();
            lastRound_ = Clock::now();
        }
    }
    // A pump must not wait for a rest that never comes.
    rested_.notify_all();
}

// Only the mainloop thread ever waits in a poll; a round's passes (timeout 0) keep the lock.
int PacedMainloop::PollUnlocked(pollfd* fds, unsigned long count, int timeout, void* self) {
    if (timeout == 0) {
        const int ready = poll(fds, count, 0);
        static_cast<PacedMainloop*>(self)->pollError_ = ready < 0 ? errno : 0;
        return ready;
    }
    auto* loop = static_cast<PacedMainloop*>(self);
    loop->mutex_.unlock();
    const int ready = poll(fds, count, timeout);
    const int why = errno;
    loop->mutex_.lock();
    // pa_mainloop reads errno after this returns: an interrupted poll is no failure.
    loop->pollError_ = ready < 0 ? why : 0;
    errno = why;
    return ready;
}
