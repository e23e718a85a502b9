// The waveIn contract over PulseAudio: an open device's life. The device numbers and their
// names come from the device table (device_table.h).
//
// Each open device has three parts:
//   - the capture side: the device's own PulseAudio mainloop thread. It drains the record
//     stream and copies the audio into the head queued buffer; a full buffer leaves the queue
//     and goes to the notification queue. It reads in rounds, and while capturing rests
//     between them (StreamPacer). It never calls the caller's callback and never waits for
//     anything but the device's queue mutex, which nobody holds for long.
//   - the notification thread: takes handed-back buffers one at a time, in fill order, and
//     reports them (WIM_DATA) without holding any lock.
//   - the device operations, on the caller's threads. Start, Stop, Reset and Close take the
//     mainloop lock (waiting for the capture side at most; a rest ends for them at once) and
//     the queue mutex, and never wait for the notification thread: the caller may hold a lock
//     its report handler takes.
// Lock order: Device::control, then the mainloop lock, then Device::queueMutex.
#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "audio_format.h"
#include "device_table.h"
#include "pulse_connection.h"
#include "stream_pacer.h"
#include "wavein.h"

namespace {

constexpr DWORD kFrameBytes = kAudioFrameBytes;
// The server hands audio over in fragments of this length, which bounds how much audio is
// in flight when a buffer is stopped or reset.
constexpr pa_usec_t kFragment = 100 * PA_USEC_PER_MSEC;
// The capture side reads the stream at most once in this long: the fragment's length, so a
// small-latency source costs no more wake-ups than one that honours the fragment size.
constexpr std::chrono::milliseconds kReadPeriod{100};

thread_local std::string t_lastError;

const pa_sample_spec kSpec = {PA_SAMPLE_S16LE, kAudioSampleRate, kAudioChannels};

struct Device {
    HWAVEIN handle = nullptr;
    LPWAVEINPROC callback = nullptr;
    DWORD_PTR instance = 0;

    // Serialises Start, Stop, Reset and Close, so none of them finds the stream half torn down.
    std::mutex control;
    // Declared before the connection, whose end stops the thread that may be resting in it.
    StreamPacer pacer{kReadPeriod, &Device::Round, this};
    PulseConnection connection;
    pa_stream* stream = nullptr;  // under the mainloop lock
    bool opened = false;          // under the mainloop lock: the stream ending is now a failure

    // Everything below is guarded by queueMutex, which is never held while calling out.
    std::mutex queueMutex;
    std::condition_variable wake;     // the notification thread waits on it
    std::deque<WAVEHDR*> queued;      // front: the buffer being filled
    DWORD headFill = 0;               // bytes of queued.front() filled so far
    std::deque<WAVEHDR*> handedBack;  // full or returned, report not yet begun
    bool capturing = false;
    bool reporting = false;  // the notification thread is inside the callback
    bool closing = false;
    bool closed = false;
    uint64_t lostBytes = 0;
    uint64_t deliveredBytes = 0;  // since waveInStart or the last waveInReset
    std::string failure;          // "" while healthy
    std::thread notifier;

    ~Device() {
        // The last reference may be dropped by the notification thread itself.
        if (notifier.joinable())
            notifier.detach();
    }

    bool Holds(const WAVEHDR* header) const {
        return std::find(queued.begin(), queued.end(), header) != queued.end() ||
               std::find(handedBack.begin(), handedBack.end(), header) != handedBack.end();
    }

    // queueMutex held. The byte count and WHDR_DONE are set before the header becomes
    // visible to the notification thread.
    void HandBackHead() {
        WAVEHDR* header = queued.front();
        queued.pop_front();
        header->dwBytesRecorded = headFill;
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        headFill = 0;
        handedBack.push_back(header);
        wake.notify_one();
    }

    // queueMutex held: the partly filled head keeps its bytes, the rest come back empty.
    void HandBackAll() {
        while (!queued.empty())
            HandBackHead();
    }

