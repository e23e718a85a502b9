// GTK: the toolkit's controls need other sizes than the template's rectangles give them
// (fonts, themes, a scaled display); the fitting itself is FitTemplate's.
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <vector>

#include "resource.h"
#include "session.h"
#include "template_fit.h"
#include "template_realize.h"
#include "toolkit.h"

namespace {
// Geometry, in dialog units. Template tops this close together form one row; controls that
// grew into each other are kept this far apart; the window keeps this margin around them.
constexpr int kRowToleranceDu = 6;
constexpr int kGapDu = 2;
constexpr int kEdgeDu = 7;
}  // namespace

// The Start/Stop button is measured with every caption it shows.
void RealizeTemplate(wxDialog* dialog) {
    const std::vector<wxWindow*> windows(dialog->GetChildren().begin(), dialog->GetChildren().end());
    std::vector<TemplateControl> controls;
    for (wxWindow* control : windows) {
        wxSize need = NaturalSize(control);
        if (control->GetId() == IDOK) {
            auto* button = static_cast<wxButton*>(control);
            const wxString shown = button->GetLabel();
            for (const wchar_t* caption : {kStartCaption, kStopCaption, kStoppingCaption}) {
                button->SetLabel(caption);
                need.IncTo(NaturalSize(button));
            }
            button->SetLabel(shown);
        }
        const TemplateKind kind = wxDynamicCast(control, wxStaticText) != nullptr ? TemplateKind::Label
                                  : wxDynamicCast(control, wxTextCtrl) != nullptr ? TemplateKind::TextBox
                                  : wxDynamicCast(control, wxChoice) != nullptr   ? TemplateKind::List
                                                                                  : TemplateKind::Control;
        controls.push_back({control->GetRect(), need, kind});
    }
    const TemplateMetrics metrics{dialog->ConvertDialogToPixels(wxSize(0, kRowToleranceDu)).y,
                                  dialog->ConvertDialogToPixels(wxSize(kGapDu, kGapDu)),
                                  dialog->ConvertDialogToPixels(wxSize(kEdgeDu, kEdgeDu)),
                                  dialog->GetClientSize()};
    const TemplateFit fit = FitTemplate(controls, metrics);
    for (size_t i = 0; i < windows.size(); ++i) {
        // The template's size is also each control's minimum; the toolkit's closed list is
        // lower than that.
        windows[i]->SetMinSize(fit.rects[i].GetSize());
        windows[i]->SetSize(fit.rects[i]);
    }
    dialog->SetClientSize(fit.client);
}
