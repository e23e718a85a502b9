// Windows: the window as the system's dialog manager makes a window of its template. wx
// converts dialog units with its own default font, and its drop-down lists take the height
// they are given as the height of their closed field; neither is what the dialog manager does.
//
// What the dialog manager makes of the template's font ("MS Shell Dlg", 8 points, with
// DS_SHELLFONT) is asked of the dialog manager itself, through a hidden dialog built from a
// template with that font: its base units, the font it chose, and the closed height of a
// drop-down list in it. Each coordinate of a control's rectangle is then converted on its
// own, rounded as MulDiv rounds, as the manager converts its templates' controls.
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/font.h>
#include <wx/fontutil.h>
#include <wx/msw/wrapwin.h>
#include <wx/xml/xml.h>
#include <wx/xrc/xmlres.h>

#include <optional>
#include <vector>

#include "template_realize.h"

namespace {

const wchar_t kTemplateFace[] = L"MS Shell Dlg";
constexpr WORD kTemplatePoints = 8;
constexpr DWORD kTemplateStyle = WS_POPUP | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS;
constexpr int kListId = 1;

struct DialogManagerMetrics {
    int baseX = 0;  // pixels in 4 horizontal dialog units
    int baseY = 0;  // pixels in 8 vertical dialog units
    LOGFONTW font{};
    int listFieldHeight = 0;   // the field of a closed drop-down list, as CB_GETITEMHEIGHT gives it
    int listClosedHeight = 0;  // the closed list's window
};

int WindowHeight(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

// An extended dialog template (DLGTEMPLATEEX) with the template's font and one drop-down list,
// as the words the dialog manager reads.
std::vector<WORD> ProbeTemplate() {
    std::vector<WORD> words;
    auto word = [&](unsigned value) { words.push_back(static_cast<WORD>(value)); };
    auto dword = [&](DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    };
    auto text = [&](const wchar_t* chars) {
        for (; *chars != L'\0'; ++chars) {
            word(*chars);
        }
        word(0);
    };
    word(1);       // version
    word(0xFFFF);  // extended template
    dword(0);      // help id
    dword(0);      // extended style
    dword(kTemplateStyle);
    word(1);  // controls
    for (int coordinate : {0, 0, 320, 83}) {
        word(coordinate);
    }
    word(0);    // no menu
    word(0);    // the dialog class
    text(L"");  // no title
    word(kTemplatePoints);
    word(FW_NORMAL);
    word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // not italic; character set
    text(kTemplateFace);
    if (words.size() % 2 != 0) {  // each control starts on a DWORD
        word(0);
    }
    dword(0);  // help id
    dword(0);  // extended style
    dword(WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST);
    for (int coordinate : {0, 0, 48, 30}) {
        word(coordinate);
    }
    dword(kListId);
    word(0xFFFF);  // a predefined class:
    word(0x0085);  // the combo box
    text(L"");
    word(0);  // no creation data
    return words;
}

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::optional<DialogManagerMetrics> AskDialogManager() {
    const std::vector<WORD> words = ProbeTemplate();
    const HWND probe = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                                    reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                                    IgnoreMessages, 0);
    if (probe == nullptr) {
        return std::nullopt;
    }
    DialogManagerMetrics metrics;
    RECT units{0, 0, 4, 8};
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(probe, WM_GETFONT, 0, 0));
    const bool read = ::MapDialogRect(probe, &units) && font != nullptr &&
                      ::GetObjectW(font, sizeof(metrics.font), &metrics.font) == sizeof(metrics.font);
    metrics.baseX = units.right;
    metrics.baseY = units.bottom;
    metrics.listFieldHeight =
        static_cast<int>(::SendDlgItemMessageW(probe, kListId, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    metrics.listClosedHeight = WindowHeight(::GetDlgItem(probe, kListId));
    ::DestroyWindow(probe);  // also deletes the font it made
    if (!read || metrics.baseX <= 0 || metrics.baseY <= 0 || metrics.listFieldHeight <= 0 ||
        metrics.listClosedHeight <= 0) {
        return std::nullopt;
    }
    return metrics;
}

// "x,yd": a pair in dialog units, as the template writes positions and sizes.
std::optional<wxSize> Pair(const wxXmlNode* object, const char* name) {
    for (const wxXmlNode* node = object->GetChildren(); node != nullptr; node = node->GetNext()) {
        long first = 0;
        long second = 0;
        wxString units;
        if (node->GetName() == name && node->GetNodeContent().EndsWith("d", &units) &&
            units.BeforeFirst(',').ToLong(&first) && units.AfterFirst(',').ToLong(&second)) {
            return wxSize(static_cast<int>(first), static_cast<int>(second));
        }
    }
    return std::nullopt;
}

struct TemplateControl {
    wxRect units;
    bool named;  // a control the program addresses; the others (labels) have the id -1
};

// Each control in template order; none when the template does not give every one a position
// and a size in dialog units.
std::optional<std::vector<TemplateControl>> TemplateControls(const wxXmlNode* dialog) {
    std::vector<TemplateControl> controls;
    for (const wxXmlNode* node = dialog->GetChildren(); node != nullptr; node = node->GetNext()) {
        if (node->GetName() != "object") {
            continue;
        }
        const std::optional<wxSize> pos = Pair(node, "pos");
        const std::optional<wxSize> size = Pair(node, "size");
        if (!pos || !size) {
            return std::nullopt;
        }
        controls.push_back({{wxPoint(pos->x, pos->y), *size}, node->HasAttribute("name")});
    }
    return controls;
}

}  // namespace

void RealizeTemplate(wxDialog* dialog) {
    // The template's styles: the shell font's, which tools read (the dialog manager itself
    // reads them only when it makes a window), and not WS_CLIPCHILDREN, which wx adds; and its
    // extended style WS_EX_APPWINDOW, the window's own task-bar button, which an unowned dialog
    // lacks without it.
    const auto window = static_cast<HWND>(dialog->GetHandle());
    ::SetWindowLongPtrW(
        window, GWL_STYLE,
        (::GetWindowLongPtrW(window, GWL_STYLE) | DS_SETFONT | DS_FIXEDSYS) & ~WS_CLIPCHILDREN);
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_APPWINDOW);

