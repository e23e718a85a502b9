// The real voxmere binary, driven from outside with xdotool as a person drives it with the
// keyboard, recording the test environment's 440 Hz tone through the real capture layer and
// encoder module.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mp3_probe.h"
#include "pulse_server.h"

namespace {

// Runs a shell command; its standard output, without the final line feed.
std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof(buffer), pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

// One voxmere process, started in its own folder (where "RecordedAudio.mp3" lands) with
// its output kept in a file.
class Voxmere {
public:
    Voxmere(const std::filesystem::path& folder, std::vector<std::string> arguments = {}) : folder_(folder) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(folder.c_str()) != 0)
                _exit(126);
            const std::string log = (folder / "voxmere.log").string();
            if (!freopen(log.c_str(), "w", stdout) || !freopen(log.c_str(), "a", stderr))
                _exit(126);
            std::vector<char*> argv = {const_cast<char*>(VOXMERE_EXECUTABLE)};
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            execv(VOXMERE_EXECUTABLE, argv.data());
            _exit(127);
        }
    }
    ~Voxmere() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void Signal(int signo) { kill(pid_, signo); }

    // Waits for the window and gives it the keyboard (no window manager does here).
    bool FindWindow() {
        window_ = Shell("timeout 20 xdotool search --sync --all --onlyvisible --pid " + std::to_string(pid_) +
                        " --name '^Voxmere$' 2>/dev/null | head -1");
        if (window_.empty())
            return false;
        Shell("xdotool windowfocus --sync " + window_);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return true;
    }
    // Gives the keyboard to the message shown over the window (waiting up to 5 s for one)
    // and presses keys there; false when no message came.
    bool AnswerMessage(const std::string& keys) {
        std::string message;
        for (int tries = 0; tries < 50 && message.empty(); ++tries) {
            message = Shell("xdotool search --all --onlyvisible --pid " + std::to_string(pid_) +
                            " --name '^Voxmere$' 2>/dev/null | grep -vx '" + window_ + "' | head -1");
            if (message.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (message.empty())
            return false;
        Shell("xdotool windowfocus --sync " + message + " sleep 0.3 key " + keys + " sleep 0.3");
        return true;
    }
    // An X property of the window, as xprop prints it.
    std::string Property(const std::string& name) { return Shell("xprop -id " + window_ + " " + name); }
    // xdotool commands against the focused window, e.g. "key Return sleep 3 key Return".
    void Keys(const std::string& commands) { Shell("xdotool " + commands); }

    // The exit status, or -1 if it did not end within the limit.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }
    // How many windows titled "Voxmere" it shows: the main window, and a message over it.
    int VoxmereWindows() {
        const std::string ids = Shell("xdotool search --all --onlyvisible --pid " + std::to_string(pid_) +
                                      " --name '^Voxmere$' 2>/dev/null");
        return ids.empty() ? 0 : 1 + static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
    }
    std::string Log() const {
        std::ifstream in(folder_ / "voxmere.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::string window_;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/voxmere-app.XXXXXX";
        folder_ = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // The recording, decoded; checks what every recording of the tone must be.
    Mp3Probe Recording(const std::filesystem::path& path) {
        const Mp3Probe probe = ProbeMp3File(path.string());
        EXPECT_TRUE(probe.ok) << probe.error;
        EXPECT_NEAR(probe.dominantHz, 440.0, 2.0);
        return probe;
    }

    std::filesystem::path folder_;
};

}  // namespace

// The window starts on Start Recording: Enter starts, Enter three seconds later stops.
TEST_F(AppTest, EnterStartsAndStopsAThreeSecondRecording) {
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    voxmere.Keys("key Return sleep 3 key Return sleep 0.5 key Escape");
    ASSERT_EQ(voxmere.Wait(), 0) << voxmere.Log();

    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_NEAR(probe.seconds, 3.0, 0.2);
    ASSERT_FALSE(probe.frames.empty());
    for (const Mp3Frame& frame : probe.frames) {
        ASSERT_EQ(frame.bitrateKbps, 64) << "64 Kbps is the default";
    }
    EXPECT_TRUE(voxmere.Log().empty()) << voxmere.Log();
}

// The desktop finds the window's entry (its name and icon) by WM_CLASS: both parts name the
// entry's id, and the entry says so.
TEST_F(AppTest, WindowClassNamesTheDesktopEntry) {
    const std::filesystem::path entry = VOXMERE_DESKTOP_ENTRY;
    const std::string id = entry.stem().string();
    std::ifstream in(entry);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("\nStartupWMClass=" + id + "\n"), std::string::npos) << text;

    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    EXPECT_EQ(voxmere.Property("WM_CLASS"), "WM_CLASS(STRING) = \"" + id + "\", \"" + id + "\"");
    voxmere.Keys("key Escape");
    EXPECT_EQ(voxmere.Wait(), 0) << voxmere.Log();
}

// Escape while recording ends the process with status 0, the session stopped first: the
// file holds the whole recording and decodes to its end.
TEST_F(AppTest, EscapeWhileRecordingEndsWithACompleteFile) {
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    voxmere.Keys("key Return sleep 2 key Escape");
    ASSERT_EQ(voxmere.Wait(), 0) << voxmere.Log();

    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_NEAR(probe.seconds, 2.0, 0.2);
    EXPECT_LT(probe.maxPhaseJumpSamples, 1.0) << "a gap or a cut in the recording";
}

// A logout, a shutdown or a closed terminal (SIGTERM, SIGHUP, SIGINT) stops the recording the
// way Stop does, with its last partial second and the encoder's tail, and the process ends
// within two seconds, by that signal.
TEST_F(AppTest, SigtermWhileRecordingStopsInOrderAndEndsWithinTwoSeconds) {
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    voxmere.Keys("key Return sleep 5");
    voxmere.Signal(SIGTERM);
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(voxmere.Wait(std::chrono::seconds(5)), 128 + SIGTERM) << voxmere.Log();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));

    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_GE(probe.seconds, 4.9);
    EXPECT_LT(probe.maxPhaseJumpSamples, 1.0) << "a gap or a cut in the recording";
}

