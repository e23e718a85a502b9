#include <gtk/gtk.h>
#include <wx/toplevel.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "gtk_start.h"

void StartGtk(char* program) {
    // The desktop matches a window to its desktop entry by the X11 WM_CLASS (name and class)
    // or the Wayland app_id; on Wayland a window without that match shows no name and a
    // generic icon. GTK takes the name and the app_id from the program name, which it would
    // otherwise make from argv[0] ("voxmere"). The name a screen reader announces would
    // follow the program name too, and stays the human one.
    g_set_prgname(VOXMERE_APP_ID);
    g_set_application_name("Voxmere");

    // Voxmere draws nothing with OpenGL, but the first GTK program on an X display probes it
    // while opening the display, to choose its visuals: that loads a GL driver (with LLVM for
    // a software one), about half the program's memory and part of its start-up. GDK's own
    // switch turns the probe off, unless the person's environment already says what GL should
    // do. The setting is read once, at the open below, and is not handed on to what the
    // program starts later (the browser for the manual).
    const bool glChosen = std::getenv("GDK_GL") != nullptr;
    if (!glChosen)
        setenv("GDK_GL", "disable", 0);

    // GDK alone opens the display: a failed open leaves it able to try again, and once one
    // succeeded, wx's start of GTK finds the display open. GTK itself is left to wx, which
    // sets it up its own way (the locale, for one) before starting it. Only an X server
    // resets, so with no X display named the first answer stands.
    const char* x = std::getenv("DISPLAY");
    int attemptsLeft = x != nullptr && *x != '\0' ? 10 : 1;
    char* arguments[] = {program, nullptr};
    for (;;) {
        int count = 1;
        char** argv = arguments;
        if (gdk_init_check(&count, &argv) || --attemptsLeft == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!glChosen)
        unsetenv("GDK_GL");
}

void NameWindowForDesktop(wxTopLevelWindow& window) {
    // wx sets the program class to its display name ("Voxmere") each time it creates a
    // top-level window, and a GTK window keeps the class it was created with. So this window
    // gets the class of its own (GTK still takes it before the window is first shown), and the
    // windows GTK creates later (messages, the save dialog) get it from the program class.
    gdk_set_program_class(VOXMERE_APP_ID);
    // Deprecated for the program class, which comes too late for this window.
    // clang-format off
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_window_set_wmclass(GTK_WINDOW(window.GetHandle()), VOXMERE_APP_ID, VOXMERE_APP_ID);
    G_GNUC_END_IGNORE_DEPRECATIONS
    // clang-format on
}
