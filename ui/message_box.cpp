#include "message_box.h"

#include <wx/msgdlg.h>
#include <wx/window.h>

#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>

int ShowMessageBox(wxWindow* owner, const wxString& text, const wxString& caption, long style) {
    UINT type = (style & wxYES_NO) == wxYES_NO ? MB_YESNO : MB_OK;
    if ((style & wxNO_DEFAULT) != 0 && type == MB_YESNO) {
        type |= MB_DEFBUTTON2;
    }
    if ((style & wxICON_WARNING) != 0) {
        type |= MB_ICONWARNING;
    } else if ((style & wxICON_ERROR) != 0) {
        type |= MB_ICONERROR;
    } else if ((style & wxICON_INFORMATION) != 0) {
        type |= MB_ICONINFORMATION;
    }
    const HWND window = owner != nullptr ? static_cast<HWND>(owner->GetHandle()) : nullptr;
    switch (::MessageBoxW(window, text.wc_str(), caption.wc_str(), type)) {
        case IDYES:
            return wxYES;
        case IDNO:
            return wxNO;
        default:  // OK, or the box could not be shown: nothing was agreed to
            return (type & MB_YESNO) != 0 ? wxNO : wxOK;
    }
}

#else

int ShowMessageBox(wxWindow* owner, const wxString& text, const wxString& caption, long style) {
    return wxMessageBox(text, caption, style, owner);
}

#endif
