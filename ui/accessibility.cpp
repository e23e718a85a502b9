#include "accessibility.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/window.h>

#include <cstdlib>

const char kQuickHelpDescription[] = "Help on choosing the recording source";

namespace {
// Template tops this close together form one row (the window's layout uses the same).
constexpr int kRowToleranceDu = 6;
}  // namespace

std::vector<LabelledField> LabelledFields(const wxWindow* dialog) {
    const int rowTolerance = dialog->ConvertDialogToPixels(wxSize(0, kRowToleranceDu)).y;
    std::vector<LabelledField> pairs;
    for (wxWindow* label : dialog->GetChildren()) {
        if (wxDynamicCast(label, wxStaticText) == nullptr) {
            continue;
        }
        const wxRect at = label->GetRect();
        wxWindow* field = nullptr;
        for (wxWindow* candidate : dialog->GetChildren()) {
            const wxRect rect = candidate->GetRect();
            if (wxDynamicCast(candidate, wxStaticText) != nullptr ||
                wxDynamicCast(candidate, wxButton) != nullptr || rect.x <= at.x ||
                std::abs(rect.y - at.y) > rowTolerance) {
                continue;
            }
            if (field == nullptr || rect.x < field->GetRect().x) {
                field = candidate;
            }
        }
        if (field == nullptr) {
            continue;
        }
        wxString name = label->GetLabel();
        name.Trim();
        if (name.EndsWith(":")) {
            name.RemoveLast();
            name.Trim();
        }
        pairs.push_back({label, field, name});
    }
    return pairs;
}
