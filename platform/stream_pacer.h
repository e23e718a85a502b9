// Keeps a record stream's mainloop thread to one round of reading per period, however small
// the pieces the server hands over.
//
// A source that runs at a small latency (a monitor of a sink at 20 ms, a low-latency
// microphone) makes the server send every piece as it comes, whatever fragment size the
// stream asked for, and a reader that takes each piece as it arrives wakes for each. Here the
// stream's read callback only arms the pacer; once the loop has dispatched what came with
// it, the round callback takes everything the stream holds at once, and the thread then
// rests out the rest of the period while the next pieces gather, and takes them in the next
// round. Nothing is dropped: audio only waits longer, one period at most, in the server's
// queue.
//
// The rest runs inside the mainloop's dispatch, so the thread holds the mainloop lock while
// it rests. Other threads must take that lock through LockPromptly, which ends a rest at
// once, so Start, Stop, Reset and Close never wait out a period. Whatever a rest delays (a
// server or a source going away) is seen at the next round, one period later at most.
//
// Threads: the round callback, Arm and Disarm run on the mainloop thread or with the
// mainloop lock held, as do Attach and Detach; LockPromptly on any other thread.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "pulse_connection.h"

class StreamPacer {
public:
    // Takes everything the stream holds; returns whether to rest before the next round.
    using Round = bool (*)(void* context);

    StreamPacer(std::chrono::milliseconds period, Round round, void* context)
        : period_(period), round_(round), context_(context) {}
    StreamPacer(const StreamPacer&) = delete;
    StreamPacer& operator=(const StreamPacer&) = delete;

    // Makes the pacer ready on connection's mainloop. Should the loop have no event to give,
    // Arm takes the round at once and never rests: dearer, never wrong.
    void Attach(PulseConnection& connection);
    // No round or rest runs after it returns; call before the connection closes.
    void Detach();

    // Audio arrived: a round follows once the loop has dispatched what came with it.
    void Arm();
    // Drops a round or a rest still to come. The caller takes what the stream holds itself,
    // or audio left in it waits for the next arrival.
    void Disarm();

    // Takes connection's mainloop lock, ending a rest at once rather than waiting it out.
    void LockPromptly(PulseConnection& connection);

private:
    static void OnPass(pa_mainloop_api* api, pa_defer_event* event, void* self);
    void Rest();

    const std::chrono::steady_clock::duration period_;
    const Round round_;
    void* const context_;
    pa_mainloop_api* api_ = nullptr;
    pa_defer_event* event_ = nullptr;
    bool restNext_ = false;  // mainloop lock: the next pass rests rather than takes a round

    std::mutex mutex_;
    std::condition_variable wake_;
    int waiting_ = 0;                                    // threads in LockPromptly, under mutex_
    std::chrono::steady_clock::time_point periodEnd_{};  // mainloop lock
};
