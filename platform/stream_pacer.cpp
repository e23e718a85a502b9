#include "stream_pacer.h"

// How the passes go. While any defer event is enabled the mainloop dispatches defer events
// alone, in passes, and does not poll.
//   a round: takes what the stream holds. Dropping it queues releases of the server's
//            memory, which the connection's own defer event writes later in the same pass
//            (this event is created after the connection's, so it comes first in every
//            pass); so the rest waits for the next pass.
//   a rest:  up to the end of the period; then a round again, for what arrived meanwhile
//            and for pieces that came in after the last round (a bursty source may send
//            nothing more for seconds, and they must not wait for it).
// A round that finds nothing, or finds the device stopped, disables the event: then the loop
// polls again, and sees its sockets (a server that died, a stream that ended).

void StreamPacer::Attach(PulseConnection& connection) {
    api_ = connection.Api();
    event_ = api_->defer_new(api_, &StreamPacer::OnPass, this);
    if (event_ != nullptr)
        api_->defer_enable(event_, 0);
}

void StreamPacer::Detach() {
    if (event_ != nullptr)
        api_->defer_free(event_);
    event_ = nullptr;
}

void StreamPacer::Arm() {
    if (event_ == nullptr) {
        round_(context_);
    } else {
        api_->defer_enable(event_, 1);
    }
}

void StreamPacer::Disarm() {
    if (event_ != nullptr)
        api_->defer_enable(event_, 0);
    restNext_ = false;
}

void StreamPacer::LockPromptly(PulseConnection& connection) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++waiting_;
    }
    wake_.notify_all();
    connection.Lock();
    std::lock_guard<std::mutex> lock(mutex_);
    --waiting_;
}

// Mainloop thread, lock held: once per pass while the event is enabled.
void StreamPacer::OnPass(pa_mainloop_api* api, pa_defer_event* event, void* self) {
    auto* pacer = static_cast<StreamPacer*>(self);
    if (pacer->restNext_) {
        pacer->Rest();
        pacer->restNext_ = false;
    } else if (pacer->round_(pacer->context_)) {
        pacer->restNext_ = true;
    } else {
        api->defer_enable(event, 0);
    }
}

void StreamPacer::Rest() {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    // The rhythm lapsed (the first round, one after a pause, or one the system ran late): a
    // new period starts now.
    if (periodEnd_ <= now)
        periodEnd_ = now + period_;
    if (wake_.wait_until(lock, periodEnd_, [this] { return waiting_ > 0; }))
        return;  // someone wants the lock; the period goes on after them
    periodEnd_ += period_;
}
