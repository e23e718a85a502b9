// The capture rotation and the recording session against the scripted device and the
// counting fake encoder.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "engine_fixture.h"
#include "fake_button.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kSecond = 176400;  // bytes of one full capture buffer

// The first 16-bit value of second n: the scripted device counts values from the open.
int16_t FirstValueOfSecond(int n) {
    return static_cast<int16_t>(static_cast<uint16_t>(n * 88200));
}

bool TableIsZero() {
    static const WAVEHDR zero[kCaptureBufferCount] = {};
    return g_WaveHeaders != nullptr && std::memcmp(*g_WaveHeaders, zero, sizeof(zero)) == 0;
}

class CaptureTest : public EngineTest {
protected:
    // An encoder, a file and an open, capturing device, as the worker leaves them.
    void OpenAll(const std::wstring& path) {
        g_bRecording = 1;
        ASSERT_EQ(OpenEncoder(128, 44100, 0, path), 1);
        ASSERT_EQ(OpenCapture(0), 1);
        ASSERT_EQ(waveInStart(g_hWaveIn), MMSYSERR_NOERROR);
    }
    void Fill(uint32_t bytes, bool withDone = true) {
        ASSERT_TRUE(scripted::FillNext(bytes, withDone));
        scripted::WaitForReports();
    }
};

TEST_F(CaptureTest, OpenQueuesThreeOneSecondBuffersWithoutCapturing) {
    ASSERT_EQ(OpenCapture(1), 1);
    const WAVEFORMATEX f = scripted::OpenedFormat();
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, kSecond);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(scripted::OpenedDeviceNumber(), 1u);
    EXPECT_EQ(scripted::QueuedCount(), 3u);
    EXPECT_FALSE(scripted::IsCapturing());
    for (const WAVEHDR& h : *g_WaveHeaders)
        EXPECT_EQ(h.dwBufferLength, kSecond);
    EXPECT_EQ(scripted::Calls(), (std::vector<std::string>{"Open", "Prepare", "AddBuffer", "Prepare",
                                                           "AddBuffer", "Prepare", "AddBuffer"}));
}

TEST_F(CaptureTest, DeviceThatDoesNotOpenLeavesNothingBehindAndSaysWhy) {
    scripted::SetDevices({{L"Built-in Microphone"}});
    scripted::RefuseOpen(MMSYSERR_BADDEVICEID, "No such entity");
    EXPECT_EQ(OpenCapture(0), 0);
    EXPECT_EQ(g_hWaveIn, nullptr);
    EXPECT_TRUE(TableIsZero());
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("\"Built-in Microphone\""), std::string::npos) << cause;
    EXPECT_NE(cause.find("No such entity"), std::string::npos) << cause;
    CloseCapture();
    EXPECT_EQ(scripted::Calls(), std::vector<std::string>{"Open"});
}

TEST_F(CaptureTest, RefusedQueueingReleasesEverythingAndClosesTheDevice) {
    scripted::RefuseAddBufferAfter(1);
    EXPECT_EQ(OpenCapture(0), 0);
    EXPECT_NE(TakeFailure().find("Cannot queue a capture buffer"), std::string::npos);
    EXPECT_EQ(g_hWaveIn, nullptr);
    EXPECT_TRUE(TableIsZero());
    EXPECT_FALSE(scripted::IsOpen());
}

TEST_F(CaptureTest, BuffersRotateAndReachTheFileInFillOrder) {
    OpenAll(Path("out.mp3").wstring());
    std::vector<unsigned char> expected;
    for (int second = 0; second < 5; ++second) {
        Fill(kSecond);
        const auto chunk = FakeChunk(second + 1, 88200, FirstValueOfSecond(second));
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        EXPECT_EQ(Log().lastSamples, 88200u);
        EXPECT_EQ(scripted::QueuedCount(), 3u) << "buffer not queued again after second " << second;
        // On disk as soon as it is handled, not when the session ends.
        EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
    }
    EXPECT_EQ(g_pEncodedBuffer, nullptr);
    EXPECT_EQ(TakeFailure(), "");
}

