// On Windows a screen reader names a field after the static text that comes just before it in
// the window's z-order. In this template each label follows its field, so the fields would be
// named by their neighbours, or not at all. Each label is therefore moved just before its
// field in the windows' own z-order (wx's list of children, which is not what the system
// reads, stays in template order). The tab order does not change: the dialog manager walks
// the z-order but stops only at tab stops, and no label is one. The " ?" button's
// description needs an IAccessible of its own (MSAA), which this build of wxWidgets leaves
// out: there the button is announced by its caption alone.
#include <wx/msw/wrapwin.h>
#include <wx/window.h>

#include "accessibility.h"

void DescribeToAssistiveTechnology(wxWindow* dialog) {
    for (const LabelledField& pair : LabelledFields(dialog)) {
        const auto label = static_cast<HWND>(pair.label->GetHandle());
        const HWND above = ::GetWindow(static_cast<HWND>(pair.field->GetHandle()), GW_HWNDPREV);
        if (above != label) {
            // Placed after the window above the field, which puts it right before the field.
            ::SetWindowPos(label, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        }
    }
}
