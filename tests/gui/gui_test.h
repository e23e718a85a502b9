// Shared by the in-process window tests: a fresh engine over the scripted capture backend and
// the counting fake encoder per test, the window, real key presses, and message boxes caught
// with wxTEST_DIALOG (a failed expectation is a test failure).
#pragma once

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fake_encoder.h"
#include "resource.h"
#include "test_files.h"
#include "voxmere_dlg.h"

class GTestModalHook : public wxTestingModalHook {
public:
    using wxTestingModalHook::wxTestingModalHook;

protected:
    void ReportFailure(const wxString& message) override { ADD_FAILURE() << message; }
};
#undef wxTEST_DIALOG_HOOK_CLASS
#define wxTEST_DIALOG_HOOK_CLASS GTestModalHook

// What a message box showed.
struct Shown {
    wxString message;
    wxString caption;
    long style = 0;
    int count = 0;
    long Icon() const { return style & wxICON_MASK; }
};

// Expects a message box, records it, optionally runs check while it is up (the window's state
// at that moment), and answers it.
class ExpectMessage : public wxExpectModalBase<wxMessageDialog, ExpectMessage> {
public:
    ExpectMessage(int answer, Shown* shown, std::function<void()> check = {})
        : answer_(answer), shown_(shown), check_(std::move(check)) {}

protected:
    int OnInvoked(wxMessageDialog* dialog) const override {
        shown_->message = dialog->GetMessage();
        shown_->caption = dialog->GetCaption();
        shown_->style = dialog->GetMessageDialogStyle();
        ++shown_->count;
        if (check_) {
            check_();
        }
        switch (answer_) {  // wxMessageBox's answers, as the dialog's own ids
            case wxYES:
                return wxID_YES;
            case wxNO:
                return wxID_NO;
            case wxCANCEL:
                return wxID_CANCEL;
            default:
                return wxID_OK;
        }
    }

private:
    int answer_;
    Shown* shown_;
    std::function<void()> check_;
};

// Yields to the toolkit until done() holds or the time is up; returns done().
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Real key presses, through the X server to the focused window, then served.
void PressKey(int keyCode, int modifiers = wxMOD_NONE);

// The id of our control that holds the keyboard focus (wx does not know it for a list whose
// inner button has it), or wxID_NONE.
int FocusedControl(wxWindow* dialog);

// The size the toolkit's control needs, as GTK reports it.
wxSize NeededSize(wxWindow* control);

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window and shows it (which initialises it); waits until it has the focus.
    void Open();
    // Runs script inside the window's own modal loop; returns ShowModal's result.
    int RunModal(std::function<void()> script);
    // A press of the button, as a click delivers it.
    void Click(int id);
    // Stops a running session as the button does, and waits until it has.
    void StopIfRecording();

    void UseModule(const std::string& kind);
    void SetEncodeDelay(int milliseconds);
    const FakeLog& Log();

    wxString Caption() const { return Button(IDOK)->GetLabel(); }
    wxButton* Button(int id) const { return wxStaticCast(dlg_->FindWindow(id), wxButton); }
    wxChoice* List(int id) const { return wxStaticCast(dlg_->FindWindow(id), wxChoice); }
    wxTextCtrl* OutputBox() const { return wxStaticCast(dlg_->FindWindow(IDC_OUTPUT_FILE), wxTextCtrl); }

    std::filesystem::path folder_;
    std::string modulePath_;
    CVoxmereDlg* dlg_ = nullptr;
};

// From an X connection of its own, callable from any thread: covers the screen area for a
// moment, so that the X server asks whatever was covered to repaint; asks a top-level window
// to close as a window manager does for its close box.
void CoverBriefly(int x, int y, int width, int height);
void RequestClose(unsigned long window);
// The X window of a top-level GTK widget; on the toolkit's thread.
unsigned long XWindowOf(void* topLevelWidget);
