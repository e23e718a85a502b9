// What assistive technology (a screen reader) is told of the main window beyond what each
// control says of itself: which label names which field, and what the " ?" button is for.
// Nothing visible changes: no caption, no tab order, no key.
#pragma once

#include <wx/string.h>

#include <vector>

class wxWindow;

// Once the window's controls exist and before anything moves them: the pairing reads the
// template's layout. Each toolkit has its own implementation.
void DescribeToAssistiveTechnology(wxWindow* dialog);

// The toolkit-neutral part, for those implementations.

// A label and the field it names, with the name a screen reader is to say for the field:
// the label's text without the colon that ends it ("Bit Rate :" names the field "Bit Rate").
struct LabelledField {
    wxWindow* label;
    wxWindow* field;
    wxString name;
};

// Every label with the field it names: of the controls that are not buttons (a button is
// named by its caption), the nearest one to the label's right whose top is within a row of
// the label's. A label with no such field is left out.
std::vector<LabelledField> LabelledFields(const wxWindow* dialog);

extern const char kQuickHelpDescription[];