    const wxXmlNode* node = wxXmlResource::Get()->GetResourceNode(dialog->GetName());
    const std::optional<wxSize> client = node != nullptr ? Pair(node, "size") : std::nullopt;
    const std::optional<std::vector<TemplateControl>> rects =
        node != nullptr ? TemplateControls(node) : std::nullopt;
    const std::vector<wxWindow*> controls(dialog->GetChildren().begin(), dialog->GetChildren().end());
    const std::optional<DialogManagerMetrics> metrics = AskDialogManager();
    // Without these the window keeps wx's conversion of the template: usable, only not exact.
    // (The controls are the template's objects in its order: nothing reorders wx's list.)
    if (!client || !rects || rects->size() != controls.size() || !metrics) {
        return;
    }

    const wxFont font(wxNativeFontInfo(metrics->font, dialog));
    dialog->SetFont(font);
    for (wxWindow* control : controls) {
        control->SetFont(font);
    }
    auto pixels = [&](const wxRect& units) {
        return wxRect(::MulDiv(units.x, metrics->baseX, 4), ::MulDiv(units.y, metrics->baseY, 8),
                      ::MulDiv(units.width, metrics->baseX, 4), ::MulDiv(units.height, metrics->baseY, 8));
    };
    for (size_t i = 0; i < controls.size(); ++i) {
        const wxRect at = pixels((*rects)[i].units);
        if (!(*rects)[i].named) {  // wx numbers them itself; it finds them by handle, not by id
            ::SetWindowLongPtrW(static_cast<HWND>(controls[i]->GetHandle()), GWLP_ID, -1);
        }
        auto* list = wxDynamicCast(controls[i], wxChoice);
        if (list == nullptr) {
            controls[i]->SetSize(at);
            continue;
        }
        // A drop-down list's template height is that of the list dropped open; the closed field
        // keeps the system's height for the font. wx set the field to the height it was created
        // with, and sets it again on every resize unless the height asked for is its best
        // height: so it is placed through wx at that height, its field given back the system's
        // height, and the dropped height set on the control itself. (wx resizes a list whose
        // entries change; the window changes none after its initialisation.) CB_SETITEMHEIGHT
        // and CB_GETITEMHEIGHT need not count the field alike (Wine's differ by two pixels), so
        // the closed height is measured against the probe's and the field corrected once.
        list->SetSize(at.x, at.y, at.width, list->GetBestSize().y);
        const auto handle = static_cast<HWND>(list->GetHandle());
        ::SendMessageW(handle, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), metrics->listFieldHeight);
        if (const int off = metrics->listClosedHeight - WindowHeight(handle); off != 0) {
            ::SendMessageW(handle, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), metrics->listFieldHeight + off);
        }
        ::SetWindowPos(handle, nullptr, at.x, at.y, at.width, at.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    dialog->SetClientSize(pixels(wxRect(*client)).GetSize());
}
