// The window tests' process: wx started once around all tests, and the shared fixture.
#include <dlfcn.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/modalhook.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "encoder.h"
#include "failure.h"
#include "gui_test.h"
#include "scripted_wavein.h"
#include "session.h"

namespace {

// A modal dialog that no wxTEST_DIALOG expects would wait for a person forever: fail the test
// and dismiss it instead. Registered first, so it is asked last; the window itself runs.
class UnexpectedDialogHook : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override {
        if (dynamic_cast<CVoxmereDlg*>(dialog) != nullptr)
            return wxID_NONE;
        ADD_FAILURE() << "unexpected modal dialog \"" << dialog->GetTitle() << "\"";
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

}  // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxYield();
        wxMilliSleep(10);
    }
    return true;
}

void PressKey(int keyCode, int modifiers) {
    wxUIActionSimulator keyboard;
    keyboard.Char(keyCode, modifiers);
    // Let the X server deliver it and the toolkit dispatch it.
    for (int i = 0; i < 10; ++i) {
        wxYield();
        wxMilliSleep(10);
    }
}

int FocusedControl(wxWindow* dialog) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->GetHandle()));
    if (focus == nullptr)
        return wxID_NONE;
    for (wxWindow* control : dialog->GetChildren()) {
        GtkWidget* widget = control->GetHandle();
        if (focus == widget || gtk_widget_is_ancestor(focus, widget))
            return control->GetId();
    }
    return wxID_NONE;
}

wxSize NeededSize(wxWindow* control) {
    GtkRequisition natural{};
    gtk_widget_get_preferred_size(control->GetHandle(), nullptr, &natural);
    return {natural.width, natural.height};
}

void WindowTest::SetUp() {
    scripted::Reset();
    // Two sources whose names sort the other way round, as a server may list them.
    scripted::SetDevices({{L"Zeta Microphone"}, {L"Alpha Line In"}});
    // A fresh process's engine: nothing failed, not recording, no module loaded (UseModule).
    g_bRecording = 0;
    TakeFailure();
    UseModule("counting");
    ResetFakeModule(modulePath_);
    char pattern[] = "/tmp/voxmere-gui.XXXXXX";
    folder_ = mkdtemp(pattern);
    // The default output name is relative: it lands here.
    std::filesystem::current_path(folder_);
}

void WindowTest::TearDown() {
    if (dlg_ != nullptr) {
        StopIfRecording();
        dlg_->Destroy();
        WaitFor([] { return wxTopLevelWindows.empty(); });
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder_);
}

void WindowTest::Open() {
    dlg_ = new CVoxmereDlg;
    dlg_->Show();
    gtk_window_present(GTK_WINDOW(dlg_->GetHandle()));
    ASSERT_TRUE(WaitFor([&] { return dlg_->IsActive() && FocusedControl(dlg_) != wxID_NONE; }))
        << "the window did not get the keyboard focus";
}

int WindowTest::RunModal(std::function<void()> script) {
    dlg_ = new CVoxmereDlg;
    dlg_->CallAfter([this, script] {
        gtk_window_present(GTK_WINDOW(dlg_->GetHandle()));
        EXPECT_TRUE(WaitFor([&] { return dlg_->IsActive(); }));
        script();
    });
    return dlg_->ShowModal();
}

void WindowTest::Click(int id) {
    wxCommandEvent click(wxEVT_BUTTON, id);
    click.SetEventObject(Button(id));
    Button(id)->ProcessWindowEvent(click);
}

void WindowTest::StopIfRecording() {
    if (Caption() == kStopCaption)
        Click(IDOK);
    ASSERT_EQ(g_hRecordThread.load(), nullptr);
}

void WindowTest::UseModule(const std::string& kind) {
    // The engine keeps the module it loaded for the process's life; forget it.
    g_bEncoderLoaded = 0;
    g_EncoderApi = {};
    modulePath_ = FakeModulePath(kind);
    g_pszEncoderLibrary = modulePath_.c_str();
}

void WindowTest::SetEncodeDelay(int milliseconds) {
    void* module = dlopen(modulePath_.c_str(), RTLD_NOW);
    ASSERT_NE(module, nullptr) << dlerror();
    auto* set = reinterpret_cast<void (*)(int, BE_ERR, int)>(dlsym(module, "fakeSetEncode"));
    ASSERT_NE(set, nullptr);
    set(-1, BE_ERR_SUCCESSFUL, milliseconds);
    dlclose(module);
}

const FakeLog& WindowTest::Log() {
    void* module = dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(module, nullptr) << "the engine has not loaded " << modulePath_;
    auto* log = reinterpret_cast<const FakeLog* (*)()>(dlsym(module, "fakeLog"));
    dlclose(module);  // drops only this lookup's reference
    return *log();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time, without a display) needs no toolkit.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv))
        return 1;
    wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& condition,
                          const wxString& message) {
        ADD_FAILURE_AT(file.utf8_string().c_str(), line) << "wx assertion " << condition << ": " << message;
    });
    UnexpectedDialogHook unexpectedDialogs;
    unexpectedDialogs.Register();
    const int status = RUN_ALL_TESTS();
    unexpectedDialogs.Unregister();
    wxEntryCleanup();
    return status;
}
