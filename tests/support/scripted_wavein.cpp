#include "scripted_wavein.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace {

// The callback's form; <mmsystem.h> names it only as a driver callback.
typedef void(CALLBACK* WaveInCallback)(HWAVEIN hwi, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                                       DWORD_PTR dwParam2);

struct Report {
    UINT msg;
    WAVEHDR* header;
};

// The device's state; guarded by lock. Reports are delivered by the notifier without it.
struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<scripted::Device> devices;
    std::optional<std::vector<scripted::Device>> devicesAtOpen;
    MMRESULT openRefusal = MMSYSERR_NOERROR;
    std::string openRefusalText;
    MMRESULT startRefusal = MMSYSERR_NOERROR;
    int addBuffersLeft = -1;  // -1: unlimited
    std::string serverError;
    bool open = false;
    bool capturing = false;
    std::chrono::steady_clock::duration captured{};  // time spent capturing before capturingSince
    std::chrono::steady_clock::time_point capturingSince;
    UINT deviceNumber = 0;
    WAVEFORMATEX format = {};
    WaveInCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::deque<WAVEHDR*> queue;
    bool breakOnReset = false;
    MMRESULT brokenResetResult = MMSYSERR_NOERROR;
    bool stopHangs = false;
    std::vector<WAVEHDR*> kept;  // held by a detached device
    uint32_t headFilled = 0;     // bytes already in the head buffer
    int16_t nextValue = 0;
    uint64_t filledBytes = 0;  // since the open
    bool onlyBuffered = false;
    std::optional<int64_t> positionStop;  // the position stands here
    bool silence = false;
    uint64_t soundAtValue = UINT64_MAX;
    uint64_t lostFrames = 0;
    std::deque<Report> reports;
    size_t reportsInFlight = 0;        // queued or being delivered
    std::vector<WAVEHDR*> handedBack;  // reported, report not yet begun
    std::vector<std::string> calls;
    std::thread notifier;
    bool quit = false;
};

// The one device's handle: the address of something of this backend's, never dereferenced.
char g_deviceToken;
const HWAVEIN g_device = reinterpret_cast<HWAVEIN>(&g_deviceToken);

State& S() {
    static State* state = new State;  // lives to the process's end with its notifier
    return *state;
}

void NotifierLoop() {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.lock);
    for (;;) {
        s.changed.wait(lock, [&] { return s.quit || !s.reports.empty(); });
        if (s.reports.empty())
            return;
        Report r = s.reports.front();
        s.reports.pop_front();
        s.handedBack.erase(std::remove(s.handedBack.begin(), s.handedBack.end(), r.header),
                           s.handedBack.end());
        WaveInCallback callback = s.callback;
        DWORD_PTR instance = s.instance;
        lock.unlock();
        if (callback != nullptr) {
            callback(g_device, r.msg, instance, reinterpret_cast<DWORD_PTR>(r.header), 0);
        }
        lock.lock();
        --s.reportsInFlight;
        s.changed.notify_all();
    }
}

// Called with the lock held.
void Post(State& s, UINT msg, WAVEHDR* header) {
    if (!s.notifier.joinable())
        s.notifier = std::thread(NotifierLoop);
    s.reports.push_back({msg, header});
    if (header != nullptr)
        s.handedBack.push_back(header);
    ++s.reportsInFlight;
    s.changed.notify_all();
}

void HandBack(State& s, WAVEHDR* header, uint32_t bytes, bool withDone) {
    header->dwBytesRecorded = bytes;
    header->dwFlags &= ~WHDR_INQUEUE;
    if (withDone)
        header->dwFlags |= WHDR_DONE;
    Post(s, WIM_DATA, header);
}

void FillHead(State& s, uint32_t bytes) {
    WAVEHDR* head = s.queue.front();
    auto* values = reinterpret_cast<int16_t*>(head->lpData + s.headFilled);
    for (uint32_t i = 0; i < bytes / 2; ++i) {
        const bool sound = !s.silence || s.filledBytes / 2 + i == s.soundAtValue;
        values[i] = sound ? (s.silence ? 1 : s.nextValue) : 0;
        ++s.nextValue;
    }
    s.headFilled += bytes;
    s.filledBytes += bytes;
}

void SetCapturing(State& s, bool capturing) {
    const auto now = std::chrono::steady_clock::now();
    if (s.capturing)
        s.captured += now - s.capturingSince;
    s.capturing = capturing;
    s.capturingSince = now;
}

bool Known(HWAVEIN hwi) {
    return hwi == g_device && S().open;
}

// Called with the lock held: the frames delivered since the open, as the position counts them.
int64_t Position(State& s) {
    if (s.positionStop)
        return *s.positionStop;
    if (s.onlyBuffered)
        return static_cast<int64_t>(s.filledBytes / s.format.nBlockAlign);
    auto captured = s.captured;
    if (s.capturing)
        captured += std::chrono::steady_clock::now() - s.capturingSince;
    return std::chrono::duration_cast<std::chrono::microseconds>(captured).count() * 441 / 10000;
}

}  // namespace

