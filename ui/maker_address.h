// The address the Website button opens and the About message names.
#pragma once

#include <wx/string.h>

// The maker's web site when the build names one. Otherwise the manual installed with the
// program, as a file:// address found from the executable's own location (so it holds for
// any install prefix and for the build tree), never an address that leads nowhere.
wxString MakerAddress();
