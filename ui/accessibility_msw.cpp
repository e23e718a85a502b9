// On Windows a screen reader names a field after the static text that comes before it in the
// dialog's z-order. In this template each label follows its field, so the fields would be
// named by their neighbours; moving each label just before its field fixes that without
// changing the tab order, which only the focusable controls make up. The " ?" button's
// description needs an IAccessible of its own (MSAA), which this build of wxWidgets leaves
// out: there the button is announced by its caption alone.
#include "accessibility.h"

#include <wx/window.h>

void DescribeToAssistiveTechnology(wxWindow* dialog) {
    for (const LabelledField& pair : LabelledFields(dialog))
        pair.label->MoveBeforeInTabOrder(pair.field);
}
