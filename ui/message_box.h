// The window's messages: the system's own message box where the system has one.
#pragma once

#include <wx/string.h>

class wxWindow;

// Shows text under caption in a modal box owned by owner and returns the button pressed
// (wxOK, wxYES or wxNO). style holds the buttons (wxOK, or wxYES_NO with wxNO_DEFAULT for a
// question whose safe answer is No) and one icon (wxICON_INFORMATION or wxICON_WARNING).
// On Windows this is MessageBoxW: the text is shown whole, as given, where wx would show a
// task dialog and make a heading of the text's first paragraph.
int ShowMessageBox(wxWindow* owner, const wxString& text, const wxString& caption, long style);
