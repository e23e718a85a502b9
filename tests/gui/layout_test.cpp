// The window's geometry on the toolkit: no two controls overlap, none is clipped, all lie in
// the window, and labels sit level with their fields. CTest runs this also with GDK_SCALE=2
// and with GDK_DPI_SCALE=2 (fonts twice as large).
#include <gtk/gtk.h>

#include <algorithm>

#include "gui_test.h"
#include "scripted_wavein.h"
#include "session.h"

namespace {

// Where GTK drew the control, in the window's coordinates.
wxRect Allocation(wxWindow* control) {
    GtkAllocation allocation{};
    gtk_widget_get_allocation(control->GetHandle(), &allocation);
    return {allocation.x, allocation.y, allocation.width, allocation.height};
}

void ExpectNothingOverlapsOrClips(wxWindow* dialog) {
    const wxRect client(dialog->GetClientSize());
    std::vector<wxWindow*> controls(dialog->GetChildren().begin(), dialog->GetChildren().end());
    // GTK applies positions and sizes at its next layout pass, which on a busy machine may come
    // after the window has the focus: what it drew is judged once that pass has run.
    WaitFor([&] {
        return std::all_of(controls.begin(), controls.end(),
                           [](wxWindow* control) { return Allocation(control) == control->GetRect(); });
    });
    for (wxWindow* control : controls) {
        SCOPED_TRACE(control->GetLabel() + " " + control->GetName());
        const wxRect rect = control->GetRect();
        EXPECT_TRUE(client.Contains(rect)) << "outside the window";
        EXPECT_EQ(Allocation(control), rect) << "the toolkit drew it elsewhere";
        const wxSize needed = NeededSize(control);
        // A long path scrolls in the output box; everything else must show whole.
        if (control->GetId() != IDC_OUTPUT_FILE) {
            EXPECT_GE(rect.width, needed.x) << "clipped";
        }
        EXPECT_GE(rect.height, needed.y) << "clipped";
        for (wxWindow* other : controls) {
            if (other != control) {
                EXPECT_FALSE(rect.Intersects(other->GetRect())) << "overlaps " << other->GetLabel();
            }
        }
    }
}

}  // namespace

TEST_F(WindowTest, LayoutNeitherOverlapsNorClips) {
    // A device name longer than any the template was drawn for must still show whole.
    scripted::SetDevices({{L"Monitor of Built-in Audio Analog Stereo (USB Headset with a rather long name)"},
                          {L"Zeta Microphone"}});
    Open();
    ExpectNothingOverlapsOrClips(dlg_);

    // Labels are level with their fields: centred on them, within a pixel.
    for (wxWindow* control : dlg_->GetChildren()) {
        if (control->GetId() >= 0)
            continue;
        const wxRect label = control->GetRect();
        const wxWindow* field = nullptr;
        for (wxWindow* candidate : dlg_->GetChildren()) {
            const wxRect rect = candidate->GetRect();
            const bool level = rect.y <= label.y && rect.GetBottom() >= label.GetBottom();
            if (candidate->GetId() >= 0 && rect.x > label.x && level &&
                (field == nullptr || rect.x < field->GetRect().x)) {
                field = candidate;
            }
        }
        ASSERT_NE(field, nullptr) << control->GetLabel() << " is level with no field";
        const wxRect rect = field->GetRect();
        EXPECT_NEAR(label.y + label.height / 2.0, rect.y + rect.height / 2.0, 1.0) << control->GetLabel();
    }

    // The window is at least the template's 320 by 83 dialog units.
    const wxSize templateSize = dlg_->ConvertDialogToPixels(wxSize(320, 83));
    EXPECT_GE(dlg_->GetClientSize().x, templateSize.x);
    EXPECT_GE(dlg_->GetClientSize().y, templateSize.y);

    // Recording, the button reads "Stop Recording": it must fit as well.
    Click(IDOK);
    ASSERT_EQ(Caption(), kStopCaption);
    WaitFor([] { return false; }, std::chrono::milliseconds(200));
    ExpectNothingOverlapsOrClips(dlg_);
}