TEST_F(CaptureTest, BufferWithoutDoneIsNeitherEncodedNorQueuedAgain) {
    OpenAll(Path("out.mp3").wstring());
    Fill(kSecond, false);
    EXPECT_EQ(Log().encodeCalls, 0);
    EXPECT_EQ(scripted::QueuedCount(), 2u);
    EXPECT_EQ(g_dwBuffersOut.load(), 2u);
    // The two left keep rotating, and the teardown does not wait for the lost one.
    Fill(kSecond);
    EXPECT_EQ(Log().encodeCalls, 1);
    g_bRecording = 0;
    CloseCapture();
    EXPECT_FALSE(scripted::IsOpen());
}

TEST_F(CaptureTest, NothingEncodedMeansNothingWrittenButTheBufferGoesBack) {
    OpenAll(Path("out.mp3").wstring());
    SetEncode(0, BE_ERR_SUCCESSFUL);
    Fill(kSecond);
    EXPECT_EQ(Log().encodeCalls, 1);
    EXPECT_TRUE(ReadBytes(Path("out.mp3")).empty());
    EXPECT_EQ(scripted::QueuedCount(), 3u);
}

TEST_F(CaptureTest, BufferReportedAfterTheStopPressIsWrittenButNotQueuedAgain) {
    OpenAll(Path("out.mp3").wstring());
    g_bRecording = 0;
    Fill(kSecond);
    EXPECT_EQ(ReadBytes(Path("out.mp3")), FakeChunk(1, 88200, 0));
    EXPECT_EQ(scripted::QueuedCount(), 2u);
}

TEST_F(CaptureTest, ReportsOtherThanDataDoNothing) {
    OpenAll(Path("out.mp3").wstring());
    for (UINT msg : {static_cast<UINT>(WIM_OPEN), static_cast<UINT>(WIM_CLOSE), 0x3C1u})
        scripted::SendMessage(msg);
    scripted::WaitForReports();
    EXPECT_EQ(Log().encodeCalls, 0);
    EXPECT_EQ(scripted::QueuedCount(), 3u);
    EXPECT_EQ(TakeFailure(), "");
}

TEST_F(CaptureTest, EncoderErrorEndsTheSessionInsteadOfRecordingSilence) {
    OpenAll(Path("out.mp3").wstring());
    SetEncode(0, BE_ERR_BUFFER_TOO_SMALL);
    Fill(kSecond);
    EXPECT_TRUE(g_bSessionFailed.load());
    EXPECT_NE(TakeFailure().find("error 5"), std::string::npos);
    EXPECT_EQ(scripted::QueuedCount(), 2u);
}

TEST_F(CaptureTest, CloseHandsBackEveryBufferAndKeepsThePartlyFilledSecond) {
    OpenAll(Path("out.mp3").wstring());
    Fill(kSecond);
    ASSERT_TRUE(scripted::FillPartly(2000));
    g_bRecording = 0;
    CloseCapture();
    CloseEncoder();

    std::vector<unsigned char> expected = FakeChunk(1, 88200, 0);
    const auto partial = FakeChunk(2, 1000, FirstValueOfSecond(1));
    expected.insert(expected.end(), partial.begin(), partial.end());
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);

    const auto calls = scripted::Calls();
    const std::vector<std::string> tail(calls.end() - 6, calls.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"Stop", "Reset", "Unprepare", "Unprepare", "Unprepare", "Close"}));
    EXPECT_TRUE(TableIsZero());
    EXPECT_EQ(g_hWaveIn, nullptr);
    EXPECT_FALSE(scripted::IsOpen());

    // Again, and with nothing open: no device call at all.
    CloseCapture();
    CloseCapture();
    EXPECT_EQ(scripted::Calls().size(), calls.size());
    EXPECT_EQ(TakeFailure(), "");
}

TEST_F(CaptureTest, CloseWaitsForABufferStillBeingHandled) {
    OpenAll(Path("out.mp3").wstring());
    SetEncode(-1, BE_ERR_SUCCESSFUL, 300);
    ASSERT_TRUE(scripted::FillNext(kSecond));  // reported, and slow to encode
    g_bRecording = 0;
    CloseCapture();
    EXPECT_EQ(Log().encodeCalls, 1);
    EXPECT_EQ(g_pEncodedBuffer, nullptr);
    CloseEncoder();
    EXPECT_EQ(ReadBytes(Path("out.mp3")).size(), 8u + 4u);
}

TEST_F(CaptureTest, FullDiskEndsTheSessionAndStopsQueueing) {
    OpenAll(L"/dev/full");
    Fill(kSecond);
    EXPECT_TRUE(g_bSessionFailed.load());
    EXPECT_NE(TakeFailure().find(SystemWords(SystemError::kDiskFull)), std::string::npos);
    EXPECT_EQ(scripted::QueuedCount(), 2u);
}