namespace scripted {

void Reset() {
    ReleaseStop();
    WaitForReports();
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.devices.clear();
    s.devicesAtOpen.reset();
    s.openRefusal = MMSYSERR_NOERROR;
    s.startRefusal = MMSYSERR_NOERROR;
    s.addBuffersLeft = -1;
    s.serverError.clear();
    s.open = s.capturing = false;
    s.queue.clear();
    s.breakOnReset = false;
    s.kept.clear();
    s.handedBack.clear();
    s.headFilled = 0;
    s.nextValue = 0;
    s.onlyBuffered = false;
    s.positionStop.reset();
    s.silence = false;
    s.soundAtValue = UINT64_MAX;
    s.lostFrames = 0;
    s.calls.clear();
    s.callback = nullptr;
}

void SetDevices(std::vector<Device> devices) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().devices = std::move(devices);
}

void SetDevicesAtOpen(std::vector<Device> devices) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().devicesAtOpen = std::move(devices);
}

void RefuseOpen(MMRESULT code, std::string serverText) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().openRefusal = code;
    S().openRefusalText = std::move(serverText);
}

void RefuseStart(MMRESULT code) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().startRefusal = code;
}

void RefuseAddBufferAfter(int count) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().addBuffersLeft = count;
}

bool FillNext(uint32_t bytes, bool withDone) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    if (!s.capturing || s.queue.empty())
        return false;
    FillHead(s, bytes - s.headFilled);
    WAVEHDR* head = s.queue.front();
    s.queue.pop_front();
    HandBack(s, head, s.headFilled, withDone);
    s.headFilled = 0;
    return true;
}

bool FillPartly(uint32_t bytes) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    if (!s.capturing || s.queue.empty())
        return false;
    FillHead(s, bytes);
    return true;
}

void LoseFrames(uint64_t frames) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().lostFrames += frames;
}

void StopDelivering() {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.positionStop = s.open ? Position(s) : 0;
}

void DeliverSilence(uint64_t soundAtValue) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().silence = true;
    S().soundAtValue = soundAtValue;
}

void CountOnlyBufferedAudio() {
    std::lock_guard<std::mutex> lock(S().lock);
    S().onlyBuffered = true;
}

void BreakOnReset(MMRESULT result) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().breakOnReset = true;
    S().brokenResetResult = result;
}

void ReportKept(uint32_t bytes) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    for (WAVEHDR* header : s.kept) {
        std::memset(header->lpData, 0x5A, bytes);
        HandBack(s, header, bytes, true);
    }
    s.kept.clear();
}

void HangStop() {
    std::lock_guard<std::mutex> lock(S().lock);
    S().stopHangs = true;
}

void ReleaseStop() {
    std::lock_guard<std::mutex> lock(S().lock);
    S().stopHangs = false;
    S().changed.notify_all();
}

void SendMessage(UINT uMsg) {
    std::lock_guard<std::mutex> lock(S().lock);
    Post(S(), uMsg, nullptr);
}

void WaitForReports() {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.lock);
    s.changed.wait(lock, [&] { return s.reportsInFlight == 0; });
}

bool IsOpen() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().open;
}

bool IsCapturing() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().capturing;
}

size_t QueuedCount() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().queue.size();
}

UINT OpenedDeviceNumber() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().deviceNumber;
}

WAVEFORMATEX OpenedFormat() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().format;
}

std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().calls;
}

}  // namespace scripted

UINT waveInGetNumDevs() {
    std::lock_guard<std::mutex> lock(S().lock);
    return static_cast<UINT>(S().devices.size());
}

