// On Windows a screen reader names a field after the static text that comes before it in the
// dialog's z-order, which is also its tab order; in this template the labels follow their
// fields, and the tab order must not change. Telling the reader otherwise needs an
// IAccessible per field (MSAA), which this build of wxWidgets leaves out: not done yet, so
// fields are announced by their kind and contents alone.
#include "accessibility.h"

void DescribeToAssistiveTechnology(wxWindow*) {}