class SessionTest : public EngineTest {
public:
    void SetUp() override {
        EngineTest::SetUp();
        SetSessionFailureHandler([this](const std::string& cause) {
            std::lock_guard<std::mutex> lock(causesLock_);
            causes_.push_back(cause);
        });
        SetSessionNoticeHandler([this](const std::string& notice) {
            std::lock_guard<std::mutex> lock(causesLock_);
            notices_.push_back(notice);
        });
        scripted::SetDevices({{L"Default source"}, {L"Line In"}});
        button_.settings = {L"128 Kbps", Path("out.mp3").wstring(), 0};
    }
    void TearDown() override {
        if (g_hRecordThread.load() != nullptr) {
            button_.caption = kStopCaption;
            ToggleRecording(button_);
        }
        SetSessionFailureHandler(nullptr);
        SetSessionNoticeHandler(nullptr);
        EngineTest::TearDown();
    }
    std::vector<std::string> Causes() {
        std::lock_guard<std::mutex> lock(causesLock_);
        return causes_;
    }
    std::vector<std::string> Notices() {
        std::lock_guard<std::mutex> lock(causesLock_);
        return notices_;
    }
    void Stop() {
        button_.caption = kStopCaption;
        ToggleRecording(button_);
    }
    // Whole seconds, each handled (and its buffer queued again) before the next.
    static void FillSeconds(int seconds) {
        for (int i = 0; i < seconds; ++i) {
            ASSERT_TRUE(scripted::FillNext(kSecond));
            scripted::WaitForReports();
        }
    }
    void StartAndWaitForCapture() {
        ASSERT_TRUE(ToggleRecording(button_));
        ASSERT_TRUE(WaitUntil([] { return scripted::IsCapturing(); }));
    }

    FakeButton button_;
    std::mutex causesLock_;
    std::vector<std::string> causes_;
    std::vector<std::string> notices_;
};

TEST_F(SessionTest, StartShowsStopBeforeTheWorkerExistsAndStopRestoresOnlyAfterTeardown) {
    StartAndWaitForCapture();
    ASSERT_EQ(button_.seen.size(), 1u);
    EXPECT_EQ(button_.seen[0].caption, kStopCaption);
    EXPECT_EQ(button_.seen[0].flag, 1);
    EXPECT_FALSE(button_.seen[0].worker);

    ASSERT_TRUE(scripted::FillNext(kSecond));
    ASSERT_TRUE(scripted::FillPartly(88200));
    ToggleRecording(button_);
    ASSERT_EQ(button_.seen.size(), 2u);
    const FakeButton::Seen& stop = button_.seen[1];
    EXPECT_EQ(stop.caption, kStartCaption);
    EXPECT_EQ(stop.flag, 0);
    EXPECT_FALSE(stop.worker);
    EXPECT_FALSE(stop.deviceOpen);
    EXPECT_FALSE(stop.fileOpen);
    EXPECT_GE(button_.serves, 1) << "the stop wait must let the window paint";

    // One whole second, the half second in the buffer at the press, and the encoder's tail.
    std::vector<unsigned char> expected = FakeChunk(1, 88200, 0);
    const auto half = FakeChunk(2, 44100, FirstValueOfSecond(1));
    expected.insert(expected.end(), half.begin(), half.end());
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
    EXPECT_TRUE(Causes().empty());
}

TEST_F(SessionTest, AnyOtherCaptionTakesTheStopPathEvenWithoutAWorker) {
    for (const wchar_t* caption : {L"Stop Recording", L"start recording", L"Start Recording ", L""}) {
        button_.caption = caption;
        button_.seen.clear();
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_TRUE(ToggleRecording(button_));
        // A wait would last a whole 100 ms poll; anything shorter is the machine, not a wait.
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 100ms) << "waited with no worker";
        ASSERT_EQ(button_.seen.size(), 1u);
        EXPECT_EQ(button_.caption, kStartCaption);
        EXPECT_EQ(g_bRecording.load(), 0);
    }
    EXPECT_TRUE(scripted::Calls().empty());
}

