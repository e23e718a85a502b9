// The buffers' side of an open waveIn device: the caller's buffers in fill order, the audio
// copied into the head one, the hand-back of full and returned buffers, and the notification
// thread that reports them (WIM_DATA) one at a time, in hand-back order, holding no lock.
//
// Everything here is guarded by one mutex, which is never held while calling out, so the
// capture side (Deliver) never waits for a report being handled, and neither does any device
// operation: the caller may hold a lock its report handler takes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "wavein.h"

// Neither copied nor moved: its mutex and thread make sure of that.
class BufferQueue {
public:
    ~BufferQueue();

    // Starts the notification thread, which reports to callback as handle and keeps owner
    // alive until it ends. False if the thread cannot be had.
    bool StartReports(LPWAVEINPROC callback, HWAVEIN handle, DWORD_PTR instance, std::shared_ptr<void> owner);

    // Copies audio into the buffers while capturing; data null stands for silence (a hole in
    // the stream, kept so the recording keeps its length). Audio with no buffer to go to is
    // counted as lost. Returns whether the device is capturing.
    bool Deliver(const char* data, size_t bytes);

    // Start: capturing from now on, unless the device failed (MMSYSERR_NODRIVER; its words in
    // failureText).
    MMRESULT Begin(std::string& failureText);
    // Stop (everyBuffer false): hands back the head if it holds audio. Reset: hands back every
    // buffer and the position starts again from 0. Either way capturing ends.
    void Halt(bool everyBuffer);
    // The stream or the server under it ended: capturing ends for good and every buffer comes
    // back, the head with what it holds. The first cause is kept; none after a close.
    void Fail(const std::string& cause);

    // waveInAddBuffer's checks past the header's own, then queues it.
    MMRESULT Add(WAVEHDR* header, std::string& failureText);
    // Sets or clears WHDR_PREPARED; WAVERR_STILLPLAYING for a buffer the device holds.
    MMRESULT MarkPrepared(WAVEHDR* header, bool prepared);

    // Close, first half: WAVERR_STILLPLAYING while any buffer is held; else the device is
    // closed from here on.
    MMRESULT BeginClose();
    bool IsClosed();
    // Close, second half: the notification thread ends. One that is idle is joined; one still
    // inside a report is left to finish by itself, as waiting for it could wait for a lock
    // the caller holds.
    void EndReports();

    uint64_t DeliveredBytes();
    uint64_t LostBytes();

private:
    void Notify(LPWAVEINPROC callback, HWAVEIN handle, DWORD_PTR instance, std::shared_ptr<void> owner);
    bool Holds(const WAVEHDR* header) const;
    void HandBackHead();
    void HandBackAll();

    std::thread notifier_;

    std::mutex mutex_;
    std::condition_variable wake_;     // the notification thread waits on it
    std::deque<WAVEHDR*> queued_;      // front: the buffer being filled
    DWORD headFill_ = 0;               // bytes of queued_.front() filled so far
    std::deque<WAVEHDR*> handedBack_;  // full or returned, report not yet begun
    bool capturing_ = false;
    bool reporting_ = false;  // the notification thread is inside the callback
    bool closing_ = false;
    bool closed_ = false;
    uint64_t lostBytes_ = 0;
    uint64_t deliveredBytes_ = 0;  // captured since the open or the last reset
    std::string failure_;          // "" while healthy
};