    // Mainloop lock held, queueMutex not. data null: a hole in the stream, kept as silence so
    // the recording keeps its length. Returns whether the device is capturing.
    bool Deliver(const char* data, size_t bytes) {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (!capturing)
            return false;
        deliveredBytes += bytes;
        while (bytes > 0) {
            if (queued.empty()) {
                lostBytes += bytes;
                return true;
            }
            WAVEHDR* head = queued.front();
            const DWORD capacity = head->dwBufferLength - head->dwBufferLength % kFrameBytes;
            const size_t take = std::min<size_t>(bytes, capacity - headFill);
            if (data != nullptr) {
                std::memcpy(head->lpData + headFill, data, take);
                data += take;
            } else {
                std::memset(head->lpData + headFill, 0, take);
            }
            headFill += static_cast<DWORD>(take);
            bytes -= take;
            if (headFill == capacity)
                HandBackHead();
        }
        return true;
    }

    // Mainloop lock held: takes everything the stream holds, into the buffers while capturing
    // and nowhere otherwise, so no audio from before a Start is ever recorded. Returns whether
    // the device is capturing.
    bool Drain() {
        bool capturing = false;
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (stream == nullptr || pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return capturing;
            capturing = Deliver(static_cast<const char*>(data), bytes);
            pa_stream_drop(stream);
        }
    }

    // Mainloop thread, lock held: a reading round (StreamPacer); rests after it while capturing.
    static bool Round(void* self) { return static_cast<Device*>(self)->Drain(); }

    // Capture side: the stream or the connection under it ended without being asked to.
    void Fail(const std::string& cause) {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (!failure.empty() || closed)
            return;
        failure = cause;
        capturing = false;
        HandBackAll();
    }

    // The notification thread's body; self keeps the device alive until it ends.
    static void Notify(std::shared_ptr<Device> self) {
        pthread_setname_np(pthread_self(), "voxmere-notify");
        std::unique_lock<std::mutex> lock(self->queueMutex);
        for (;;) {
            self->wake.wait(lock, [&] { return !self->handedBack.empty() || self->closing; });
            if (self->handedBack.empty())
                return;
            WAVEHDR* header = self->handedBack.front();
            self->handedBack.pop_front();
            self->reporting = true;
            lock.unlock();
            self->callback(self->handle, WIM_DATA, self->instance, reinterpret_cast<DWORD_PTR>(header), 0);
            lock.lock();
            self->reporting = false;
        }
    }