TEST_F(SessionTest, StopBeforeTheFirstBufferStillRunsTheWholeTeardown) {
    StartAndWaitForCapture();
    ToggleRecording(button_);
    EXPECT_EQ(Log().encodeCalls, 0);
    EXPECT_EQ(Log().closeCalls, 1);
    EXPECT_EQ(Log().deinitCalls, 0) << "a flush with nothing encoded is a frame of silence";
    EXPECT_TRUE(ReadBytes(Path("out.mp3")).empty());
    EXPECT_FALSE(scripted::IsOpen());

    // A new session can start at once on the same path, and re-creates the file.
    StartAndWaitForCapture();
    ASSERT_TRUE(scripted::FillNext(kSecond));
    ToggleRecording(button_);
    auto expected = FakeChunk(1, 88200, 0);
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
}

TEST_F(SessionTest, SettingsAreTakenOnceAtTheStart) {
    button_.settings = {L"256 Kbps", Path("first.mp3").wstring(), 1};
    StartAndWaitForCapture();
    button_.settings = {L"16 Kbps", Path("second.mp3").wstring(), 0};
    ASSERT_TRUE(scripted::FillNext(kSecond));
    ToggleRecording(button_);
    EXPECT_EQ(Log().lastConfig.format.lhv1.dwBitrate, 256u);
    EXPECT_EQ(scripted::OpenedDeviceNumber(), 1u);
    EXPECT_TRUE(std::filesystem::exists(Path("first.mp3")));
    EXPECT_FALSE(std::filesystem::exists(Path("second.mp3")));
}

TEST_F(SessionTest, NoSelectedDeviceOpensTheDefaultOne) {
    button_.settings.deviceNumber = WAVE_MAPPER;
    StartAndWaitForCapture();
    EXPECT_EQ(scripted::OpenedDeviceNumber(), WAVE_MAPPER);
}

// The list was filled with Line In as device 1; the system's numbers have moved since.
TEST_F(SessionTest, StartOpensTheDeviceTheListShowedWhereverItNowSitsOrRefuses) {
    const scripted::Device lineIn{L"Line In", false, false, 0x11, 0x22};
    button_.settings.deviceNumber = 1;
    button_.settings.device = DeviceIdentity{L"Line In", 0x11, 0x22};

    // A headset plugged in before it, and a device of the same name that is another product.
    scripted::SetDevices({{L"Default source"}, {L"Headset"}, {L"Line In", false, false, 0x11, 0x23}, lineIn});
    StartAndWaitForCapture();
    EXPECT_EQ(scripted::OpenedDeviceNumber(), 3u);
    ToggleRecording(button_);

    // The numbers move again while it opens: what opened at 3 is not it, so it is closed and
    // Line In opened where it now sits.
    scripted::SetDevicesAtOpen({lineIn, {L"Default source"}});
    StartAndWaitForCapture();
    EXPECT_EQ(scripted::OpenedDeviceNumber(), 0u);
    ToggleRecording(button_);
    EXPECT_TRUE(Causes().empty());

    // Unplugged: nothing else is recorded in its place.
    scripted::SetDevices({{L"Default source"}, {L"Headset"}});
    const size_t callsBefore = scripted::Calls().size();
    ASSERT_TRUE(ToggleRecording(button_));
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; }));
    EXPECT_EQ(scripted::Calls().size(), callsBefore) << "a device was opened";
    ASSERT_EQ(Causes().size(), 1u);
    EXPECT_EQ(Causes()[0],
              "Cannot open \"Line In\": it is no longer connected. Connect it again, or choose another input "
              "device.");
}

