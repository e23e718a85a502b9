// The waveIn contract over PulseAudio: an open device's life. The device numbers and their
// names come from the device table (device_table.h), the buffers' side from the buffer queue
// (buffer_queue.h).
//
// Each open device has three parts:
//   - the capture side: the device's PulseAudio mainloop (paced_mainloop.h). It drains the
//     record stream into the buffer queue. While capturing it reads in rounds, one a period,
//     and a thread that asks for the position takes the round itself when one is due, so the
//     recording's worker, which asks every 100 ms, does the reading on wake-ups it has
//     anyway. It never calls the caller's callback and never waits for anything but the
//     queue's mutex, which nobody holds for long.
//   - the notification thread (the buffer queue's): reports handed-back buffers one at a
//     time, in fill order, without holding any lock.
//   - the device operations, on the caller's threads. Start, Stop, Reset, Close and the
//     position take the mainloop lock (a rest holds none) and the queue's mutex, and never
//     wait for the notification thread: the caller may hold a lock its report handler takes.
// Lock order: Device::control, then the mainloop lock, then the queue's mutex.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "audio_format.h"
#include "buffer_queue.h"
#include "device_table.h"
#include "pulse_connection.h"
#include "wavein.h"

namespace {

constexpr DWORD kFrameBytes = kAudioFrameBytes;
// The server hands audio over in fragments of this length, which bounds how much audio is
// in flight when a buffer is stopped or reset.
constexpr pa_usec_t kFragment = 100 * PA_USEC_PER_MSEC;
// While capturing the stream is read at most once in this long, so a small-latency source
// costs no more wake-ups than one that honours the fragment size. Twice the worker's poll:
// each round costs as much again as the pieces it takes (a monitor sends one every 7 ms), and
// a position that lags by up to this much is well inside the capture clock's tolerance.
constexpr std::chrono::milliseconds kReadPeriod{200};

thread_local std::string t_lastError;

const pa_sample_spec kSpec = {PA_SAMPLE_S16LE, kAudioSampleRate, kAudioChannels};

struct Device {
    HWAVEIN handle = nullptr;
    LPWAVEINPROC callback = nullptr;
    DWORD_PTR instance = 0;

    // Serialises Start, Stop, Reset, Close and the position, so none of them finds the stream
    // half torn down.
    std::mutex control;
    // Declared before the connection, whose end stops the thread that may still report into it.
    BufferQueue buffers;
    PulseConnection connection;
    pa_stream* stream = nullptr;  // under the mainloop lock
    bool opened = false;          // under the mainloop lock: the stream ending is now a failure
    bool monitor = false;         // set before the device is registered, then only read

    // Mainloop lock held: takes everything the stream holds, into the buffers while capturing
    // and nowhere otherwise, so no audio from before a Start is ever recorded.
    void Drain() {
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (stream == nullptr || pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            buffers.Deliver(static_cast<const char*>(data), bytes);
            pa_stream_drop(stream);
        }
    }

    // Mainloop lock held: a mainloop that ended reads no more; the device fails with words
    // that name it, rather than falling silent as if the source had stopped sending.
    void CheckLoop() {
        if (const std::string ended = connection.LoopEnded(); !ended.empty())
            buffers.Fail(ended);
    }

    // Mainloop lock held: the end of a reading round (PacedMainloop).
    static void Round(void* self) {
        auto* device = static_cast<Device*>(self);
        device->Drain();
        device->CheckLoop();
    }

