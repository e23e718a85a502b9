// A PulseAudio mainloop on a thread of its own, as pa_threaded_mainloop runs one, that can be
// paced while audio is captured.
//
// Unpaced, the thread polls and dispatches every event as it comes. Paced, it wakes once a
// period instead: it rests with the lock let go, then takes a round (everything the server has
// sent, then the round callback, which takes what the stream holds at once). A source that
// runs at a small latency (a monitor of a sink at 20 ms, a low-latency microphone) sends a
// piece every few milliseconds whatever fragment size the stream asks for; paced, they
// gather in the socket and cost one wake-up a period, not one each.
//
// A thread that wakes anyway (the recording's worker asks for the position every 100 ms) can
// take the round itself: Pump. A pump takes one only when it is due, a period after the last
// less a quarter of it for the caller's jitter, so a caller that wakes more often than the
// period costs no more rounds: each round pays a fixed price (the loop's passes, the server
// woken to take back the blocks we release) that pieces gathered for longer share. While
// pumps keep coming the mainloop thread only stands by, waking once a second, so the whole
// capture costs the caller's wake-ups and no more. When they stop, it takes the rounds again,
// one period after the last pump at most.
//
// Because a rest holds no lock, Start, Stop, Reset and Close never wait for one to end; what
// a rest delays (a server or a source going away) is seen at the next round or pump.
//
// A poll that fails (not merely interrupted) ends the loop for good, on whichever thread it
// happened: the thread ends, no round or pump reads any more, and Failure() says why. Every
// Wait and Pump returns then, so nothing waits for a loop that is gone; its owner must look
// at Failure(), or the silence would look like a source that stopped sending.
//
// Threads: Lock and Unlock on any thread but the mainloop's; every callback runs on the
// mainloop thread or in a pump, with the lock held. Pace, Unpace, Pump and Wait need the lock
// held; Signal is for callbacks. Start and Stop without the lock.
#pragma once

#include <poll.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class PacedMainloop {
public:
    using Clock = std::chrono::steady_clock;
    // Takes what the stream holds, once the events of a round are dispatched.
    using Round = void (*)(void* context);

    PacedMainloop() = default;
    ~PacedMainloop() { Stop(); }
    PacedMainloop(const PacedMainloop&) = delete;
    PacedMainloop& operator=(const PacedMainloop&) = delete;

    // Creates the loop and starts its thread, unpaced. False if either cannot be had.
    bool Start(const char* threadName);
    // Ends the thread and frees the loop; no callback runs after it returns. Idempotent.
    void Stop();

    pa_mainloop_api* Api() const { return pa_mainloop_get_api(loop_); }
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }
    // A callback tells Wait's caller that something changed. Wait also returns at deadline,
    // once the loop has failed, and possibly without cause.
    void Signal() { signal_.notify_all(); }
    void Wait(Clock::time_point deadline);
    // Lock held: "" while the loop runs (or was stopped); once a poll failed, its words.
    const std::string& Failure() const { return failure_; }

    // From now on one round a period, each ending with round(context); the first is one
    // period away.
    void Pace(std::chrono::milliseconds period, Round round, void* context);
    // Back to dispatching every event as it comes; no round starts after it returns.
    void Unpace();
    bool Paced() const { return round_ != nullptr; }
    // Paced: takes a round on the calling thread if one is due (see above), once the mainloop
    // thread is resting (it may still be finishing a poll begun before Pace); Force takes it
    // whether due or not. Unpaced, there is nothing to take: every event was dispatched as it
    // came.
    enum class Due { IfDue, Force };
    void Pump(Due due);

private:
    void Run();
    void TakeRound();
    void Fail();
    Clock::time_point NextRound() const;
    static int PollUnlocked(pollfd* fds, unsigned long count, int timeout, void* self);

    pa_mainloop* loop_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;                // the lock: everything below, and every libpulse object
    std::condition_variable signal_;  // Signal -> Wait
    std::condition_variable wake_;    // ends a rest early: Unpace, Stop
    std::condition_variable rested_;  // the mainloop thread began a rest (Pump waits for it)
    bool quit_ = false;
    bool resting_ = false;   // the mainloop thread is outside the loop, resting
    Round round_ = nullptr;  // null: unpaced
    void* context_ = nullptr;
    Clock::duration period_{};
    Clock::time_point lastRound_{};
    Clock::time_point lastPump_{};
    int pollError_ = 0;    // errno of the last poll that failed
    std::string failure_;  // see Failure()
};