// A session that cannot record ends by itself and says why, once; the button keeps reading
// "Stop Recording" until the window answers with the stop path.
struct FailureCase {
    const char* name;
    std::function<void(SessionTest&)> arrange;
    std::string causeHas;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class SessionFailure : public SessionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SessionFailure, EndsTheSessionAndNamesTheCause) {
    GetParam().arrange(*this);
    ASSERT_TRUE(ToggleRecording(button_));
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; })) << "the worker kept waiting";
    const auto causes = Causes();
    ASSERT_EQ(causes.size(), 1u);
    EXPECT_NE(causes[0].find(GetParam().causeHas), std::string::npos) << causes[0];
    EXPECT_EQ(g_hWaveIn, nullptr);
    EXPECT_EQ(g_pOutputFile, nullptr);
    EXPECT_TRUE(ReadBytes(Path("out.mp3")).empty()) << "a take that recorded nothing holds nothing";
    EXPECT_TRUE(TableIsZero());
    EXPECT_FALSE(scripted::IsOpen());
    EXPECT_EQ(button_.caption, kStopCaption);
    ToggleRecording(button_);
    EXPECT_EQ(button_.caption, kStartCaption);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, SessionFailure,
    ::testing::Values(
        FailureCase{"DeviceRefuses",
                    [](SessionTest&) { scripted::RefuseOpen(MMSYSERR_ALLOCATED, "Connection refused"); },
                    "Cannot open \"Default source\": Connection refused"},
        // Without a server's words the code is all there is: worded for the person, the
        // system's own text kept.
        FailureCase{"DeviceInUse", [](SessionTest&) { scripted::RefuseOpen(MMSYSERR_ALLOCATED, ""); },
                    "Cannot open \"Default source\": it is in use by another program. Close that program, or "
                    "choose another input device. (scripted device error 4)"},
        FailureCase{"DeviceGone", [](SessionTest&) { scripted::RefuseOpen(MMSYSERR_BADDEVICEID, ""); },
                    "Cannot open \"Default source\": it is no longer connected. Connect it again, or choose "
                    "another input device. (scripted device error 2)"},
        FailureCase{"DriverGone", [](SessionTest&) { scripted::RefuseOpen(MMSYSERR_NODRIVER, ""); },
                    "\": it is no longer connected. Connect it again, or choose another input device. "
                    "(scripted device error 6)"},
        FailureCase{
            "AccessBlocked", [](SessionTest&) { scripted::RefuseOpen(MMSYSERR_ERROR, ""); },
            "Cannot open \"Default source\": Windows may be blocking access to the microphone. Allow "
            "it in Settings, Privacy & security, Microphone, then press Start again. (scripted device "
            "error 1)"},
        FailureCase{"StartRefused", [](SessionTest&) { scripted::RefuseStart(MMSYSERR_NODRIVER); },
                    "Cannot start capturing from \"Default source\": it is no longer connected."},
        FailureCase{"EncoderMissing", [](SessionTest&) { g_pszEncoderLibrary = "/nonexistent/lame_enc.so"; },
                    "/nonexistent/lame_enc.so"},
        FailureCase{"StreamRefused", [](SessionTest& t) { t.UseModule("failing_init"); }, "refused 128 kbps"},
        FailureCase{
            "FileUncreatable",
            [](SessionTest& t) { t.button_.settings.outputPath = t.Path("missing/out.mp3").wstring(); },
            SystemWords(SystemError::kNoSuchFolder)}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(SessionTest, MissingEncoderLeavesTheEarlierRecordingAndTheDeviceAlone) {
    std::ofstream(Path("out.mp3")) << "earlier recording";
    g_pszEncoderLibrary = "/nonexistent/lame_enc.so";
    ToggleRecording(button_);
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; }));
    EXPECT_EQ(ReadBytes(Path("out.mp3")), Bytes("earlier recording"));
    EXPECT_TRUE(scripted::Calls().empty());
}

#ifndef _WIN32
// A named pipe that no one reads would block the open, and the Stop waiting for it, for ever.
TEST_F(SessionTest, ANamedPipeAsOutputIsRefusedAtOnceAndSaysWhy) {
    ASSERT_EQ(mkfifo(Path("pipe.mp3").c_str(), 0600), 0);
    button_.settings.outputPath = Path("pipe.mp3").wstring();
    ASSERT_TRUE(ToggleRecording(button_));
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; })) << "the open blocked";
    ASSERT_EQ(Causes().size(), 1u);
    EXPECT_NE(Causes()[0].find("pipe.mp3\": it is a named pipe, not a file"), std::string::npos)
        << Causes()[0];
    EXPECT_TRUE(scripted::Calls().empty()) << "a session that cannot record opens no device";
}
#endif

TEST_F(SessionTest, FailedWriteMidSessionEndsItAndSaysWhy) {
    button_.settings.outputPath = L"/dev/full";
    StartAndWaitForCapture();
    ASSERT_TRUE(scripted::FillNext(kSecond));
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; }))
        << "recording went on after the failure";
    const auto causes = Causes();
    ASSERT_EQ(causes.size(), 1u);
    EXPECT_EQ(causes[0], "Writing \"/dev/full\" failed: " + SystemWords(SystemError::kDiskFull));
    EXPECT_FALSE(scripted::IsOpen());
}

