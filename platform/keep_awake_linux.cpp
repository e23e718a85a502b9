// logind's idle inhibitor and the desktop portal's suspend inhibitor, through sd-bus.
//
// sd-bus has no thread and no timer of its own: the connections are non-blocking sockets,
// connecting and authenticating go on inside sd_bus_process, and the worker's polls are what
// call it. So nothing here waits for a bus (neither the start of capture nor the stop waits
// for one), and a session that ends leaves the process with the threads it had before.
// The connections are private ones, never the process's shared default buses: closing them
// is what lets go (and cancels whatever they still ask), and the rest of the process must not
// find them.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "keep_awake.h"
#include "text_conversion.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kAnswerLimit = std::chrono::seconds(1);
constexpr auto kEndLimit = std::chrono::seconds(1);

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr uint32_t kPortalSuspend = 4;  // the portal's flag for the session or computer suspending

enum Bus { kSystemBus, kSessionBus };

// One session's requests; none exists while no session records.
struct Requests {
    Clock::time_point giveUp;
    bool ending = false;
    bool complained = false;
    std::string reason;
    sd_bus* systemBus = nullptr;  // open only until logind answers: the descriptor holds alone
    bool logindAnswered = false;
    int logindFd = -1;             // closing it lets logind's inhibitor go
    sd_bus* sessionBus = nullptr;  // the portal's inhibitor lasts while it is open...
    bool portalAnswered = false;
    std::string portalRequest;  // ...or until Close on this handle
};
Requests* g_pRequests = nullptr;

const char* ServiceName(Bus bus) {
    return bus == kSystemBus ? "logind" : "the desktop portal";
}

void Tell(Requests& r, const std::string& why) {
    if (r.ending || r.complained)
        return;
    r.complained = true;
    std::fprintf(stderr, "Voxmere: the computer may fall asleep during this recording: %s.\n", why.c_str());
}

// A system without logind or a desktop without the portal holds nothing off, and that is no
// fault worth a word; a service that refuses, or a bus that drops the question, is told once.
void Complain(Requests& r, Bus bus, const sd_bus_error* error) {
    if (sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                               SD_BUS_ERROR_UNKNOWN_METHOD, SD_BUS_ERROR_UNKNOWN_INTERFACE,
                               SD_BUS_ERROR_UNKNOWN_OBJECT))
        return;
    Tell(r, std::string(ServiceName(bus)) +
                " refused: " + (error->message != nullptr ? error->message : error->name));
}

int OnLogindAnswer(sd_bus_message* reply, void* requests, sd_bus_error*) {
    Requests& r = *static_cast<Requests*>(requests);
    r.logindAnswered = true;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        Complain(r, kSystemBus, sd_bus_message_get_error(reply));
        return 0;
    }
    int fd = -1;
    // The reply's own descriptor closes with it: a duplicate, close-on-exec, so that a program
    // started later (the browser) cannot keep it.
    if (sd_bus_message_read(reply, "h", &fd) > 0)
        r.logindFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return 0;
}

int OnPortalAnswer(sd_bus_message* reply, void* requests, sd_bus_error*) {
    Requests& r = *static_cast<Requests*>(requests);
    r.portalAnswered = true;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        Complain(r, kSessionBus, sd_bus_message_get_error(reply));
        return 0;
    }
    const char* handle = nullptr;
    if (sd_bus_message_read(reply, "o", &handle) > 0)
        r.portalRequest = handle;
    return 0;
}

// Closes without flushing: sd-bus's flush waits for the bus without a bound.
void Close(sd_bus*& bus) {
    bus = sd_bus_close_unref(bus);
}

// Takes whatever has come, without waiting. A bus that has gone is closed; its questions were
// answered with an error first.
void Serve(sd_bus*& bus) {
    if (bus == nullptr)
        return;
    int done = 0;
    while ((done = sd_bus_process(bus, nullptr)) > 0) {
    }
    if (done < 0)
        Close(bus);
}