    // Mainloop lock held. Fire and forget: correctness rests on `capturing`, and a stalled
    // server must not hold up Start or Stop.
    void Cork(bool cork) {
        if (stream == nullptr || pa_stream_get_state(stream) != PA_STREAM_READY)
            return;
        if (pa_operation* operation = pa_stream_cork(stream, cork ? 1 : 0, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }

    // Mainloop lock NOT held. No callback of this device's stream runs after it returns.
    void Disconnect() {
        if (stream != nullptr) {
            pacer.LockPromptly(connection);
            pacer.Detach();
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
            connection.Unlock();
        }
        connection.Close();
    }

    // Mainloop lock held: why the open stream ended, in the server's words.
    std::string LossCause() {
        const std::string words = pa_strerror(pa_context_errno(connection.Context()));
        return connection.ContextReady() ? "The source went away (" + words + ")"
                                         : "The sound server went away (" + words + ")";
    }
};

// Mainloop thread, lock held: a piece of audio arrived. It is taken in the round that follows
// once the loop has dispatched what came with it, not piece by piece.
void OnReadable(pa_stream*, size_t, void* userdata) {
    static_cast<Device*>(userdata)->pacer.Arm();
}

// Mainloop thread, lock held: on every change of the stream's state. After the open it can
// only end: the server went away (the context failed first) or the source did (the stream
// is killed; DONT_MOVE keeps the server from silently recording another source instead).
void OnStreamState(pa_stream* stream, void* userdata) {
    auto* device = static_cast<Device*>(userdata);
    device->connection.Signal();
    if (device->opened && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        device->Fail(device->LossCause());
}

std::mutex g_devicesMutex;
// Never destroyed: a notification thread may still look a handle up while the process exits.
auto& g_devices = *new std::map<HWAVEIN, std::shared_ptr<Device>>;
uintptr_t g_lastHandle = 0;

std::shared_ptr<Device> Find(HWAVEIN hwi) {
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    const auto found = g_devices.find(hwi);
    return found == g_devices.end() ? nullptr : found->second;
}

// queueMutex held. An operation on a device that failed reports why.
MMRESULT Refuse(const Device& device) {
    t_lastError = device.failure;
    return MMSYSERR_NODRIVER;
}

bool FormatIsSupported(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels == kAudioChannels &&
           format.nSamplesPerSec == kAudioSampleRate && format.wBitsPerSample == kAudioBitsPerSample &&
           format.nBlockAlign == kFrameBytes && format.nAvgBytesPerSec == kAudioSampleRate * kFrameBytes;
}

// Opens the record stream on device's connection: name empty for the server's default source.
MMRESULT OpenStream(Device& device, const std::string& name) {
    if (!device.connection.Connect(kConnectLimit)) {
        t_lastError = device.connection.Error();
        return MMSYSERR_NODRIVER;
    }
    PulseConnection& connection = device.connection;
    connection.Lock();
    device.stream = pa_stream_new(connection.Context(), "Recording", &kSpec, nullptr);
    if (device.stream == nullptr) {
        connection.TakeServerError();
        connection.Unlock();
        t_lastError = connection.Error();
        return MMSYSERR_NOMEM;
    }
    pa_stream_set_state_callback(device.stream, &OnStreamState, &device);
    pa_stream_set_read_callback(device.stream, &OnReadable, &device);
    device.pacer.Attach(connection);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragment, &kSpec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_DONT_MOVE);
    bool ready = false;
    if (pa_stream_connect_record(device.stream, name.empty() ? nullptr : name.c_str(), &attributes, flags) <
        0) {
        connection.TakeServerError();
    } else {
        ready = connection.WaitFor([&device] {
            const pa_stream_state_t state = pa_stream_get_state(device.stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        ready = ready && pa_stream_get_state(device.stream) == PA_STREAM_READY;
        if (!ready && connection.ContextReady()) {
            if (pa_context_errno(connection.Context()) == PA_ERR_NOENTITY) {
                connection.SetError("No such source");
            } else if (connection.Error().empty()) {
                connection.TakeServerError();
            }
        }
    }
    connection.Unlock();
    if (!ready) {
        t_lastError = connection.Error();
        device.Disconnect();
        return MMSYSERR_NODRIVER;
    }
    return MMSYSERR_NOERROR;
}

bool ValidHeader(const WAVEHDR* header, UINT size) {
    return header != nullptr && size == sizeof(WAVEHDR);
}

// A header whose buffer can take at least one frame: what prepare and queueing require.
bool ValidBuffer(const WAVEHDR* header, UINT size) {
    return ValidHeader(header, size) && header->lpData != nullptr && header->dwBufferLength >= kFrameBytes;
}

// Device::control held: `closed` changes only under it, so the answer stays true until the
// caller lets go, and the connection may be used.
bool IsClosed(Device& device) {
    std::lock_guard<std::mutex> lock(device.queueMutex);
    return device.closed;
}

// The one shape of every operation on an open device: clear the thread's last error, find
// the device (MMSYSERR_INVALHANDLE for a handle that names none), act. The found reference
// keeps the device alive while act runs, even if another thread closes it meanwhile.
template <typename Act>
MMRESULT OnDevice(HWAVEIN hwi, Act act) {
    t_lastError.clear();
    const std::shared_ptr<Device> device = Find(hwi);
    return device ? act(*device) : MMSYSERR_INVALHANDLE;
}

// Start, Stop, Reset and Close: as OnDevice, and act runs holding Device::control on a
// device not yet closed (MMSYSERR_INVALHANDLE for one a racing close got first).
template <typename Act>
MMRESULT OnOpenDevice(HWAVEIN hwi, Act act) {
    return OnDevice(hwi, [&act](Device& device) {
        std::lock_guard<std::mutex> control(device.control);
        return IsClosed(device) ? static_cast<MMRESULT>(MMSYSERR_INVALHANDLE) : act(device);
    });
}

// Prepare and unprepare: valid says whether the header passed the operation's own check
// (made before the handle is looked at, but reported after it).
MMRESULT MarkPrepared(HWAVEIN hwi, WAVEHDR* pwh, bool valid, bool prepared) {
    return OnDevice(hwi, [=](Device& device) -> MMRESULT {
        if (!valid)
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> lock(device.queueMutex);
        if (device.Holds(pwh))
            return WAVERR_STILLPLAYING;
        pwh->dwFlags = prepared ? pwh->dwFlags | WHDR_PREPARED : pwh->dwFlags & ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    });
}

// Stop and Reset: the capture side is held off (mainloop lock) while the buffers change hands.
MMRESULT Halt(HWAVEIN hwi, bool everyBuffer) {
    return OnOpenDevice(hwi, [everyBuffer](Device& device) {
        device.pacer.LockPromptly(device.connection);
        // What arrived before the stop belongs in the buffer handed back; nothing is left behind.
        device.pacer.Disarm();
        device.Drain();
        {
            std::lock_guard<std::mutex> lock(device.queueMutex);
            device.capturing = false;
            if (everyBuffer) {
                device.HandBackAll();
                device.deliveredBytes = 0;
            } else if (device.headFill > 0) {
                device.HandBackHead();
            }
        }
        device.Cork(true);
        device.connection.Unlock();
        return static_cast<MMRESULT>(MMSYSERR_NOERROR);
    });
}

}  // namespace

UINT waveInGetNumDevs() {
    t_lastError.clear();
    return static_cast<UINT>(RefreshDeviceTable(t_lastError));
}

MMRESULT waveInGetDevCapsW(UINT_PTR uDeviceID, WAVEINCAPSW* pwic, UINT cbwic) {
    if (pwic == nullptr || cbwic != sizeof(WAVEINCAPSW))
        return MMSYSERR_INVALPARAM;
    return DescribeDevice(uDeviceID, *pwic);
}

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    t_lastError.clear();
    if (phwi == nullptr || pwfx == nullptr)
        return MMSYSERR_INVALPARAM;
    *phwi = nullptr;
    if (fdwOpen != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    if (dwCallback == 0)
        return MMSYSERR_INVALPARAM;
    if (!FormatIsSupported(*pwfx)) {
        t_lastError = "Only 16-bit stereo PCM at 44100 Hz can be captured";
        return WAVERR_BADFORMAT;
    }

    std::string source;
    if (uDeviceID != WAVE_MAPPER) {
        const MMRESULT found = DeviceSource(uDeviceID, source, t_lastError);
        if (found != MMSYSERR_NOERROR)
            return found;
    }

    auto device = std::make_shared<Device>();
    device->callback = reinterpret_cast<LPWAVEINPROC>(dwCallback);
    device->instance = dwInstance;
    const MMRESULT opened = OpenStream(*device, source);
    if (opened != MMSYSERR_NOERROR)
        return opened;

    // From here on the stream ending is the device failing; it may already have ended.
    device->connection.Lock();
    device->opened = true;
    if (pa_stream_get_state(device->stream) != PA_STREAM_READY)
        device->Fail(device->LossCause());
    device->connection.Unlock();
    {
        std::lock_guard<std::mutex> registry(g_devicesMutex);
        // The handle is an id, never an address, so a stale handle cannot name a new device.
        device->handle = reinterpret_cast<HWAVEIN>(++g_lastHandle);
    }
    try {
        device->notifier = std::thread(&Device::Notify, device);
    } catch (const std::system_error& error) {
        device->Disconnect();
        t_lastError = error.what();
        return MMSYSERR_NOMEM;
    }
    {
        std::lock_guard<std::mutex> registry(g_devicesMutex);
        g_devices.emplace(device->handle, device);
    }
    *phwi = device->handle;
    device->callback(device->handle, WIM_OPEN, device->instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return MarkPrepared(hwi, pwh, ValidBuffer(pwh, cbwh), true);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return MarkPrepared(hwi, pwh, ValidHeader(pwh, cbwh), false);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return OnDevice(hwi, [pwh, cbwh](Device& device) -> MMRESULT {
        if (!ValidBuffer(pwh, cbwh))
            return MMSYSERR_INVALPARAM;
        std::lock_guard<std::mutex> lock(device.queueMutex);
        if (device.closed)
            return MMSYSERR_INVALHANDLE;
        if ((pwh->dwFlags & WHDR_PREPARED) == 0)
            return WAVERR_UNPREPARED;
        if (device.Holds(pwh))
            return WAVERR_STILLPLAYING;
        if (!device.failure.empty())
            return Refuse(device);
        pwh->dwBytesRecorded = 0;
        pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        device.queued.push_back(pwh);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveInStart(HWAVEIN hwi) {
    return OnOpenDevice(hwi, [](Device& device) {
        device.pacer.LockPromptly(device.connection);
        device.Drain();  // what came in while stopped is not this recording's
        MMRESULT result = MMSYSERR_NOERROR;
        {
            std::lock_guard<std::mutex> lock(device.queueMutex);
            if (!device.failure.empty()) {
                result = Refuse(device);
            } else {
                device.capturing = true;
            }
        }
        if (result == MMSYSERR_NOERROR)
            device.Cork(false);
        device.connection.Unlock();
        return result;
    });
}

MMRESULT waveInStop(HWAVEIN hwi) {
    return Halt(hwi, false);
}

MMRESULT waveInReset(HWAVEIN hwi) {
    return Halt(hwi, true);
}

MMRESULT waveInGetPosition(HWAVEIN hwi, MMTIME* pmmt, UINT cbmmt) {
    return OnDevice(hwi, [pmmt, cbmmt](Device& device) -> MMRESULT {
        if (pmmt == nullptr || cbmmt != sizeof(MMTIME))
            return MMSYSERR_INVALPARAM;
        uint64_t bytes;
        {
            std::lock_guard<std::mutex> lock(device.queueMutex);
            bytes = device.deliveredBytes;
        }
        switch (pmmt->wType) {
            case TIME_SAMPLES:
                pmmt->u.sample = static_cast<DWORD>(bytes / kFrameBytes);
                break;
            case TIME_MS:
                pmmt->u.ms = static_cast<DWORD>(bytes / kFrameBytes * 1000 / kAudioSampleRate);
                break;
            default:
                pmmt->wType = TIME_BYTES;
                pmmt->u.cb = static_cast<DWORD>(bytes);
                break;
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT waveInClose(HWAVEIN hwi) {
    LPWAVEINPROC callback = nullptr;
    DWORD_PTR instance = 0;
    const MMRESULT result = OnOpenDevice(hwi, [&](Device& device) -> MMRESULT {
        {
            std::lock_guard<std::mutex> lock(device.queueMutex);
            if (!device.queued.empty() || !device.handedBack.empty())
                return WAVERR_STILLPLAYING;
            device.closed = true;
            device.capturing = false;
        }
        {
            std::lock_guard<std::mutex> registry(g_devicesMutex);
            g_devices.erase(hwi);
        }
        device.Disconnect();
        bool idle;
        {
            std::lock_guard<std::mutex> lock(device.queueMutex);
            device.closing = true;
            idle = !device.reporting;
            device.wake.notify_one();
        }
        // An idle notification thread ends at once, so joining it waits for nothing the caller
        // may hold. One still inside a report (its handler's last steps) is left to end by
        // itself: waiting for it is what the caller's lock forbids.
        if (idle) {
            device.notifier.join();
        } else {
            device.notifier.detach();
        }
        callback = device.callback;
        instance = device.instance;
        return MMSYSERR_NOERROR;
    });
    // After Device::control is let go, as the other operations' callers may wait for it.
    if (result == MMSYSERR_NOERROR)
        callback(hwi, WIM_CLOSE, instance, 0, 0);
    return result;
}

const char* waveInLastServerError() {
    return t_lastError.c_str();
}

uint64_t waveInGetLostFrames(HWAVEIN hwi) {
    const auto device = Find(hwi);
    if (!device)
        return 0;
    std::lock_guard<std::mutex> lock(device->queueMutex);
    return device->lostBytes / kFrameBytes;
}
