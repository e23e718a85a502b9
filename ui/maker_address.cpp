#include "maker_address.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

wxString MakerAddress() {
    const wxString site = VOXMERE_WEBSITE_URL;
    if (!site.empty()) {
        return site;
    }
    // The executable's real path (symbolic links resolved), so the manual is found beside the
    // installed program, not beside a link to it. With its drive: without one, a program on
    // C: started from a folder on another drive would name that drive.
    const wxFileName program(wxStandardPaths::Get().GetExecutablePath());
    wxFileName manual(program.GetPath(wxPATH_GET_VOLUME | wxPATH_GET_SEPARATOR) + VOXMERE_MANUAL_FROM_BIN);
    manual.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
    return wxFileName::FileNameToURL(manual);
}
