// A private PulseAudio daemon for one test: its own runtime folder and socket, the modules
// the test names and nothing else, reachable through PULSE_SERVER in this process. It never
// touches the environment's or the user's own server, and never autospawns one.
//
//   PrivatePulseServer server({"module-sine-source source_name=a frequency=440 rate=44100"}, "a");
//   ASSERT_TRUE(server.Start()) << server.Error();
//
// Threads: create, start and destroy it on the test's main thread. The daemon is told to end
// when the thread that started it ends, so a crashed test leaves no daemon behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class PrivatePulseServer {
public:
    // modules: one module line each, "name arguments...", loaded in this order after the
    // native protocol. defaultSource: made the server's default source when not empty.
    explicit PrivatePulseServer(std::vector<std::string> modules, std::string defaultSource = "");
    // Stops the daemon, puts PULSE_SERVER back as it was and removes the runtime folder.
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // Starts the daemon (again, after Stop or Kill: same socket, same modules), waits until it
    // answers, then sets PULSE_SERVER to it. false with Error() saying why, with its log.
    bool Start();
    // SIGTERM, then waits for the daemon to end (SIGKILL after 5 s).
    void Stop();
    // SIGKILL and wait: the server vanishes the way a crashed one does.
    void Kill();
    // SIGSTOP and SIGCONT: a server that stops answering and delivering, then goes on.
    void Pause();
    void Resume();
    bool Running() const { return pid_ > 0; }

    // Runs pactl against this server with args; returns its exit status and, when output is
    // given, what it printed on stdout.
    int Pactl(const std::vector<std::string>& args, std::string* output = nullptr) const;
    // Loads a module at run time; its index, or -1.
    int LoadModule(const std::string& name, const std::string& arguments);
    bool UnloadModule(int index);

    // Adds a source "<name>.monitor" described "Monitor of <description>" that carries a sine
    // of hz in real time, from the moment it exists, by the same recipe as the test
    // environment's tone (scripts/private-pulse, which says why module-sine-source will not
    // do). Returns the index of the module whose unloading removes the source, or -1.
    // Run-time modules are not restored by a restart.
    int AddTone(const std::string& name, int hz, const std::string& description);

    // "unix:<socket path>", the value PULSE_SERVER gets.
    const std::string& Address() const { return address_; }
    const std::string& Error() const { return error_; }

private:
    std::string ReadLog() const;
    // Runs args[0] (looked up in PATH) with this server as PULSE_SERVER; as Pactl.
    int Run(std::vector<std::string> args, std::string* output) const;

    std::vector<std::string> modules_;
    std::string defaultSource_;
    std::string folder_;
    std::string address_;
    std::string error_;
    bool hadPulseServer_ = false;
    std::string savedPulseServer_;
    pid_t pid_ = 0;
};
