#include "voxmere_app.h"

#include <cstdlib>

#include "session.h"
#include "voxmere_dlg.h"
#ifndef _WIN32
#include "shutdown_signals.h"
#endif

wxIMPLEMENT_APP_NO_MAIN(CVoxmereApp);

// Arguments are ignored: neither wx nor GTK sees them, so none can change the start, make it
// fail or print a usage text.
int main(int, char** argv) {
    char fallbackName[] = "voxmere";  // a process may be started without even its own name
    char* programOnly[] = {argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
    int count = 1;
    return wxEntry(count, programOnly);
}

// wxApp::OnInit is not called: all it would add is command-line parsing.
bool CVoxmereApp::OnInit() {
    InitInstance();
    // true lets wx go on to OnRun and OnExit; false would make the process exit with 255.
    return true;
}

// The window's modal loop was the application's only one; once it has ended the process
// ends, with status 0.
int CVoxmereApp::OnRun() {
    return 0;
}

bool CVoxmereApp::InitInstance() {
    // Names where settings would be kept; Voxmere reads and writes none.
    SetVendorName("Local AppWizard-Generated Applications");
    CVoxmereDlg dlg;
    SetTopWindow(&dlg);
#ifndef _WIN32
    // POSIX tells of a logout, a shutdown or a closed terminal by signal.
    ShutdownSignalWatch watch(dlg);
#endif
    dlg.ShowModal();
    // Closed while a stop was still finishing: the worker is stuck in a device call or in
    // the file's close. Waiting could take for ever, and a normal exit would free the
    // engine's state and the window under it; every chunk is on disk already, so the process
    // ends here, running no destructor.
    if (g_hRecordThread.load() != nullptr) {
        std::_Exit(0);
    }
    return false;
}
