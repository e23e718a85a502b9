#include "pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The process's environment with each of overrides ("NAME=value") replacing its namesake.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string line = *entry;
        const std::string name = line.substr(0, line.find('=') + 1);
        bool replaced = false;
        for (const std::string& o : overrides)
            replaced = replaced || o.compare(0, name.size(), name) == 0;
        if (!replaced)
            result.push_back(line);
    }
    result.insert(result.end(), overrides.begin(), overrides.end());
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The module index pactl or the tone recipe printed, or -1 when the command failed.
int ModuleIndex(int status, const std::string& output) {
    if (status != 0)
        return -1;
    try {
        return std::stoi(output);
    } catch (const std::exception&) {
        return -1;
    }
}

// Waits up to limit for pid to end; true if it did (and is reaped).
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

PrivatePulseServer::PrivatePulseServer(std::vector<std::string> modules, std::string defaultSource)
    : modules_(std::move(modules)), defaultSource_(std::move(defaultSource)) {
    char pattern[] = "/tmp/voxmere-pulse.XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        folder_ = pattern;
        mkdir((folder_ + "/runtime").c_str(), 0700);
    }
    address_ = "unix:" + folder_ + "/runtime/pulse-native";
    if (const char* saved = std::getenv("PULSE_SERVER")) {
        hadPulseServer_ = true;
        savedPulseServer_ = saved;
    }
}

PrivatePulseServer::~PrivatePulseServer() {
    Stop();
    if (hadPulseServer_) {
        setenv("PULSE_SERVER", savedPulseServer_.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    std::error_code ignored;
    if (!folder_.empty())
        std::filesystem::remove_all(folder_, ignored);
}

bool PrivatePulseServer::Start() {
    if (Running())
        return true;
    if (folder_.empty()) {
        error_ = "cannot create a runtime folder in /tmp";
        return false;
    }
    // The recipe execs the daemon itself, so pid_ is the daemon's.
    const std::string program = VOXMERE_PRIVATE_PULSE;
    std::vector<std::string> args = {program, "daemon", folder_};
    args.insert(args.end(), modules_.begin(), modules_.end());
    std::vector<std::string> env = EnvironmentWith({});
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const int log = open((folder_ + "/pulse.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec: the parent has other threads.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(log);
    close(null);
    if (pid < 0) {
        error_ = "cannot fork for pulseaudio";
        return false;
    }
    pid_ = pid;

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            error_ = "pulseaudio ended at start-up:\n" + ReadLog();
            return false;
        }
        if (Pactl({"info"}) == 0)
            break;
        if (Clock::now() >= deadline) {
            Kill();
            error_ = "pulseaudio did not answer within 10 s:\n" + ReadLog();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!defaultSource_.empty() && Pactl({"set-default-source", defaultSource_}) != 0) {
        error_ = "cannot make " + defaultSource_ + " the default source:\n" + ReadLog();
        return false;
    }
    setenv("PULSE_SERVER", address_.c_str(), 1);
    return true;
}

void PrivatePulseServer::Stop() {
    if (!Running())
        return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a paused server handles SIGTERM only once it goes on
    if (!WaitForExit(pid_, std::chrono::seconds(5))) {
        kill(pid_, SIGKILL);
        WaitForExit(pid_, std::chrono::seconds(5));
    }
    pid_ = 0;
}

void PrivatePulseServer::Kill() {
    if (!Running())
        return;
    kill(pid_, SIGKILL);
    WaitForExit(pid_, std::chrono::seconds(5));
    pid_ = 0;
}

void PrivatePulseServer::Pause() {
    if (Running())
        kill(pid_, SIGSTOP);
}

void PrivatePulseServer::Resume() {
    if (Running())
        kill(pid_, SIGCONT);
}

int PrivatePulseServer::Pactl(const std::vector<std::string>& args, std::string* output) const {
    std::vector<std::string> all = {"pactl"};
    all.insert(all.end(), args.begin(), args.end());
    return Run(all, output);
}

int PrivatePulseServer::Run(std::vector<std::string> all, std::string* output) const {
    std::vector<std::string> env = EnvironmentWith({"PULSE_SERVER=" + address_});
    std::vector<char*> argv = Pointers(all);
    std::vector<char*> envp = Pointers(env);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, all[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    std::string text;
    char chunk[512];
    ssize_t got;
    while (spawned == 0 && (got = read(pipeFds[0], chunk, sizeof(chunk))) != 0) {
        if (got > 0)
            text.append(chunk, static_cast<size_t>(got));
        if (got < 0 && errno != EINTR)
            break;
    }
    close(pipeFds[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output != nullptr)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int PrivatePulseServer::LoadModule(const std::string& name, const std::string& arguments) {
    std::string output;
    return ModuleIndex(Pactl({"load-module", name, arguments}, &output), output);
}

bool PrivatePulseServer::UnloadModule(int index) {
    return Pactl({"unload-module", std::to_string(index)}) == 0;
}

int PrivatePulseServer::AddTone(const std::string& name, int hz, const std::string& description) {
    std::string output;
    const int status =
        Run({VOXMERE_PRIVATE_PULSE, "tone", address_, name, std::to_string(hz), description}, &output);
    return ModuleIndex(status, output);
}

std::string PrivatePulseServer::ReadLog() const {
    std::ifstream file(folder_ + "/pulse.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
