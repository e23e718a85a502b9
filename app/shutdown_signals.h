// Logout, shutdown and a closed terminal end a POSIX program with SIGTERM, SIGHUP or SIGINT,
// whose default action would drop the second being recorded and the encoder's tail. (Windows
// tells a program's window instead; wx turns that into a close of the top window.)
#pragma once

class wxWindow;

// While it lives, the first of those signals closes window the way its close box does, which
// stops a recording the orderly way, and ends the process by that signal once the window's
// loop has returned and the watch is destroyed; if that has not happened 1.8 s after the
// signal, the process ends then all the same. Any such signal after the first ends the
// process at once. One watch per process.
class ShutdownSignalWatch {
public:
    explicit ShutdownSignalWatch(wxWindow& window);
    ~ShutdownSignalWatch();
    ShutdownSignalWatch(const ShutdownSignalWatch&) = delete;
    ShutdownSignalWatch& operator=(const ShutdownSignalWatch&) = delete;
};
