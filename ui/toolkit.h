// What the main window needs of the native toolkit beyond wx's portable surface.
#pragma once

#include <wx/gdicmn.h>

class wxWindow;

// The size the native control needs to show its current caption or entries whole, whatever
// size it has been given. Unlike GetBestSize it neither includes wx's minimum button size
// nor the size set from the template.
wxSize NaturalSize(wxWindow* control);
