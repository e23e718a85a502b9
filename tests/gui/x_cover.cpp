// Kept apart: Xlib's macros (None, Bool, Status) collide with GoogleTest's and wx's names.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <chrono>
#include <thread>

void CoverBriefly(int x, int y, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window cover =
        XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect, &attributes);
    XMapRaised(display, cover);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    XDestroyWindow(display, cover);
    XSync(display, False);
    XCloseDisplay(display);
}

void RequestClose(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = window;
    request.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    request.xclient.format = 32;
    request.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    request.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &request);
    XSync(display, False);
    XCloseDisplay(display);
}

unsigned long XWindowOf(void* topLevelWidget) {
    return gdk_x11_window_get_xid(gtk_widget_get_window(static_cast<GtkWidget*>(topLevelWidget)));
}