TEST_F(SessionTest, ManyQuickCyclesNeverHangOrLeakAnything) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> gap(0, 30);
    for (int cycle = 0; cycle < 40; ++cycle) {
        ASSERT_TRUE(ToggleRecording(button_));
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
        if (cycle % 3 == 0 && scripted::IsCapturing())
            scripted::FillNext(kSecond);
        // A hang leaves the stop wait at its limit, the caption not back at Start.
        ToggleRecording(button_);
        ASSERT_EQ(button_.caption, kStartCaption) << "cycle " << cycle;
        ASSERT_FALSE(scripted::IsOpen());
        ASSERT_TRUE(TableIsZero());
        ASSERT_EQ(g_pOutputFile, nullptr);
    }
    EXPECT_TRUE(Causes().empty());
}

TEST_F(SessionTest, LostAudioIsToldWithHowMuchAndWhenButNotAfterTheStopPress) {
    StartAndWaitForCapture();
    auto fill = [](bool withDone = true) {
        ASSERT_TRUE(scripted::FillNext(kSecond, withDone));
        scripted::WaitForReports();
    };
    fill();
    fill();
    scripted::LoseFrames(110250);  // 2.5 s while the handler was stalled
    fill();
    fill(false);       // a buffer that came back unfinished
    g_bRecording = 0;  // the press: what the device drops from now on is not a loss
    scripted::LoseFrames(44100);
    fill();
    button_.caption = kStopCaption;
    ToggleRecording(button_);
    EXPECT_EQ(Causes(),
              std::vector<std::string>{"3.5 s of audio could not be recorded because the computer did not "
                                       "keep up: 2.5 s at 0:02, 1.0 s at 0:05."});

    // The next session fails before capture opens: its message is its own failure alone.
    button_.settings.outputPath = Path("missing/out.mp3").wstring();
    ToggleRecording(button_);
    ASSERT_TRUE(WaitUntil([] { return g_hRecordThread.load() == nullptr; }));
    ASSERT_EQ(Causes().size(), 2u);
    EXPECT_EQ(Causes()[1].find("of audio"), std::string::npos) << Causes()[1];
}

// Windows' own waveIn stops its position while the handler holds every buffer (a stalled
// disk, a network folder): the session goes on, and the time is told as the computer's loss,
// where it fell, not as a source that stalled. The handler then works through the held
// buffers slowly, so the clock finds the stretch's end before the last of them is handled:
// the loss still comes after all three seconds.
TEST_F(SessionTest, HandlerHoldingEveryBufferIsTheComputersLossNotAStalledSource) {
    scripted::CountOnlyBufferedAudio();
    StartAndWaitForCapture();
    SetEncode(-1, BE_ERR_SUCCESSFUL, 400);
    {
        const std::lock_guard<std::mutex> handlerHeldBack(g_hCaptureMutex);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(scripted::FillNext(kSecond));
        std::this_thread::sleep_for(4s);
    }
    scripted::WaitForReports();
    ASSERT_TRUE(WaitUntil([] {
        const std::lock_guard<std::mutex> lock(g_hCaptureMutex);
        return !g_CaptureLoss.Describe().empty();
    }));
    ASSERT_TRUE(scripted::FillNext(kSecond));
    scripted::WaitForReports();
    EXPECT_NE(g_hRecordThread.load(), nullptr) << "the session ended";
    button_.caption = kStopCaption;
    ToggleRecording(button_);
    const auto causes = Causes();
    ASSERT_EQ(causes.size(), 1u);
    double told = 0, listed = 0;
    char at[8] = {};
    ASSERT_EQ(std::sscanf(causes[0].c_str(),
                          "%lf s of audio could not be recorded because the computer did not keep up: %lf s "
                          "at %7[0-9:].",
                          &told, &listed, at),
              3)
        << causes[0];
    // Held 4 s, then the first buffer's slow encoding before it is queued again.
    EXPECT_GT(told, 4.1) << causes[0];
    EXPECT_LT(told, 5.0) << causes[0];
    EXPECT_STREQ(at, "0:03") << causes[0];
}