// Two copies in one folder: while the first records RecordedAudio.mp3, the second's Start on
// it, Yes to the replace question included, is refused before anything is written, and the
// first's recording keeps every second of it.
TEST_F(AppTest, ASecondCopyCannotRecordOverAFileBeingRecorded) {
    Voxmere first(folder_);
    Voxmere second(folder_);
    ASSERT_TRUE(first.FindWindow()) << first.Log();
    ASSERT_TRUE(second.FindWindow()) << second.Log();
    ASSERT_TRUE(first.FindWindow());
    first.Keys("key Return sleep 2");
    ASSERT_TRUE(second.FindWindow());
    second.Keys("key Return");
    ASSERT_TRUE(second.AnswerMessage("alt+y")) << "no replace question";
    ASSERT_TRUE(second.AnswerMessage("Return")) << "the second copy was not refused";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(first.FindWindow());
    first.Keys("key Return sleep 0.5 key Escape");
    ASSERT_EQ(first.Wait(), 0) << first.Log();
    second.Keys("key Escape");

    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_GE(probe.seconds, 5.0);
    EXPECT_LT(probe.maxPhaseJumpSamples, 1.0) << "a gap or a cut in the recording";
}

// No argument changes the start, makes it fail or prints a usage text; and nothing stops a
// second copy from running beside the first.
TEST_F(AppTest, ArgumentsAreIgnoredAndTwoCopiesRunSideBySide) {
    std::filesystem::create_directory(folder_ / "first");
    std::filesystem::create_directory(folder_ / "second");
    Voxmere first(folder_ / "first", {"--help", "--bogus=1", "-x", "no such file.mp3"});
    Voxmere second(folder_ / "second", {"--display=:9999", "--version"});
    ASSERT_TRUE(first.FindWindow()) << first.Log();
    ASSERT_TRUE(second.FindWindow()) << second.Log();
    second.Keys("key Escape");
    EXPECT_EQ(second.Wait(), 0) << second.Log();
    ASSERT_TRUE(first.FindWindow());
    first.Keys("key Escape");
    EXPECT_EQ(first.Wait(), 0) << first.Log();
    EXPECT_TRUE(first.Log().empty()) << first.Log();
    EXPECT_TRUE(second.Log().empty()) << second.Log();
}

