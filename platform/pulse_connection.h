// One connection to the sound server with a mainloop thread of its own.
//
// Guarantees: connecting never spawns a daemon and never takes longer than the time limit
// given to Connect, including a server that accepts the socket and then never answers and a
// mainloop thread that has ended; every wait afterwards shares that same deadline. Error()
// holds the server's words for the last failure ("Connection refused") or a short reason of
// our own ("Timeout").
//
// Threads: every libpulse callback runs with the mainloop lock held, on the mainloop thread or
// in a pump (paced_mainloop.h). All other calls here, and every libpulse call on this
// connection's objects, must be made with that lock held (Lock/Unlock), never from the
// mainloop thread itself for Connect/Close.
#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>

#include "paced_mainloop.h"

// How long the device table and an open wait for the server at most: a stalled server must not
// freeze the window or the recording worker.
constexpr pa_usec_t kConnectLimit = 2 * PA_USEC_PER_SEC;

class PulseConnection {
public:
    PulseConnection() = default;
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Starts the mainloop thread and connects within limitUsec. Returns with the mainloop
    // UNLOCKED either way; on false, Error() says why and Close() has run.
    bool Connect(pa_usec_t limitUsec);

    // Waits until done() holds, the context fails, the mainloop ends or the deadline of
    // Connect passes; true only in the first case. Caller holds the lock; callbacks that
    // change what done() looks at must call Signal().
    bool WaitFor(const std::function<bool()>& done);

    // Lock held: "" while the mainloop runs; once it has ended on a failure, the words that
    // say so. Nothing is read from the server after that: the connection is as good as gone.
    std::string LoopEnded() const;

    // Disconnects and stops the mainloop thread; no callback runs after it returns. Call with
    // the lock NOT held. Idempotent.
    void Close();

    void Lock() { loop_.Lock(); }
    void Unlock() { loop_.Unlock(); }
    void Signal() { loop_.Signal(); }
    // The mainloop's pacing (paced_mainloop.h), with the lock held.
    PacedMainloop& Loop() { return loop_; }

    pa_context* Context() const { return context_; }
    bool ContextReady() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

    // The server's words for the context's last error, as the latest failure.
    void TakeServerError() { error_ = pa_strerror(pa_context_errno(context_)); }
    void SetError(std::string text) { error_ = std::move(text); }
    const std::string& Error() const { return error_; }

private:
    static void OnContextState(pa_context* context, void* self);

    PacedMainloop loop_;
    pa_context* context_ = nullptr;
    PacedMainloop::Clock::time_point deadline_{};
    std::string error_;
};
