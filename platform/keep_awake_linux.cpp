// logind's idle inhibitor and the desktop portal's suspend inhibitor, through GDBus.
//
// Everything is asynchronous on a main context of the session's own, which the worker's polls
// iterate: nothing here waits for a bus, so neither the start of capture nor the stop waits
// for one. The connections are private ones, never GLib's shared bus singletons: closing
// them is what lets go, and the rest of the process must not find them.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "keep_awake.h"
#include "text_conversion.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kAnswerLimit = std::chrono::seconds(1);
constexpr guint kEndLimitMs = 1000;

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr guint32 kPortalSuspend = 4;  // the portal's flag for the session or computer suspending

enum Bus { kSystemBus, kSessionBus };

// One session's requests; none exists while no session records.
struct Requests {
    GMainContext* context = nullptr;  // where the answers wait for the worker's next poll
    GCancellable* cancel = nullptr;   // drops what is still asked: on giving up, and at the end
    Clock::time_point giveUp;
    int pending = 0;  // connections, calls and closes not yet answered
    bool gaveUp = false;
    bool ending = false;
    bool complained = false;
    std::string reason;
    int logindFd = -1;                      // closing it lets logind's inhibitor go
    GDBusConnection* sessionBus = nullptr;  // the portal's inhibitor lasts while it is open...
    gchar* portalRequest = nullptr;         // ...or until Close on this handle
};
// The running session's; an abandoned one (see EndKeepAwake) is no longer here, which is why
// every answer carries its own.
Requests* g_pRequests = nullptr;

const char* ServiceName(Bus bus) {
    return bus == kSystemBus ? "logind" : "the desktop portal";
}

// A system without logind or a desktop without the portal holds nothing off, and that is no
// fault worth a word; a service that refuses, or a bus that does not answer, is told once.
void Complain(Requests& r, Bus bus, const GError* error) {
    if (r.ending || r.complained)
        return;
    std::string why;
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        why = std::string(ServiceName(bus)) + " did not answer within a second";
    } else if (error->domain == G_DBUS_ERROR &&
               (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
                error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER || error->code == G_DBUS_ERROR_UNKNOWN_METHOD ||
                error->code == G_DBUS_ERROR_UNKNOWN_INTERFACE ||
                error->code == G_DBUS_ERROR_UNKNOWN_OBJECT)) {
        return;
    } else {
        GError* plain = g_error_copy(error);
        g_dbus_error_strip_remote_error(plain);
        why = std::string(ServiceName(bus)) + " refused: " + plain->message;
        g_error_free(plain);
    }
    r.complained = true;
    std::fprintf(stderr, "Voxmere: the computer may fall asleep during this recording: %s.\n", why.c_str());
}

void OnClosed(GObject* source, GAsyncResult* result, gpointer requests) {
    g_dbus_connection_close_finish(G_DBUS_CONNECTION(source), result, nullptr);
    --static_cast<Requests*>(requests)->pending;
}

void OnLogindAnswer(GObject* source, GAsyncResult* result, gpointer requests) {
    Requests& r = *static_cast<Requests*>(requests);
    --r.pending;
    GUnixFDList* fds = nullptr;
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &fds, result, &error);
    if (reply != nullptr) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        // A duplicate, close-on-exec: a program started later (the browser) cannot keep it.
        r.logindFd = g_unix_fd_list_get(fds, index, &error);
        g_variant_unref(reply);
        g_object_unref(fds);
    }
    if (error != nullptr) {
        Complain(r, kSystemBus, error);
        g_error_free(error);
    }
    // The descriptor holds the inhibitor by itself: the system bus connection, whose last
    // reference the call held, closes now.
}

void OnPortalAnswer(GObject* source, GAsyncResult* result, gpointer requests) {
    Requests& r = *static_cast<Requests*>(requests);
    --r.pending;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply != nullptr) {
        g_variant_get(reply, "(o)", &r.portalRequest);
        g_variant_unref(reply);
        return;
    }
    Complain(r, kSessionBus, error);
    g_error_free(error);
    g_clear_object(&r.sessionBus);  // nothing to hold it open for
}