// Browse through the real save dialog: a name typed without extension gets ".mp3", and the
// recording lands there.
TEST_F(AppTest, BrowseWithATypedNameRecordsToItWithMp3Appended) {
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    // Tab order: Start/Stop, device list, output box, Browse...
    voxmere.Keys("key Tab Tab Tab Return");
    const std::string chooser =
        Shell("timeout 20 xdotool search --sync --onlyvisible --name '^Save As$' | head -1");
    ASSERT_FALSE(chooser.empty()) << "the save dialog did not appear";
    Shell("xdotool windowfocus --sync " + chooser + " sleep 0.5");
    // The name field has the focus with the offered name selected; typing replaces it.
    voxmere.Keys("key ctrl+a type --delay 20 '" + (folder_ / "take").string() + "'");
    voxmere.Keys("sleep 0.3 key Return sleep 1");
    ASSERT_TRUE(voxmere.FindWindow());
    // Back on Browse...: Shift+Tab to the output box, where Enter starts and stops.
    voxmere.Keys("key shift+Tab Return sleep 1.5 key Return sleep 0.5 key Escape");
    ASSERT_EQ(voxmere.Wait(), 0) << voxmere.Log();

    EXPECT_FALSE(std::filesystem::exists(folder_ / "RecordedAudio.mp3"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "take"));
    const Mp3Probe probe = Recording(folder_ / "take.mp3");
    EXPECT_NEAR(probe.seconds, 1.5, 0.2);
}

// Killed in the middle of a recording, the process leaves a playable file holding everything
// captured up to about a second and a half before the kill.
TEST_F(AppTest, KilledWhileRecordingLeavesAPlayableFile) {
    {
        Voxmere voxmere(folder_);
        ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
        voxmere.Keys("key Return sleep 5");
    }  // SIGKILL
    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_GE(probe.seconds, 3.5);
}

// A microphone muted in the mixer delivers exact zeros: after 15 s of them the window says
// so, and the recording goes on; at Stop the take is told as silence throughout.
TEST_F(AppTest, AMutedMicrophoneIsNoticedWhileTheRecordingGoesOn) {
    PrivatePulseServer server({});
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_GE(server.AddTone("tone", 440, "Tone"), 0) << server.Error();
    // An input, not a monitor: the tone remapped as a source of its own.
    ASSERT_GE(
        server.LoadModule("module-remap-source",
                          "source_name=mic master=tone.monitor source_properties=device.description=Mic"),
        0)
        << server.Error();
    ASSERT_EQ(server.Pactl({"set-default-source", "mic"}), 0);
    ASSERT_EQ(server.Pactl({"set-source-mute", "mic", "1"}), 0);
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    voxmere.Keys("key Return");
    const auto started = std::chrono::steady_clock::now();
    while (voxmere.VoxmereWindows() < 2 &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(40))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto noticed = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(voxmere.VoxmereWindows(), 2) << "no notice";
    EXPECT_GE(noticed, std::chrono::seconds(14)) << "told before 15 s of silence";
    ASSERT_TRUE(voxmere.AnswerMessage("Return"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(voxmere.FindWindow());
    voxmere.Keys("key Return");
    ASSERT_TRUE(voxmere.AnswerMessage("Return")) << "the silent take was not told at Stop";
    ASSERT_TRUE(voxmere.FindWindow());
    voxmere.Keys("key Escape");
    ASSERT_EQ(voxmere.Wait(), 0) << voxmere.Log();

    const Mp3Probe probe = ProbeMp3File((folder_ / "RecordedAudio.mp3").string());
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_GE(probe.seconds, 16.0) << "the recording did not go on";
}

// The sound server dies mid-recording: within two seconds the window says so, and the file
// keeps what came before.
TEST_F(AppTest, SoundServerDyingMidRecordingIsToldWithinTwoSeconds) {
    PrivatePulseServer server({});
    ASSERT_TRUE(server.Start()) << server.Error();  // the process, and so voxmere, now uses it
    ASSERT_GE(server.AddTone("tone", 440, "Tone"), 0) << server.Error();
    ASSERT_EQ(server.Pactl({"set-default-source", "tone.monitor"}), 0);
    Voxmere voxmere(folder_);
    ASSERT_TRUE(voxmere.FindWindow()) << voxmere.Log();
    voxmere.Keys("key Return sleep 3");
    server.Kill();
    const auto killed = std::chrono::steady_clock::now();
    while (voxmere.VoxmereWindows() < 2 &&
           std::chrono::steady_clock::now() - killed < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(voxmere.VoxmereWindows(), 2) << "no message";
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(2));

    const Mp3Probe probe = Recording(folder_ / "RecordedAudio.mp3");
    EXPECT_GE(probe.seconds, 2.0);
}
