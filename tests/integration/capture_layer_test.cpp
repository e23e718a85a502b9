// The PulseAudio capture backend against private sound servers: the device table, opens that
// fail, the road of a buffer, stop/reset/close under the report lock, lost frames, and a
// server or source that goes away while recording.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pulse_server.h"
#include "wavein.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr DWORD kSecondBytes = 176400;

WAVEFORMATEX CdFormat() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = kSecondBytes;
    return format;
}

std::string SineArguments(const std::string& name, int hz, const std::string& description) {
    return "source_name=" + name + " rate=44100 frequency=" + std::to_string(hz) +
           " source_properties=\"device.description='" + description + "'\"";
}

struct Report {
    UINT message;
    WAVEHDR* header;
    DWORD bytes;
    DWORD flags;
    Clock::time_point at;
    std::vector<int16_t> left;  // the left channel of what it held
};

// The device's callback target. Every WIM_DATA report holds `gate` while it is handled, as
// the engine's report handler holds its capture lock.
class Listener {
public:
    static void CALLBACK Proc(HWAVEIN hwi, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
        reinterpret_cast<Listener*>(instance)->Take(hwi, message, reinterpret_cast<WAVEHDR*>(param1));
    }
    DWORD_PTR Instance() { return reinterpret_cast<DWORD_PTR>(this); }

    std::mutex gate;
    std::atomic<bool> requeue{false};  // hand each reported buffer back at once, as the engine does
    std::atomic<int> failedRequeues{0};

    bool WaitForData(size_t count, milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return CountData() >= count; });
    }
    std::vector<Report> Data() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Report> data;
        for (const Report& r : reports_) {
            if (r.message == WIM_DATA)
                data.push_back(r);
        }
        return data;
    }
    // Waits until no report has come for `quiet`: a reset hands every buffer back at once, and
    // a buffer must not be unprepared while its report still reads it.
    void WaitUntilQuiet(milliseconds quiet) {
        std::unique_lock<std::mutex> lock(mutex_);
        size_t seen = reports_.size();
        while (changed_.wait_for(lock, quiet, [&] { return reports_.size() != seen; }))
            seen = reports_.size();
    }
    std::vector<UINT> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<UINT> messages;
        for (const Report& r : reports_)
            messages.push_back(r.message);
        return messages;
    }