void OnConnected(Requests& r, Bus bus, GAsyncResult* result) {
    --r.pending;
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
    if (connection == nullptr) {
        // No bus to reach is the absence of the service; only giving up is told.
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            Complain(r, bus, error);
        g_error_free(error);
        return;
    }
    ++r.pending;
    if (bus == kSystemBus) {
        g_dbus_connection_call_with_unix_fd_list(
            connection, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
            "Inhibit", g_variant_new("(ssss)", "idle", "Voxmere", r.reason.c_str(), "block"),
            G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, r.cancel, OnLogindAnswer, &r);
        g_object_unref(connection);
        return;
    }
    r.sessionBus = connection;
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(r.reason.c_str()));
    g_dbus_connection_call(connection, kPortal, "/org/freedesktop/portal/desktop",
                           "org.freedesktop.portal.Inhibit", "Inhibit",
                           g_variant_new("(sua{sv})", "", kPortalSuspend, &options), G_VARIANT_TYPE("(o)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, r.cancel, OnPortalAnswer, &r);
}

void OnSystemBus(GObject*, GAsyncResult* result, gpointer requests) {
    OnConnected(*static_cast<Requests*>(requests), kSystemBus, result);
}

void OnSessionBus(GObject*, GAsyncResult* result, gpointer requests) {
    OnConnected(*static_cast<Requests*>(requests), kSessionBus, result);
}

// The session bus's address, or "" when there is none. GLib would start a bus of its own
// through dbus-launch where the variable is missing: a daemon that would outlive the session.
std::string SessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0')
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0')
        return "";
    gchar* escaped = g_dbus_address_escape_value((std::string(runtime) + "/bus").c_str());  // systemd's
    const std::string result = std::string("unix:path=") + escaped;
    g_free(escaped);
    return result;
}

// False for a bus whose socket is not there: nothing is asked of GLib then, which would
// otherwise start a thread only to find that out.
bool MayBeThere(const std::string& address) {
    constexpr char kPath[] = "unix:path=";
    if (address.rfind(kPath, 0) != 0 || address.find_first_of(",;%") != std::string::npos)
        return !address.empty();  // another kind of address, or several: only trying tells
    struct stat status = {};
    return stat(address.c_str() + sizeof(kPath) - 1, &status) == 0 && S_ISSOCK(status.st_mode);
}

void Connect(Requests& r, const std::string& address, GAsyncReadyCallback then) {
    if (!MayBeThere(address))
        return;
    ++r.pending;
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, r.cancel, then, &r);
}

// Answers delivered to the session's context run with it as the thread's default, so the
// calls they make answer there too, never on the toolkit's context.
class OnSessionContext {
public:
    explicit OnSessionContext(Requests& r) : context_(r.context) {
        g_main_context_push_thread_default(context_);
    }
    ~OnSessionContext() { g_main_context_pop_thread_default(context_); }
    OnSessionContext(const OnSessionContext&) = delete;
    OnSessionContext& operator=(const OnSessionContext&) = delete;

private:
    GMainContext* context_;
};
}  // namespace

void BeginKeepAwake(const std::wstring& outputPath) {
    g_pRequests = new Requests;
    Requests& r = *g_pRequests;
    r.context = g_main_context_new();
    r.cancel = g_cancellable_new();
    r.giveUp = Clock::now() + kAnswerLimit;
    r.reason = "Recording to " + PathFromWide(outputPath).filename().string();
    OnSessionContext on(r);
    gchar* system = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    Connect(r, system != nullptr ? system : "", OnSystemBus);
    g_free(system);
    Connect(r, SessionBusAddress(), OnSessionBus);
}

void ServeKeepAwake() {
    if (g_pRequests == nullptr)
        return;
    Requests& r = *g_pRequests;
    OnSessionContext on(r);
    while (g_main_context_iteration(r.context, FALSE)) {
    }
    if (r.pending > 0 && !r.gaveUp && Clock::now() >= r.giveUp) {
        r.gaveUp = true;
        g_cancellable_cancel(r.cancel);  // the answers say so at the next poll
    }
}

void EndKeepAwake() {
    if (g_pRequests == nullptr)
        return;
    Requests& r = *g_pRequests;
    {
        OnSessionContext on(r);
        r.ending = true;
        g_cancellable_cancel(r.cancel);
        if (r.sessionBus != nullptr) {
            if (r.portalRequest != nullptr) {
                // No answer is wanted; the close below sends it first.
                g_dbus_connection_call(r.sessionBus, kPortal, r.portalRequest,
                                       "org.freedesktop.portal.Request", "Close", nullptr, nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
            }
            ++r.pending;
            g_dbus_connection_close(r.sessionBus, nullptr, OnClosed, &r);
        }
        // Cancelled requests and a local close answer at once; the limit only guards
        // against GLib itself stalling.
        bool expired = false;
        GSource* limit = g_timeout_source_new(kEndLimitMs);
        g_source_set_callback(
            limit,
            [](gpointer flag) {
                *static_cast<bool*>(flag) = true;
                return G_SOURCE_REMOVE;
            },
            &expired, nullptr);
        g_source_attach(limit, r.context);
        while (r.pending > 0 && !expired)
            g_main_context_iteration(r.context, TRUE);
        g_source_destroy(limit);
        g_source_unref(limit);
    }
    // After the wait: an answer taken during it may have brought the descriptor.
    if (r.logindFd >= 0)
        close(r.logindFd);
    g_pRequests = nullptr;
    // Abandoned rather than freed if GLib never answered: nothing iterates its context again,
    // so no answer can reach freed state.
    if (r.pending > 0)
        return;
    g_clear_object(&r.sessionBus);
    g_free(r.portalRequest);
    g_object_unref(r.cancel);
    g_main_context_unref(r.context);
    delete &r;
}
