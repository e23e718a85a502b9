#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <wx/window.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "shutdown_signals.h"

namespace {

constexpr int kShutdownSignals[] = {SIGTERM, SIGHUP, SIGINT};
// From the signal to the end of the process, whatever the orderly close is still doing: the
// session manager's patience is short, and every chunk is on disk already.
constexpr auto kGrace = std::chrono::milliseconds(1800);

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free word");
std::atomic<int> g_received{0};  // the first shutdown signal, or 0
int g_wakeFds[2] = {-1, -1};     // the handler's write wakes the grace thread

// The window the grace thread asks to close; null once the watch has ended, after which the
// watch's end itself ends the process.
std::mutex g_windowMutex;
wxWindow* g_window = nullptr;

void SetDisposition(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int signo : kShutdownSignals)
        sigaddset(&action.sa_mask, signo);
    action.sa_flags = SA_RESTART;
    for (int signo : kShutdownSignals)
        sigaction(signo, &action, nullptr);
}

// Async-signal-safe calls only. The default action is back for all three from here on, so a
// second signal ends the process at once.
void OnShutdownSignal(int signo) {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    for (int each : kShutdownSignals)
        sigaction(each, &fallback, nullptr);
    int none = 0;
    if (g_received.compare_exchange_strong(none, signo)) {
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(g_wakeFds[1], &byte, 1);
        errno = saved;
    }
}

// Ends the process by the signal that arrived, as its sender expects; its default action is
// already back in place.
[[noreturn]] void EndBySignal(int signo) {
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    kill(getpid(), signo);
    _exit(128 + signo);  // not reached: the default action of all three ends the process
}

}  // namespace

ShutdownSignalWatch::ShutdownSignalWatch(wxWindow& window) {
    if (pipe2(g_wakeFds, O_CLOEXEC) != 0)
        return;  // the signals keep their default action
    g_window = &window;
    try {
        std::thread([] {
            char byte;
            while (read(g_wakeFds[0], &byte, 1) < 0 && errno == EINTR) {
            }
            {
                // The window is closed on its own thread: CallAfter only queues the request
                // and may be called from any thread; a window that is destroyed drops it. So
                // the window waits on nothing and costs no wake-up until a signal comes.
                std::lock_guard<std::mutex> lock(g_windowMutex);
                if (wxWindow* window = g_window)
                    window->CallAfter([window] { window->Close(); });
            }
            std::this_thread::sleep_for(kGrace);
            EndBySignal(g_received.load());
        }).detach();
    } catch (const std::system_error&) {
        g_window = nullptr;
        return;  // without the grace thread nothing bounds the close: keep the default action
    }
    SetDisposition(&OnShutdownSignal);
}

ShutdownSignalWatch::~ShutdownSignalWatch() {
    {
        std::lock_guard<std::mutex> lock(g_windowMutex);
        g_window = nullptr;
    }
    if (const int signo = g_received.load())
        EndBySignal(signo);
}