private:
    size_t CountData() const {
        size_t count = 0;
        for (const Report& r : reports_)
            count += r.message == WIM_DATA;
        return count;
    }
    void Take(HWAVEIN hwi, UINT message, WAVEHDR* header) {
        Report report{message, header, 0, 0, Clock::now(), {}};
        if (message == WIM_DATA) {
            std::lock_guard<std::mutex> hold(gate);
            report.bytes = header->dwBytesRecorded;
            report.flags = header->dwFlags;
            const auto* samples = reinterpret_cast<const int16_t*>(header->lpData);
            for (DWORD i = 0; i < report.bytes / 4; ++i)
                report.left.push_back(samples[2 * i]);
            if (requeue && waveInAddBuffer(hwi, header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
                ++failedRequeues;
        }
        // Notified under the lock: a waiter that sees the report may end the test and destroy
        // this listener, which must not happen while the notification still reads it.
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(std::move(report));
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
};

struct Buffers {
    Buffers(size_t count, DWORD bytes) : storage(count, std::vector<char>(bytes)), headers(count) {
        for (size_t i = 0; i < count; ++i) {
            headers[i].lpData = storage[i].data();
            headers[i].dwBufferLength = bytes;
        }
    }
    WAVEHDR& operator[](size_t i) { return headers[i]; }
    std::vector<std::vector<char>> storage;
    std::vector<WAVEHDR> headers;
};

// Positive-going zero crossings per second.
double Frequency(const std::vector<int16_t>& left) {
    int crossings = 0;
    for (size_t i = 1; i < left.size(); ++i)
        crossings += left[i - 1] < 0 && left[i] >= 0;
    return left.empty() ? 0.0 : crossings * 44100.0 / static_cast<double>(left.size());
}

// The largest departure from a pure sine of frequency hz, relative to its peak: a frame
// lost, repeated or reordered anywhere shows up as a jump.
double LargestJump(const std::vector<int16_t>& left, double hz) {
    const double c = 2.0 * std::cos(2.0 * M_PI * hz / 44100.0);
    double peak = 1.0;
    double worst = 0.0;
    for (int16_t s : left)
        peak = std::max(peak, std::fabs(static_cast<double>(s)));
    for (size_t n = 1; n + 1 < left.size(); ++n) {
        worst = std::max(worst, std::fabs(left[n + 1] - c * left[n] + left[n - 1]));
    }
    return worst / peak;
}

// Aborts the run with a message when a step does not end in time: a deadlock must fail the
// test, not hang it.
class Watchdog {
public:
    Watchdog(milliseconds limit, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return disarmed_; })) {
                std::fprintf(stderr, "DEADLOCK: %s did not return within %lld ms\n", what_.c_str(),
                             static_cast<long long>(limit.count()));
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records one quarter second from device and gives its frequency (0 when nothing came).
double RecordFrequency(UINT device) {
    Listener listener;
    const WAVEFORMATEX format = CdFormat();
    HWAVEIN hwi = nullptr;
    const MMRESULT opened = waveInOpen(&hwi, device, &format, reinterpret_cast<DWORD_PTR>(&Listener::Proc),
                                       listener.Instance(), CALLBACK_FUNCTION);
    EXPECT_EQ(opened, MMSYSERR_NOERROR) << "device " << device << ": " << waveInLastServerError();
    if (opened != MMSYSERR_NOERROR)
        return 0.0;
    Buffers buffers(1, kSecondBytes / 4);
    EXPECT_EQ(waveInPrepareHeader(hwi, &buffers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(hwi, &buffers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
    const bool filled = listener.WaitForData(1, milliseconds(2000));
    EXPECT_TRUE(filled) << "device " << device << " filled no buffer";
    waveInReset(hwi);
    listener.WaitForData(1, milliseconds(1000));
    EXPECT_EQ(waveInUnprepareHeader(hwi, &buffers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
    return filled ? Frequency(listener.Data()[0].left) : 0.0;
}

std::wstring DeviceName(UINT device) {
    WAVEINCAPSW caps = {};
    if (waveInGetDevCapsW(device, &caps, sizeof(caps)) != MMSYSERR_NOERROR)
        return L"<none>";
    return caps.szPname;
}

// Points PULSE_SERVER elsewhere for one test.
class ServerOverride {
public:
    explicit ServerOverride(const std::string& address) {
        if (const char* old = std::getenv("PULSE_SERVER"))
            saved_ = old, had_ = true;
        setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~ServerOverride() { had_ ? setenv("PULSE_SERVER", saved_.c_str(), 1) : unsetenv("PULSE_SERVER"); }

private:
    std::string saved_;
    bool had_ = false;
};

TEST(CaptureDeviceTable, NumbersDefaultThenSourcesThenMonitorsAndKeepsThemUntilTheNextSnapshot) {
    PrivatePulseServer server(
        {"module-null-sink sink_name=speakers sink_properties=device.description=Alpha"});
    ASSERT_TRUE(server.Start()) << server.Error();
    const std::string longName = "Échantillon à 1000 Hz, un nom bien plus long que trente et un caractères";
    const int yankee = server.LoadModule("module-sine-source", SineArguments("yankee", 440, "Yankee"));
    ASSERT_GE(yankee, 0);
    ASSERT_GE(server.LoadModule("module-sine-source", SineArguments("long", 1000, longName)), 0);
    ASSERT_GE(server.LoadModule("module-sine-source", SineArguments("xray", 2000, "Xray")), 0);
    ASSERT_EQ(server.Pactl({"set-default-source", "long"}), 0);

    // The monitor has the lowest index and the default the middle one; "Yankee" sorts after
    // "Xray" but came first.
    ASSERT_EQ(waveInGetNumDevs(), 4u);
    EXPECT_EQ(DeviceName(0), L"Échantillon à 1000 Hz, un nom bien plus long que trente et un caractères");
    EXPECT_EQ(DeviceName(1), L"Yankee");
    EXPECT_EQ(DeviceName(2), L"Xray");
    EXPECT_EQ(DeviceName(3), L"Monitor of Alpha");
    WAVEINCAPSW caps;
    EXPECT_EQ(waveInGetDevCapsW(4, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);

    EXPECT_NEAR(RecordFrequency(1), 440.0, 10.0);

    // A source that goes after the snapshot shifts no number: device 2 is still Xray, and
    // device 1 names a source that is gone.
    ASSERT_TRUE(server.UnloadModule(yankee));
    EXPECT_EQ(DeviceName(1), L"Yankee");
    EXPECT_NEAR(RecordFrequency(2), 2000.0, 40.0);
    EXPECT_NEAR(RecordFrequency(0), 1000.0, 20.0);
    EXPECT_NEAR(RecordFrequency(WAVE_MAPPER), 1000.0, 20.0);
    Listener listener;
    const WAVEFORMATEX format = CdFormat();
    HWAVEIN hwi = nullptr;
    EXPECT_EQ(waveInOpen(&hwi, 1, &format, reinterpret_cast<DWORD_PTR>(&Listener::Proc), listener.Instance(),
                         CALLBACK_FUNCTION),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(hwi, nullptr);
    EXPECT_STREQ(waveInLastServerError(), "No such source");

    ASSERT_EQ(waveInGetNumDevs(), 3u);
    EXPECT_EQ(DeviceName(1), L"Xray");

    // A monitor is told from an input, also as the default source opened through WAVE_MAPPER.
    ASSERT_EQ(server.Pactl({"set-default-source", "speakers.monitor"}), 0);
    ASSERT_EQ(waveInGetNumDevs(), 3u);
    for (const auto& [number, monitor] : {std::pair<UINT, bool>{1, false}, {WAVE_MAPPER, true}}) {
        ASSERT_EQ(waveInOpen(&hwi, number, &format, reinterpret_cast<DWORD_PTR>(&Listener::Proc),
                             listener.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(waveInIsMonitor(hwi), monitor) << number;
        EXPECT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
    }
}

TEST(CaptureOpen, WithoutAnAnsweringServerEverythingFailsWithinTheLimit) {
    const WAVEFORMATEX format = CdFormat();
    Listener listener;
    const auto proc = reinterpret_cast<DWORD_PTR>(&Listener::Proc);

    // A socket nobody listens on, then one that accepts connections and never answers (a
    // stalled server): the second can only be ended by the layer's own timer.
    char folder[] = "/tmp/voxmere-stalled.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string stalledPath = std::string(folder) + "/socket";
    const int stalled = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", stalledPath.c_str());
    ASSERT_EQ(bind(stalled, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(stalled, 8), 0);

    for (const std::string& server :
         {std::string("unix:/nonexistent/voxmere/pulse-native"), "unix:" + stalledPath}) {
        SCOPED_TRACE(server);
        ServerOverride override(server);
        Watchdog dog(milliseconds(10000), "the device table or an open without an answering server");
        auto start = Clock::now();
        EXPECT_EQ(waveInGetNumDevs(), 0u);
        EXPECT_LT(SecondsSince(start), 3.0);
        EXPECT_STRNE(waveInLastServerError(), "");

        for (UINT device : {0u, WAVE_MAPPER}) {
            HWAVEIN hwi = reinterpret_cast<HWAVEIN>(&listener);  // must be cleared
            start = Clock::now();
            EXPECT_NE(waveInOpen(&hwi, device, &format, proc, listener.Instance(), CALLBACK_FUNCTION),
                      MMSYSERR_NOERROR);
            EXPECT_LT(SecondsSince(start), 3.0);
            EXPECT_EQ(hwi, nullptr);
            EXPECT_STRNE(waveInLastServerError(), "");
        }
    }
    close(stalled);
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(listener.Messages().empty());
}

TEST(CaptureOpen, RefusesAnyOtherFormatAndAnyOtherCallbackKind) {
    Listener listener;
    const auto proc = reinterpret_cast<DWORD_PTR>(&Listener::Proc);
    std::vector<WAVEFORMATEX> wrong(5, CdFormat());
    wrong[0].nChannels = 1, wrong[0].nBlockAlign = 2, wrong[0].nAvgBytesPerSec = 88200;
    wrong[1].nSamplesPerSec = 48000, wrong[1].nAvgBytesPerSec = 192000;
    wrong[2].wBitsPerSample = 8, wrong[2].nBlockAlign = 2, wrong[2].nAvgBytesPerSec = 88200;
    wrong[3].wFormatTag = 3;       // IEEE float
    wrong[4].nAvgBytesPerSec = 1;  // inconsistent
    for (const WAVEFORMATEX& format : wrong) {
        HWAVEIN hwi = reinterpret_cast<HWAVEIN>(&listener);
        EXPECT_EQ(waveInOpen(&hwi, WAVE_MAPPER, &format, proc, listener.Instance(), CALLBACK_FUNCTION),
                  WAVERR_BADFORMAT);
        EXPECT_EQ(hwi, nullptr);
    }
    const WAVEFORMATEX format = CdFormat();
    HWAVEIN hwi = nullptr;
    EXPECT_EQ(waveInOpen(&hwi, WAVE_MAPPER, &format, proc, 0, 0), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(&hwi, WAVE_MAPPER, &format, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_EQ(hwi, nullptr);
}

// 437 Hz: no whole number of its periods spans fewer than 44100 frames, so audio lost or
// repeated anywhere, of any length short of a second, breaks the sine (at 440 Hz a loss of
// exactly 50 or 100 ms would not).
constexpr double kToneHz = 437;

// A private server whose default source carries the tone in real time, in small pieces (its
// sink runs at 20 ms), and one device open on it.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start()) << server_.Error();
        ASSERT_GE(server_.AddTone("tone", static_cast<int>(kToneHz), "Tone"), 0);
        ASSERT_EQ(server_.Pactl({"set-default-source", "tone.monitor"}), 0);
        const WAVEFORMATEX format = CdFormat();
        ASSERT_EQ(waveInOpen(&hwi_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Listener::Proc),
                             listener_.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR)
            << waveInLastServerError();
    }
    // Also after a failed assertion: the device must be closed before the listener goes.
    void TearDown() override {
        if (hwi_ == nullptr) {
            return;
        }
        listener_.requeue = false;
        waveInReset(hwi_);
        listener_.WaitUntilQuiet(milliseconds(200));
        const auto deadline = Clock::now() + milliseconds(2000);
        MMRESULT closed;
        do {
            for (WAVEHDR& header : buffers_.headers) {
                waveInUnprepareHeader(hwi_, &header, sizeof(WAVEHDR));
            }
            closed = waveInClose(hwi_);
            if (closed == WAVERR_STILLPLAYING) {
                std::this_thread::sleep_for(milliseconds(10));
            }
        } while (closed == WAVERR_STILLPLAYING && Clock::now() < deadline);
        EXPECT_EQ(closed, MMSYSERR_NOERROR);
    }
    void Queue(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            ASSERT_EQ(waveInPrepareHeader(hwi_, &buffers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
            ASSERT_EQ(waveInAddBuffer(hwi_, &buffers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
    }

    // 1250-frame buffers: several fill in one reading round, and neither the server's small pieces
    // nor the rounds line up with them. The mainloop takes the rounds itself, or (askPosition) a
    // thread asking for the position every 100 ms takes them, as the recording's worker does.
    void ExpectEveryFrameInOrder(bool askPosition) {
        buffers_ = Buffers(20, 5000);
        listener_.requeue = true;
        Queue(0, 20);
        const auto start = Clock::now();
        ASSERT_EQ(waveInStart(hwi_), MMSYSERR_NOERROR);
        MMTIME position = {};
        while (Clock::now() - start < milliseconds(3000)) {
            std::this_thread::sleep_for(milliseconds(100));
            if (askPosition) {
                position.wType = TIME_SAMPLES;
                ASSERT_EQ(waveInGetPosition(hwi_, &position, sizeof(position)), MMSYSERR_NOERROR);
            }
        }
        ASSERT_EQ(waveInStop(hwi_), MMSYSERR_NOERROR);
        const double held = SecondsSince(start);
        std::this_thread::sleep_for(milliseconds(300));
        listener_.requeue = false;

        const std::vector<Report> data = listener_.Data();
        ASSERT_GT(data.size(), 20u);
        std::vector<int16_t> left;
        for (size_t i = 0; i < data.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(data[i].header, &buffers_[i % 20]);
            if (i + 1 < data.size()) {
                EXPECT_EQ(data[i].bytes, 5000u);
            }
            left.insert(left.end(), data[i].left.begin(), data[i].left.end());
        }
        EXPECT_LT(LargestJump(left, kToneHz), 0.02) << "audio lost or repeated";
        // What the sine cannot show, a whole second lost or repeated, the length does.
        EXPECT_NEAR(static_cast<double>(left.size()) / 44100, held, 0.3);
        EXPECT_EQ(waveInGetLostFrames(hwi_), 0u);
        EXPECT_EQ(listener_.failedRequeues.load(), 0);
        // The position counts what was delivered: everything reported, and nothing else.
        position.wType = TIME_SAMPLES;
        ASSERT_EQ(waveInGetPosition(hwi_, &position, sizeof(position)), MMSYSERR_NOERROR);
        EXPECT_EQ(position.u.sample, left.size());
    }

    PrivatePulseServer server_{{}};
    Listener listener_;
    HWAVEIN hwi_ = nullptr;
    Buffers buffers_{3, kSecondBytes};
};

TEST_F(CaptureTest, FillsBuffersInQueueOrderWithContinuousAudioThenStopAndResetHandThemBack) {
    EXPECT_EQ(waveInAddBuffer(hwi_, &buffers_[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    listener_.requeue = true;
    Queue(0, 3);
    const auto start = Clock::now();
    ASSERT_EQ(waveInStart(hwi_), MMSYSERR_NOERROR);
    ASSERT_TRUE(listener_.WaitForData(3, milliseconds(4500)));
    std::this_thread::sleep_for(milliseconds(300));
    listener_.requeue = false;

    std::vector<Report> data = listener_.Data();
    ASSERT_EQ(data.size(), 3u);
    std::vector<int16_t> left;
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(data[i].header, &buffers_[i]);
        EXPECT_EQ(data[i].bytes, kSecondBytes);
        EXPECT_EQ(data[i].flags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
        EXPECT_NEAR(Frequency(data[i].left), kToneHz, 5.0);
        left.insert(left.end(), data[i].left.begin(), data[i].left.end());
    }
    // One buffer a second: the first after one second plus the server's latency.
    EXPECT_NEAR(std::chrono::duration<double>(data[0].at - start).count(), 1.2, 0.3);
    EXPECT_NEAR(std::chrono::duration<double>(data[2].at - data[1].at).count(), 1.0, 0.2);
    EXPECT_EQ(listener_.failedRequeues.load(), 0);
    EXPECT_EQ(waveInGetLostFrames(hwi_), 0u);

    // Buffer 0 is being filled again; 1 and 2 wait. The device holds all three.
    EXPECT_EQ(waveInUnprepareHeader(hwi_, &buffers_[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(hwi_), WAVERR_STILLPLAYING);

    ASSERT_EQ(waveInStop(hwi_), MMSYSERR_NOERROR);
    ASSERT_TRUE(listener_.WaitForData(4, milliseconds(500)));
    std::this_thread::sleep_for(milliseconds(200));
    data = listener_.Data();
    ASSERT_EQ(data.size(), 4u) << "the stop handed back buffers not begun";
    EXPECT_EQ(data[3].header, &buffers_[0]);
    EXPECT_GT(data[3].bytes, kSecondBytes / 10);
    EXPECT_LT(data[3].bytes, kSecondBytes / 2);
    EXPECT_EQ(data[3].bytes % 4, 0u);
    EXPECT_NE(data[3].flags & WHDR_DONE, 0u);
    EXPECT_NE(buffers_[1].dwFlags & WHDR_INQUEUE, 0u);
    left.insert(left.end(), data[3].left.begin(), data[3].left.end());
    EXPECT_LT(LargestJump(left, kToneHz), 0.02) << "audio lost or repeated between buffers";

    ASSERT_EQ(waveInReset(hwi_), MMSYSERR_NOERROR);
    ASSERT_TRUE(listener_.WaitForData(6, milliseconds(500)));
    data = listener_.Data();
    for (size_t i = 4; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(data[i].header, &buffers_[i - 3]);
        EXPECT_EQ(data[i].bytes, 0u);
        EXPECT_EQ(data[i].flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    for (WAVEHDR& header : buffers_.headers) {
        EXPECT_EQ(waveInUnprepareHeader(hwi_, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInClose(hwi_), MMSYSERR_NOERROR);
    hwi_ = nullptr;
    const std::vector<UINT> messages = listener_.Messages();
    EXPECT_EQ(messages.front(), static_cast<UINT>(WIM_OPEN));
    EXPECT_EQ(messages.back(), static_cast<UINT>(WIM_CLOSE));
    EXPECT_EQ(messages.size(), 8u);
}

TEST_F(CaptureTest, ReturnsEveryFrameInOrderFromSmallPiecesIntoSmallBuffers) {
    ExpectEveryFrameInOrder(false);
}

TEST_F(CaptureTest, ReturnsEveryFrameInOrderWhenTheCallerAsksThePositionEvery100Ms) {
    ExpectEveryFrameInOrder(true);
}

TEST_F(CaptureTest, StopResetAndCloseReturnWhileTheCallerHoldsTheReportLock) {
    Queue(0, 3);
    ASSERT_EQ(waveInStart(hwi_), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(milliseconds(300));
    {
        std::lock_guard<std::mutex> hold(listener_.gate);
        Watchdog dog(milliseconds(2000), "waveInStop/waveInReset/waveInClose under the report lock");
        EXPECT_EQ(waveInStop(hwi_), MMSYSERR_NOERROR);  // its report now waits for the gate
        EXPECT_EQ(waveInReset(hwi_), MMSYSERR_NOERROR);
        // Handed back but not yet reported: still the device's.
        EXPECT_EQ(waveInUnprepareHeader(hwi_, &buffers_[2], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
        EXPECT_EQ(waveInClose(hwi_), WAVERR_STILLPLAYING);
    }
    ASSERT_TRUE(listener_.WaitForData(3, milliseconds(1000)));
    const std::vector<Report> data = listener_.Data();
    EXPECT_GT(data[0].bytes, 0u);
    EXPECT_EQ(data[1].bytes + data[2].bytes, 0u);

    // The engine's teardown: everything back, then unprepare and close under its lock.
    std::lock_guard<std::mutex> hold(listener_.gate);
    Watchdog dog(milliseconds(2000), "waveInClose under the report lock");
    for (WAVEHDR& header : buffers_.headers) {
        EXPECT_EQ(waveInUnprepareHeader(hwi_, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveInClose(hwi_), MMSYSERR_NOERROR);
    hwi_ = nullptr;
}

TEST_F(CaptureTest, CountsFramesLostWhileCapturingWithNoBufferQueued) {
    ASSERT_EQ(waveInStart(hwi_), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(milliseconds(1500));
    const uint64_t starved = waveInGetLostFrames(hwi_);
    EXPECT_GT(starved, 44100 * 1.2);
    EXPECT_LT(starved, 44100 * 1.6);

    // Buffers kept queued from here on: not one frame more is lost.
    listener_.requeue = true;
    Queue(0, 2);
    const uint64_t fed = waveInGetLostFrames(hwi_);
    std::this_thread::sleep_for(milliseconds(1000));
    EXPECT_EQ(waveInGetLostFrames(hwi_), fed);
    // Nor while stopped, queued buffers or not.
    listener_.requeue = false;
    ASSERT_EQ(waveInReset(hwi_), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(waveInGetLostFrames(hwi_), fed);
}

// The server or the source vanishes 0.4 s into a recording; what it does to the device.
void ExpectHandedBackAfterLoss(HWAVEIN hwi, Listener& listener, Buffers& buffers, const char* cause) {
    const auto lost = Clock::now();
    ASSERT_TRUE(listener.WaitForData(3, milliseconds(1000))) << "not every buffer came back within a second";
    EXPECT_LT(SecondsSince(lost), 1.0);
    const std::vector<Report> data = listener.Data();
    EXPECT_GT(data[0].bytes, 0u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(data[i].header, &buffers[i]);
        EXPECT_EQ(data[i].flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        if (i > 0) {
            EXPECT_EQ(data[i].bytes, 0u);
        }
    }
    EXPECT_EQ(waveInAddBuffer(hwi, &buffers[0], sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    EXPECT_NE(std::string(waveInLastServerError()).find(cause), std::string::npos) << waveInLastServerError();
    EXPECT_EQ(waveInStart(hwi), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInReset(hwi), MMSYSERR_NOERROR);
    for (WAVEHDR& header : buffers.headers) {
        EXPECT_EQ(waveInUnprepareHeader(hwi, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveInClose(hwi), MMSYSERR_NOERROR);
}

TEST_F(CaptureTest, ServerGoingAwayEndsTheDeviceAndHandsBackEveryBuffer) {
    Queue(0, 3);
    ASSERT_EQ(waveInStart(hwi_), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(milliseconds(400));
    server_.Kill();
    ExpectHandedBackAfterLoss(hwi_, listener_, buffers_, "sound server went away");
    hwi_ = nullptr;
}

TEST_F(CaptureTest, SourceGoingAwayEndsTheDeviceAndHandsBackEveryBuffer) {
    // Not the default source: the server must not move the stream to another one instead.
    const int module = server_.AddTone("gone", 1000, "Gone");
    ASSERT_GE(module, 0);
    const UINT count = waveInGetNumDevs();
    UINT gone = 0;
    while (gone < count && DeviceName(gone) != L"Monitor of Gone") {
        ++gone;
    }
    ASSERT_LT(gone, count);
    Listener listener;
    const WAVEFORMATEX format = CdFormat();
    HWAVEIN hwi = nullptr;
    ASSERT_EQ(waveInOpen(&hwi, gone, &format, reinterpret_cast<DWORD_PTR>(&Listener::Proc),
                         listener.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffers buffers(3, kSecondBytes);
    for (WAVEHDR& header : buffers.headers) {
        ASSERT_EQ(waveInPrepareHeader(hwi, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(hwi, &header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(hwi), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(milliseconds(400));
    ASSERT_TRUE(server_.UnloadModule(module));
    ExpectHandedBackAfterLoss(hwi, listener, buffers, "source went away");
}

}  // namespace