    // Mainloop lock held. Fire and forget: correctness rests on the queue's capturing flag, and
    // a stalled server must not hold up Start or Stop.
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
            connection.Lock();
            connection.Loop().Unpace();
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

// Mainloop lock held: a piece of audio arrived. Unpaced (stopped: a stream just uncorked or
// corked) it is taken at once; while capturing, the round that follows takes it with the rest.
void OnReadable(pa_stream*, size_t, void* userdata) {
    auto* device = static_cast<Device*>(userdata);
    if (!device->connection.Loop().Paced())
        device->Drain();
}

// Mainloop lock held: on every change of the stream's state. After the open it can only end:
// the server went away (the context failed first) or the source did (the stream is killed;
// DONT_MOVE keeps the server from silently recording another source instead).
void OnStreamState(pa_stream* stream, void* userdata) {
    auto* device = static_cast<Device*>(userdata);
    device->connection.Signal();
    if (device->opened && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        device->buffers.Fail(device->LossCause());
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

// The one shape of every operation on an open device: clear the thread's last error, find
// the device (MMSYSERR_INVALHANDLE for a handle that names none), act. The found reference
// keeps the device alive while act runs, even if another thread closes it meanwhile.
template <typename Act>
MMRESULT OnDevice(HWAVEIN hwi, Act act) {
    t_lastError.clear();
    const std::shared_ptr<Device> device = Find(hwi);
    return device ? act(*device) : MMSYSERR_INVALHANDLE;
}

// Start, Stop, Reset, Close and the position: as OnDevice, and act runs holding
// Device::control on a device not yet closed (MMSYSERR_INVALHANDLE for one a racing close got
// first). The queue closes only under Device::control, so the connection stays usable while
// act runs.
template <typename Act>
MMRESULT OnOpenDevice(HWAVEIN hwi, Act act) {
    return OnDevice(hwi, [&act](Device& device) {
        std::lock_guard<std::mutex> control(device.control);
        return device.buffers.IsClosed() ? static_cast<MMRESULT>(MMSYSERR_INVALHANDLE) : act(device);
    });
}

// Prepare and unprepare: valid says whether the header passed the operation's own check
// (made before the handle is looked at, but reported after it).
MMRESULT MarkPrepared(HWAVEIN hwi, WAVEHDR* pwh, bool valid, bool prepared) {
    return OnDevice(hwi, [=](Device& device) -> MMRESULT {
        return valid ? device.buffers.MarkPrepared(pwh, prepared) : MMSYSERR_INVALPARAM;
    });
}

// Stop and Reset: what the server has sent so far belongs in the buffer handed back, so the
// pump takes it first; nothing is left behind. Unpaced from here, what comes after is taken as
// it comes, into no buffer.
MMRESULT Halt(HWAVEIN hwi, bool everyBuffer) {
    return OnOpenDevice(hwi, [everyBuffer](Device& device) {
        device.connection.Lock();
        device.connection.Loop().Pump(PacedMainloop::Due::Force);
        device.connection.Loop().Unpace();
        device.buffers.Halt(everyBuffer);
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
        device->buffers.Fail(device->LossCause());
    // The source the server connected: for WAVE_MAPPER, whichever is the default now.
    const char* connected = pa_stream_get_device_name(device->stream);
    const std::string connectedName = connected != nullptr ? connected : "";
    device->connection.Unlock();
    device->monitor = SourceIsMonitor(connectedName);
    {
        std::lock_guard<std::mutex> registry(g_devicesMutex);
        // The handle is an id, never an address, so a stale handle cannot name a new device.
        device->handle = reinterpret_cast<HWAVEIN>(++g_lastHandle);
    }
    if (!device->buffers.StartReports(device->callback, device->handle, device->instance, device)) {
        device->Disconnect();
        t_lastError = "Cannot start the thread that reports filled buffers";
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
        return ValidBuffer(pwh, cbwh) ? device.buffers.Add(pwh, t_lastError) : MMSYSERR_INVALPARAM;
    });
}

MMRESULT waveInStart(HWAVEIN hwi) {
    return OnOpenDevice(hwi, [](Device& device) {
        // What came in while stopped was taken as it came, into no buffer: the stream is empty.
        device.connection.Lock();
        device.CheckLoop();
        const MMRESULT result = device.buffers.Begin(t_lastError);
        if (result == MMSYSERR_NOERROR) {
            device.Cork(false);
            device.connection.Loop().Pace(kReadPeriod, &Device::Round, &device);
        }
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
    return OnOpenDevice(hwi, [pmmt, cbmmt](Device& device) -> MMRESULT {
        if (pmmt == nullptr || cbmmt != sizeof(MMTIME))
            return MMSYSERR_INVALPARAM;
        // The position is what the server had sent by the last round, taken here when due: at
        // most a reading period old. A mainloop that ended before the pump could take a round
        // is found here.
        device.connection.Lock();
        device.connection.Loop().Pump(PacedMainloop::Due::IfDue);
        device.CheckLoop();
        device.connection.Unlock();
        const uint64_t bytes = device.buffers.DeliveredBytes();
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
        if (device.buffers.BeginClose() != MMSYSERR_NOERROR)
            return WAVERR_STILLPLAYING;
        {
            std::lock_guard<std::mutex> registry(g_devicesMutex);
            g_devices.erase(hwi);
        }
        device.Disconnect();
        device.buffers.EndReports();
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
    return device ? device->buffers.LostBytes() / kFrameBytes : 0;
}

bool waveInCountsDroppedAudio(HWAVEIN) {
    return true;  // the capture side drains the server at all times and counts what it drops
}

bool waveInIsMonitor(HWAVEIN hwi) {
    const auto device = Find(hwi);
    return device && device->monitor;
}
