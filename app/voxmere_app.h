// The application object: starts the window and ends with it.
#pragma once

#include <wx/app.h>

class CVoxmereApp : public wxApp {
public:
    bool OnInit() override;
    int OnRun() override;

private:
    bool InitInstance();
};

wxDECLARE_APP(CVoxmereApp);

// The one application object. wx creates it in its entry point, before any of our code runs,
// and destroys it when the entry point returns; a global object of our own could not be
// handed to wx, which deletes the object it runs.
#define theApp (wxGetApp())
