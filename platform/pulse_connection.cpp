#include "pulse_connection.h"

PulseConnection::~PulseConnection() {
    Close();
}

bool PulseConnection::Connect(pa_usec_t limitUsec) {
    if (!loop_.Start("voxmere-pulse")) {
        error_ = "Cannot create an event loop for the sound server";
        return false;
    }
    Lock();
    context_ = pa_context_new(loop_.Api(), "Voxmere");
    if (context_ == nullptr) {
        Unlock();
        error_ = "Cannot create a sound server connection";
        Close();
        return false;
    }
    pa_context_set_state_callback(context_, &PulseConnection::OnContextState, this);

    deadline_ = PacedMainloop::Clock::now() + std::chrono::microseconds(limitUsec);
    // Without NOAUTOSPAWN a missing server would be started for us: a recorder must never
    // leave a daemon behind, and the start could take longer than the limit.
    bool ready = false;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        TakeServerError();
    } else {
        ready = WaitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
    }
    Unlock();
    if (!ready)
        Close();
    return ready;
}

bool PulseConnection::WaitFor(const std::function<bool()>& done) {
    // A server that accepts the connection and then stalls never changes the context's
    // state, and a loop that has failed fires nothing: the wait keeps its own time.
    for (;;) {
        if (done())
            return true;
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            TakeServerError();
            return false;
        }
        if (const std::string ended = LoopEnded(); !ended.empty()) {
            error_ = ended;
            return false;
        }
        if (PacedMainloop::Clock::now() >= deadline_) {
            error_ = "The sound server did not answer in time";
            return false;
        }
        loop_.Wait(deadline_);
    }
}

std::string PulseConnection::LoopEnded() const {
    const std::string& failure = loop_.Failure();
    return failure.empty() ? "" : "The event loop of the sound server connection ended (" + failure + ")";
}

void PulseConnection::Close() {
    if (context_ != nullptr) {
        Lock();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        Unlock();
    }
    loop_.Stop();
}

// Mainloop thread, lock held: on every change of the context's state. Waiters recheck.
void PulseConnection::OnContextState(pa_context*, void* self) {
    static_cast<PulseConnection*>(self)->Signal();
}
