// Making the window what its template (res/voxmere.xrc) says, as far as the toolkit leaves
// that to the program. Each toolkit has its own implementation.
#pragma once

class wxDialog;

// Once, after the window's initialisation has filled its lists (a Windows drop-down list
// resizes its dropped part when entries are added) and before the window is first shown.
// Windows: the dialog manager's own font, rectangles and extended style for the template.
// GTK: the template fitted to the sizes the toolkit's controls need.
void RealizeTemplate(wxDialog* dialog);