// Windows' waveIn on a device unplugged mid-take: its position stands still, the stop hands
// back the buffer being filled, and the reset fails and keeps the others for good. The person
// hears of it within 4 s, by the device's name, and the file holds all that came.
TEST_F(SessionTest, ADeviceThatStopsDeliveringIsToldPromptlyByNameWithAllItsAudioKept) {
    scripted::CountOnlyBufferedAudio();
    StartAndWaitForCapture();
    ASSERT_TRUE(scripted::FillNext(kSecond));
    ASSERT_TRUE(scripted::FillPartly(kSecond / 2));
    const auto lastAudio = std::chrono::steady_clock::now();
    scripted::BreakOnReset(MMSYSERR_ERROR);
    ASSERT_TRUE(WaitUntil([this] { return !Causes().empty(); }, 10000ms)) << "still pretending to record";
    EXPECT_LT(std::chrono::steady_clock::now() - lastAudio, 4s);
    EXPECT_EQ(
        Causes()[0],
        "Recording stopped because \"Default source\" stopped delivering audio at 0:01: it may have been "
        "unplugged, or it failed. The input device did not give back its buffers; it was left open.");
    auto expected = FakeChunk(1, 88200, 0);
    const auto half = FakeChunk(2, 44100, FirstValueOfSecond(1));
    expected.insert(expected.end(), half.begin(), half.end());
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
}

// Whatever the polls have not judged yet is judged at Stop: a source that gave nothing at all,
// and audio missing at the end, neither of which has had the time to count as a stall.
TEST_F(SessionTest, AtStopASourceThatGaveNothingOrStoppedGivingIsTold) {
    scripted::StopDelivering();
    StartAndWaitForCapture();
    std::this_thread::sleep_for(1s);
    Stop();
    ASSERT_EQ(Causes().size(), 1u);
    double seconds = 0;
    char rest[64] = {};
    ASSERT_EQ(std::sscanf(Causes()[0].c_str(), "No audio came from \"Default source\" in the %lf s %63[^\n]",
                          &seconds, rest),
              2)
        << Causes()[0];
    EXPECT_GE(seconds, 1.0);
    EXPECT_STREQ(rest, "recorded; the file is empty.");
    EXPECT_TRUE(ReadBytes(Path("out.mp3")).empty());

    // Two seconds and a bit, then nothing for the last second before the Stop.
    scripted::Reset();
    scripted::SetDevices({{L"Default source"}});
    StartAndWaitForCapture();
    ASSERT_TRUE(scripted::FillNext(kSecond));
    std::this_thread::sleep_for(2200ms);
    scripted::StopDelivering();
    MMTIME position = {TIME_SAMPLES, {}};
    ASSERT_EQ(waveInGetPosition(g_hWaveIn, &position, sizeof(position)), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(1s);
    Stop();
    ASSERT_EQ(Causes().size(), 2u);
    double told = 0, listed = 0;
    char at[8] = {};
    ASSERT_EQ(std::sscanf(Causes()[1].c_str(),
                          "%lf s of audio did not come from the input device: %lf s at %7[0-9:].", &told,
                          &listed, at),
              3)
        << Causes()[1];
    EXPECT_GE(told, 0.9) << Causes()[1];
    EXPECT_EQ(at, RecordingClock(position.u.sample)) << Causes()[1];
}

TEST_F(SessionTest, AnInputOfSilenceIsNoticedOnceAtFifteenSecondsAndRecordingGoesOn) {
    scripted::DeliverSilence();
    StartAndWaitForCapture();
    FillSeconds(14);
    std::this_thread::sleep_for(300ms);  // polls that must find nothing to tell
    EXPECT_TRUE(Notices().empty());
    FillSeconds(1);
    ASSERT_TRUE(WaitUntil([this] { return !Notices().empty(); }));
    EXPECT_EQ(Notices(), std::vector<std::string>{
                             "Nothing but silence has come from \"Default source\" for 15 seconds: it may be "
                             "muted, or blocked in the system's privacy settings. Recording goes on."});
    FillSeconds(2);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Notices().size(), 1u);
    EXPECT_NE(g_hRecordThread.load(), nullptr) << "the notice ended the session";
    EXPECT_TRUE(Causes().empty());
    Stop();
    EXPECT_EQ(Log().encodeCalls, 17);
    EXPECT_EQ(Causes(),
              std::vector<std::string>{"Nothing but silence came from \"Default source\" in the 17.0 s "
                                       "recorded: it may be muted, or blocked in the system's privacy "
                                       "settings."});
}

