// The Windows keep-awake as a session makes and undoes it, seen through its power-request
// calls: a request naming the file, set once capture runs, cleared and closed at the end;
// where Windows makes no request, the execution state of the worker, set and reset on it.
// The take records whole either way.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "fake_button.h"
#include "power_request_win32.h"
#include "text_conversion.h"
#include "wait_until.h"

namespace {

constexpr uint32_t kSecond = 176400;  // bytes of one full capture buffer
const HANDLE kRequest = reinterpret_cast<HANDLE>(0x5150);

std::mutex g_lock;
std::vector<std::string> g_calls;
std::vector<DWORD> g_threads;  // the thread of each call
bool g_bRefuse = false;        // the request cannot be made

void Note(const std::string& call) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.push_back(call);
    g_threads.push_back(GetCurrentThreadId());
}

std::string Of(HANDLE request, POWER_REQUEST_TYPE type) {
    return std::string(request == kRequest ? "the request" : "another handle") +
           (type == PowerRequestSystemRequired ? " system-required" : " of another type");
}

HANDLE WINAPI Create(PREASON_CONTEXT context) {
    Note("create " + ToUtf8(context->Reason.SimpleReasonString) +
         (context->Flags == POWER_REQUEST_CONTEXT_SIMPLE_STRING ? "" : " (not a simple string)"));
    return g_bRefuse ? INVALID_HANDLE_VALUE : kRequest;
}
BOOL WINAPI Set(HANDLE request, POWER_REQUEST_TYPE type) {
    Note("set " + Of(request, type));
    return TRUE;
}
BOOL WINAPI Clear(HANDLE request, POWER_REQUEST_TYPE type) {
    Note("clear " + Of(request, type));
    return TRUE;
}
BOOL WINAPI Close(HANDLE request) {
    Note(std::string("close ") + (request == kRequest ? "the request" : "another handle"));
    return TRUE;
}
EXECUTION_STATE WINAPI SetThreadState(EXECUTION_STATE flags) {
    char text[32];
    std::snprintf(text, sizeof(text), "thread state %#lx", static_cast<unsigned long>(flags));
    Note(text);
    return ES_CONTINUOUS;
}

class KeepAwakeWin32Test : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        kernel_ = g_PowerRequestCalls;
        g_PowerRequestCalls = {Create, Set, Clear, Close, SetThreadState};
        g_calls.clear();
        g_threads.clear();
        scripted::SetDevices({{L"Default source"}});
        button_.settings = {L"128 Kbps", Path("take.mp3").wstring(), 0};
    }
    void TearDown() override {
        g_PowerRequestCalls = kernel_;
        g_bRefuse = false;
        EngineTest::TearDown();
    }

    // Two seconds recorded; the calls made by the time capture ran, and by the end.
    void RecordTwoSeconds(std::vector<std::string>& whileRecording) {
        ASSERT_TRUE(ToggleRecording(button_));
        ASSERT_TRUE(WaitUntil([] { return scripted::IsCapturing(); }));
        ASSERT_TRUE(scripted::FillNext(kSecond));
        ASSERT_TRUE(scripted::FillNext(kSecond));
        scripted::WaitForReports();
        {
            std::lock_guard<std::mutex> lock(g_lock);
            whileRecording = g_calls;
        }
        ToggleRecording(button_);
        EXPECT_EQ(Log().encodeCalls, 2) << "the take lost audio";
    }

    PowerRequestCalls kernel_ = {};
    FakeButton button_;
};

}  // namespace

TEST_F(KeepAwakeWin32Test, ARequestNamingTheFileIsSetWhileRecordingThenClearedAndClosed) {
    std::vector<std::string> whileRecording;
    RecordTwoSeconds(whileRecording);
    const std::vector<std::string> made = {"create Recording to take.mp3", "set the request system-required"};
    EXPECT_EQ(whileRecording, made);
    std::vector<std::string> all = made;
    all.insert(all.end(), {"clear the request system-required", "close the request"});
    EXPECT_EQ(g_calls, all);
}

TEST_F(KeepAwakeWin32Test, WithoutARequestTheWorkersExecutionStateIsSetAndResetOnIt) {
    g_bRefuse = true;
    std::vector<std::string> whileRecording;
    RecordTwoSeconds(whileRecording);
    const std::vector<std::string> made = {"create Recording to take.mp3", "thread state 0x80000001"};
    EXPECT_EQ(whileRecording, made);
    std::vector<std::string> all = made;
    all.push_back("thread state 0x80000000");
    ASSERT_EQ(g_calls, all);
    EXPECT_EQ(g_threads[1], g_threads[2]) << "the state belongs to the thread that set it";
    EXPECT_NE(g_threads[1], GetCurrentThreadId()) << "set on the window's thread, not the worker";
}
