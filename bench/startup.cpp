// Process start to window shown, timed from the X server's own report of the map rather than
// by polling for the window, which would add its own interval and compete with the start.
//   bench_startup PROGRAM COUNT
// Starts PROGRAM (in the current folder) COUNT times in turn; for each prints the milliseconds
// from just before the fork to the MapNotify of its first top-level window titled "Voxmere",
// then ends it with SIGTERM (the program closes its window as on a logout) and waits for it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// A window can be gone by the time its name is asked for: that is no reason to stop.
int IgnoreError(Display*, XErrorEvent*) {
    return 0;
}

bool IsVoxmere(Display* display, Window window) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || name == nullptr)
        return false;
    const bool match = std::strcmp(name, "Voxmere") == 0;
    XFree(name);
    return match;
}

// Waits up to 30 s for a top-level window titled "Voxmere" to be mapped; false if none was.
bool WaitForMap(Display* display) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && IsVoxmere(display, event.xmap.window))
                return true;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval timeout = {0, 100000};
        select(fd + 1, &readable, nullptr, nullptr, &timeout);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM COUNT\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bench_startup: cannot open the display\n");
        return 1;
    }
    // Without a window manager, a top-level window's map is reported to the root's
    // substructure listeners; the name is set before the map.
    XSetErrorHandler(IgnoreError);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    for (int run = std::atoi(argv[2]); run > 0; --run) {
        XSync(display, True);  // nothing of the previous run counts
        const Clock::time_point start = Clock::now();
        const pid_t child = fork();
        if (child == 0) {
            execl(argv[1], argv[1], static_cast<char*>(nullptr));
            _exit(127);
        }
        const bool shown = WaitForMap(display);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        if (!shown) {
            std::fprintf(stderr, "bench_startup: no Voxmere window within 30 s\n");
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(ms));
        std::fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