// Silence is nothing but exact zeros: one sample of sound ends it. A monitor is silent whenever
// its output plays nothing, so its silence is told only of the whole take, at Stop.
TEST_F(SessionTest, OneSampleOfSoundIsNoSilenceAndAMonitorsSilenceIsToldAtStop) {
    scripted::DeliverSilence(88200 * 9 + 5);
    StartAndWaitForCapture();
    FillSeconds(16);
    std::this_thread::sleep_for(300ms);
    Stop();
    EXPECT_TRUE(Notices().empty());
    EXPECT_TRUE(Causes().empty());

    scripted::Reset();
    scripted::SetDevices({{L"Monitor of Speakers", false, true}});
    scripted::DeliverSilence();
    StartAndWaitForCapture();
    FillSeconds(16);
    std::this_thread::sleep_for(300ms);
    Stop();
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(Causes(),
              std::vector<std::string>{"Nothing but silence came from \"Monitor of Speakers\" in the "
                                       "16.0 s recorded: nothing may have been playing on that output, "
                                       "or it is muted."});
}

// A device that keeps its buffers past the stop's limit is given up on. It may still write
// into them and report them: the next session must have buffers and headers of its own, and
// such a late report must reach nothing of it (under the sanitizers: no freed memory either).
// The stop wait gives the window back before that limit, and tells when the stop is done.
TEST_F(SessionTest, ADeviceGivenUpOnCannotReachTheNextSession) {
    StartAndWaitForCapture();
    const auto* abandoned = g_WaveHeaders;
    scripted::BreakOnReset();
    ToggleRecording(button_);
    EXPECT_EQ(button_.caption, kStoppingCaption);
    EXPECT_FALSE(FinishStopping(button_));
    ASSERT_TRUE(WaitUntil([this] { return FinishStopping(button_); }, 5000ms));
    EXPECT_EQ(button_.caption, kStartCaption);
    ASSERT_EQ(Causes().size(), 1u);
    EXPECT_NE(Causes()[0].find("did not give back its buffers"), std::string::npos) << Causes()[0];

    StartAndWaitForCapture();
    ASSERT_NE(g_WaveHeaders, nullptr);
    EXPECT_NE(g_WaveHeaders, abandoned);
    scripted::ReportKept(kSecond);
    scripted::WaitForReports();
    EXPECT_EQ(g_dwBuffersOut.load(), 3u);
    EXPECT_EQ(scripted::QueuedCount(), 3u);
    EXPECT_EQ(Log().encodeCalls, 0);

    ASSERT_TRUE(scripted::FillNext(kSecond));
    ToggleRecording(button_);
    auto expected = FakeChunk(1, 88200, 0);
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
    EXPECT_EQ(Causes().size(), 1u);
}

TEST(LossLog, SaysNothingWithoutLossAndMergesWhatWasLostAtOnePlace) {
    LossLog log;
    log.NoteCaptured(44100 * 61);
    EXPECT_EQ(log.Describe(), "");
    log.NoteLost(4410);
    log.NoteLost(4410);  // the same stall, seen twice
    for (int i = 0; i < 6; ++i) {
        log.NoteCaptured(44100);
        log.NoteLost(441);
    }
    EXPECT_EQ(log.Describe(),
              "0.3 s of audio could not be recorded because the computer did not keep up: 0.2 s at 1:01, "
              "0.0 s at 1:02, 0.0 s at 1:03, 0.0 s at 1:04, 0.0 s at 1:05 and 2 more.");
    log.Reset();
    EXPECT_EQ(log.Describe(), "");

    // Audio that never came takes its place in the recording's time.
    log.NoteCaptured(44100 * 2);
    log.NoteMissing(44100 * 2, 66150);
    log.NoteCaptured(44100);
    log.NoteLost(4410);
    EXPECT_EQ(log.Describe(),
              "0.1 s of audio could not be recorded because the computer did not keep up: 0.1 s at 0:04. "
              "1.5 s of audio did not come from the input device: 1.5 s at 0:02.");
}

TEST(BitRateText, LeadingNumberOrElse128) {
    EXPECT_EQ(ParseBitRate(L"16 Kbps"), 16u);
    EXPECT_EQ(ParseBitRate(L"256 Kbps"), 256u);
    EXPECT_EQ(ParseBitRate(L"64"), 64u);
    EXPECT_EQ(ParseBitRate(L""), 128u);
    EXPECT_EQ(ParseBitRate(L"abc"), 128u);
    EXPECT_EQ(ParseBitRate(L"Kbps 64"), 128u);
}

}  // namespace
