#include "buffer_queue.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "audio_format.h"

BufferQueue::~BufferQueue() {
    // The last owner may be the notification thread itself.
    if (notifier_.joinable())
        notifier_.detach();
}

bool BufferQueue::StartReports(LPWAVEINPROC callback, HWAVEIN handle, DWORD_PTR instance,
                               std::shared_ptr<void> owner) {
    try {
        notifier_ = std::thread(&BufferQueue::Notify, this, callback, handle, instance, std::move(owner));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// owner is held, unused, so that the device lives as long as this thread.
void BufferQueue::Notify(LPWAVEINPROC callback, HWAVEIN handle, DWORD_PTR instance,
                         std::shared_ptr<void> /*owner*/) {
    pthread_setname_np(pthread_self(), "voxmere-notify");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !handedBack_.empty() || closing_; });
        if (handedBack_.empty())
            return;
        WAVEHDR* header = handedBack_.front();
        handedBack_.pop_front();
        reporting_ = true;
        lock.unlock();
        callback(handle, WIM_DATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
        lock.lock();
        reporting_ = false;
    }
}

bool BufferQueue::Holds(const WAVEHDR* header) const {
    return std::find(queued_.begin(), queued_.end(), header) != queued_.end() ||
           std::find(handedBack_.begin(), handedBack_.end(), header) != handedBack_.end();
}

// Mutex held. The byte count and WHDR_DONE are set before the header becomes visible to the
// notification thread.
void BufferQueue::HandBackHead() {
    WAVEHDR* header = queued_.front();
    queued_.pop_front();
    header->dwBytesRecorded = headFill_;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    headFill_ = 0;
    handedBack_.push_back(header);
    wake_.notify_one();
}

// Mutex held: the partly filled head keeps its bytes, the rest come back empty.
void BufferQueue::HandBackAll() {
    while (!queued_.empty())
        HandBackHead();
}

bool BufferQueue::Deliver(const char* data, size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!capturing_)
        return false;
    deliveredBytes_ += bytes;
    while (bytes > 0) {
        if (queued_.empty()) {
            lostBytes_ += bytes;
            return true;
        }
        WAVEHDR* head = queued_.front();
        const DWORD capacity = head->dwBufferLength - head->dwBufferLength % kAudioFrameBytes;
        const size_t take = std::min<size_t>(bytes, capacity - headFill_);
        if (data != nullptr) {
            std::memcpy(head->lpData + headFill_, data, take);
            data += take;
        } else {
            std::memset(head->lpData + headFill_, 0, take);
        }
        headFill_ += static_cast<DWORD>(take);
        bytes -= take;
        if (headFill_ == capacity)
            HandBackHead();
    }
    return true;
}

MMRESULT BufferQueue::Begin(std::string& failureText) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_.empty()) {
        failureText = failure_;
        return MMSYSERR_NODRIVER;
    }
    capturing_ = true;
    return MMSYSERR_NOERROR;
}

void BufferQueue::Halt(bool everyBuffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    capturing_ = false;
    if (everyBuffer) {
        HandBackAll();
        deliveredBytes_ = 0;
    } else if (headFill_ > 0) {
        HandBackHead();
    }
}

void BufferQueue::Fail(const std::string& cause) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_.empty() || closed_)
        return;
    failure_ = cause;
    capturing_ = false;
    HandBackAll();
}

MMRESULT BufferQueue::Add(WAVEHDR* header, std::string& failureText) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_)
        return MMSYSERR_INVALHANDLE;
    if ((header->dwFlags & WHDR_PREPARED) == 0)
        return WAVERR_UNPREPARED;
    if (Holds(header))
        return WAVERR_STILLPLAYING;
    if (!failure_.empty()) {
        failureText = failure_;
        return MMSYSERR_NODRIVER;
    }
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queued_.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT BufferQueue::MarkPrepared(WAVEHDR* header, bool prepared) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Holds(header))
        return WAVERR_STILLPLAYING;
    header->dwFlags = prepared ? header->dwFlags | WHDR_PREPARED : header->dwFlags & ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT BufferQueue::BeginClose() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queued_.empty() || !handedBack_.empty())
        return WAVERR_STILLPLAYING;
    closed_ = true;
    capturing_ = false;
    return MMSYSERR_NOERROR;
}

bool BufferQueue::IsClosed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

void BufferQueue::EndReports() {
    bool idle;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        idle = !reporting_;
        wake_.notify_one();
    }
    if (idle) {
        notifier_.join();
    } else {
        notifier_.detach();
    }
}

uint64_t BufferQueue::DeliveredBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveredBytes_;
}

uint64_t BufferQueue::LostBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lostBytes_;
}