MMRESULT waveInGetDevCapsW(UINT_PTR uDeviceID, WAVEINCAPSW* pwic, UINT cbwic) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    if (cbwic != sizeof(WAVEINCAPSW) || pwic == nullptr)
        return MMSYSERR_INVALPARAM;
    if (uDeviceID >= s.devices.size())
        return MMSYSERR_BADDEVICEID;
    if (s.devices[uDeviceID].capsFail)
        return MMSYSERR_NODRIVER;
    std::memset(pwic, 0, sizeof(*pwic));
    s.devices[uDeviceID].name.copy(pwic->szPname, MAXPNAMELEN - 1);
    pwic->wMid = s.devices[uDeviceID].manufacturer;
    pwic->wPid = s.devices[uDeviceID].product;
    pwic->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("Open");
    if (s.openRefusal != MMSYSERR_NOERROR) {
        s.serverError = s.openRefusalText;
        return std::exchange(s.openRefusal, MMSYSERR_NOERROR);
    }
    if (s.open)
        return MMSYSERR_ALLOCATED;
    if (fdwOpen != CALLBACK_FUNCTION || pwfx == nullptr)
        return MMSYSERR_INVALFLAG;
    s.serverError.clear();
    s.open = true;
    s.deviceNumber = uDeviceID;
    if (s.devicesAtOpen)
        s.devices = *std::exchange(s.devicesAtOpen, std::nullopt);
    s.lostFrames = 0;
    s.captured = {};
    s.format = *pwfx;
    s.callback = reinterpret_cast<WaveInCallback>(dwCallback);
    s.instance = dwInstance;
    s.nextValue = 0;
    s.filledBytes = 0;
    *phwi = g_device;
    Post(s, WIM_OPEN, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    std::lock_guard<std::mutex> lock(S().lock);
    S().calls.push_back("Prepare");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (cbwh != sizeof(WAVEHDR) || pwh->lpData == nullptr || pwh->dwFlags != 0)
        return MMSYSERR_INVALPARAM;
    pwh->dwFlags = WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("Unprepare");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (cbwh != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    const bool held = std::find(s.queue.begin(), s.queue.end(), pwh) != s.queue.end() ||
                      std::find(s.handedBack.begin(), s.handedBack.end(), pwh) != s.handedBack.end();
    if (held)
        return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("AddBuffer");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (cbwh != sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (s.addBuffersLeft == 0)
        return MMSYSERR_NOMEM;
    if (s.addBuffersLeft > 0)
        --s.addBuffersLeft;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->dwBytesRecorded = 0;
    s.queue.push_back(pwh);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN hwi) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("Start");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (s.startRefusal != MMSYSERR_NOERROR)
        return std::exchange(s.startRefusal, MMSYSERR_NOERROR);
    SetCapturing(s, true);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN hwi) {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.lock);
    s.calls.push_back("Stop");
    s.changed.wait(lock, [&] { return !s.stopHangs; });
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (s.capturing && s.headFilled > 0) {
        WAVEHDR* head = s.queue.front();
        s.queue.pop_front();
        HandBack(s, head, s.headFilled, true);
        s.headFilled = 0;
    }
    SetCapturing(s, false);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN hwi) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("Reset");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    bool first = true;
    MMRESULT result = MMSYSERR_NOERROR;
    if (s.breakOnReset) {
        if (s.capturing && s.headFilled > 0) {
            HandBack(s, s.queue.front(), s.headFilled, true);
            s.queue.pop_front();
        }
        s.kept.assign(s.queue.begin(), s.queue.end());
        s.queue.clear();
        s.breakOnReset = false;
        s.open = false;  // detached: it answers no more calls, and a fresh one may open
        result = s.brokenResetResult;
    }
    while (!s.queue.empty()) {
        WAVEHDR* head = s.queue.front();
        s.queue.pop_front();
        HandBack(s, head, first && s.capturing ? s.headFilled : 0, true);
        first = false;
    }
    s.headFilled = 0;
    SetCapturing(s, false);
    return result;
}

MMRESULT waveInGetPosition(HWAVEIN hwi, MMTIME* pmmt, UINT cbmmt) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (pmmt == nullptr || cbmmt != sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    pmmt->wType = TIME_SAMPLES;
    pmmt->u.sample = static_cast<DWORD>(Position(s));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    s.calls.push_back("Close");
    if (!Known(hwi))
        return MMSYSERR_INVALHANDLE;
    if (!s.queue.empty() || !s.handedBack.empty())
        return WAVERR_STILLPLAYING;
    s.open = false;
    SetCapturing(s, false);
    Post(s, WIM_CLOSE, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetErrorTextW(MMRESULT mmrError, WCHAR* pszText, UINT cchText) {
    const std::wstring text = L"scripted device error " + std::to_wstring(mmrError);
    if (pszText == nullptr || cchText == 0)
        return MMSYSERR_INVALPARAM;
    const size_t n = std::min<size_t>(text.size(), cchText - 1);
    text.copy(pszText, n);
    pszText[n] = L'\0';
    return MMSYSERR_NOERROR;
}

const char* waveInLastServerError() {
    // The scripted device has one thread of control in practice; a copy per call keeps the
    // returned pointer valid while the test changes the script.
    thread_local std::string copy;
    std::lock_guard<std::mutex> lock(S().lock);
    copy = S().serverError;
    return copy.c_str();
}

uint64_t waveInGetLostFrames(HWAVEIN hwi) {
    std::lock_guard<std::mutex> lock(S().lock);
    return Known(hwi) ? S().lostFrames : 0;
}

bool waveInIsMonitor(HWAVEIN hwi) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.lock);
    return Known(hwi) && s.deviceNumber < s.devices.size() && s.devices[s.deviceNumber].monitor;
}

bool waveInCountsDroppedAudio(HWAVEIN) {
    std::lock_guard<std::mutex> lock(S().lock);
    return !S().onlyBuffered;
}
