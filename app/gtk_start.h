// What the program tells GTK itself, around wx's own start of it: the name the desktop knows
// the window by, and a display that is briefly unavailable.
#pragma once

class wxTopLevelWindow;

// Before wxEntry. Names the program with the desktop entry's id (the X11 WM_CLASS name and
// the Wayland app_id) and opens the display, with program as the only argument. An X server
// refuses the clients that connect while it resets, which it does whenever its last client
// has gone, so a display that cannot be opened is tried again for a second. If it still
// cannot, wx's start fails on it and says so.
void StartGtk(char* program);

// After the window is created and before it is shown: its X11 class, the desktop entry's id.
void NameWindowForDesktop(wxTopLevelWindow& window);