// A private connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS, or the usual socket) or the
// session bus (DBUS_SESSION_BUS_ADDRESS, or $XDG_RUNTIME_DIR/bus; never a bus started for
// the occasion, which would outlive the session). Null where there is none: no bus to reach
// is the absence of the service, and nothing is told.
sd_bus* Open(Bus which) {
    sd_bus* bus = nullptr;
    // Both only connect a non-blocking socket and send the first words of authentication.
    if ((which == kSystemBus ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus)) < 0)
        return nullptr;
    return bus;
}

// Where the bus could not take the question, as where there is no bus, nothing is held.
void Ask(sd_bus*& bus, Requests& r, Bus which) {
    const int asked =
        which == kSystemBus
            ? sd_bus_call_method_async(bus, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit", OnLogindAnswer, &r,
                                       "ssss", "idle", "Voxmere", r.reason.c_str(), "block")
            : sd_bus_call_method_async(bus, nullptr, kPortal, "/org/freedesktop/portal/desktop",
                                       "org.freedesktop.portal.Inhibit", "Inhibit", OnPortalAnswer, &r,
                                       "sua{sv}", "", kPortalSuspend, 1, "reason", "s", r.reason.c_str());
    if (asked < 0)
        Close(bus);
}

// Sends what the session bus still holds for writing, for at most until the limit.
void Flush(sd_bus* bus, Clock::time_point limit) {
    uint64_t queued = 0;
    while (sd_bus_get_n_queued_write(bus, &queued) >= 0 && queued > 0 && sd_bus_process(bus, nullptr) >= 0) {
        const auto left = limit - Clock::now();
        if (left <= Clock::duration::zero() ||
            sd_bus_wait(bus, std::chrono::duration_cast<std::chrono::microseconds>(left).count()) < 0)
            return;
    }
}
}  // namespace

void BeginKeepAwake(const std::wstring& outputPath) {
    g_pRequests = new Requests;
    Requests& r = *g_pRequests;
    r.giveUp = Clock::now() + kAnswerLimit;
    r.reason = "Recording to " + PathFromWide(outputPath).filename().string();
    r.systemBus = Open(kSystemBus);
    if (r.systemBus != nullptr)
        Ask(r.systemBus, r, kSystemBus);
    r.sessionBus = Open(kSessionBus);
    if (r.sessionBus != nullptr)
        Ask(r.sessionBus, r, kSessionBus);
}

void ServeKeepAwake() {
    if (g_pRequests == nullptr)
        return;
    Requests& r = *g_pRequests;
    Serve(r.systemBus);
    Serve(r.sessionBus);
    if (r.logindAnswered)
        Close(r.systemBus);
    if (r.portalAnswered && r.portalRequest.empty())
        Close(r.sessionBus);  // nothing to hold it open for
    if (r.sessionBus == nullptr)
        r.portalRequest.clear();  // a bus that went took the inhibitor with it
    if (Clock::now() < r.giveUp)
        return;
    // Closing drops the question: an answer that comes later finds no one to hold it.
    if (r.systemBus != nullptr) {
        Tell(r, std::string(ServiceName(kSystemBus)) + " did not answer within a second");
        Close(r.systemBus);
    }
    if (r.sessionBus != nullptr && !r.portalAnswered) {
        Tell(r, std::string(ServiceName(kSessionBus)) + " did not answer within a second");
        Close(r.sessionBus);
    }
}

void EndKeepAwake() {
    if (g_pRequests == nullptr)
        return;
    Requests& r = *g_pRequests;
    r.ending = true;
    // An answer already come may carry the portal's handle to close.
    Serve(r.systemBus);
    Serve(r.sessionBus);
    Close(r.systemBus);
    if (r.sessionBus != nullptr && !r.portalRequest.empty() &&
        sd_bus_call_method_async(r.sessionBus, nullptr, kPortal, r.portalRequest.c_str(),
                                 "org.freedesktop.portal.Request", "Close", nullptr, nullptr, nullptr) >= 0) {
        // No answer is wanted, only that it leaves before the connection closes.
        Flush(r.sessionBus, Clock::now() + kEndLimit);
    }
    Close(r.sessionBus);
    if (r.logindFd >= 0)
        close(r.logindFd);
    g_pRequests = nullptr;
    delete &r;
}
