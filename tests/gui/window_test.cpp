// The main window in-process: its template, lists and defaults, its commands, the keyboard,
// and what it does with the session (start, stop, failure, close while recording).
#include <gtk/gtk.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/stattext.h>
#include <wx/stdpaths.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "gui_test.h"
#include "scripted_wavein.h"
#include "session.h"

namespace {

constexpr uint32_t kSecond = 176400;  // bytes in one full capture buffer

const wchar_t kHelpText[] =
    L"If you are unable to record then you need to select the line of source - \n\n - Double click on the "
    L"volume icon in the tray\n\n - Goto Options - Properties - Recording - Ok \n\n - Select the source of "
    L"recoding \n\n - Close and try your recording again";

// The counting fake's record of the n-th encoded buffer, whose first value is first.
std::vector<unsigned char> Chunk(int call, int16_t first) {
    std::vector<unsigned char> chunk = {'C', static_cast<unsigned char>(call)};
    const uint32_t samples = kSecond / 2;
    for (int i = 0; i < 4; ++i)
        chunk.push_back(static_cast<unsigned char>(samples >> (8 * i)));
    chunk.push_back(static_cast<unsigned char>(static_cast<uint16_t>(first) & 0xFF));
    chunk.push_back(static_cast<unsigned char>(static_cast<uint16_t>(first) >> 8));
    return chunk;
}

// A file holding two full seconds, encoded and flushed: what a complete session leaves.
std::vector<unsigned char> TwoSecondsAndTail() {
    std::vector<unsigned char> bytes = Chunk(1, 0);
    const std::vector<unsigned char> second = Chunk(2, static_cast<int16_t>(kSecond / 2));
    bytes.insert(bytes.end(), second.begin(), second.end());
    bytes.insert(bytes.end(), {'T', 'A', 'I', 'L'});
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Expects the save dialog, records how it was set up, and ends it with id (path on OK).
struct SaveDialogSetup {
    wxString offeredName;
    wxString wildcard;
    long style = 0;
};
class ExpectSaveDialog : public wxExpectModalBase<wxFileDialog, ExpectSaveDialog> {
public:
    ExpectSaveDialog(wxString path, int id, SaveDialogSetup* setup)
        : path_(std::move(path)), id_(id), setup_(setup) {}

protected:
    int OnInvoked(wxFileDialog* dialog) const override {
        setup_->offeredName = dialog->GetFilename();
        setup_->wildcard = dialog->GetWildcard();
        setup_->style = dialog->GetWindowStyle();
        if (id_ == wxID_OK && !wxFileName(path_).DirExists()) {
            // Typed into the name field as a person would, relative to a folder that exists:
            // the chooser takes no missing folder as its current one.
            auto* chooser = GTK_FILE_CHOOSER(dialog->GetHandle());
            const std::filesystem::path typed = path_.utf8_string();
            gtk_file_chooser_set_current_folder(chooser, typed.parent_path().parent_path().c_str());
            gtk_file_chooser_set_current_name(chooser,
                                              (typed.parent_path().filename() / typed.filename()).c_str());
        } else if (id_ == wxID_OK) {
            dialog->SetPath(path_);
        }
        if (id_ == wxID_OK) {  // GTK takes the folder in asynchronously
            WaitFor([&] { return dialog->GetPath() == path_; }, std::chrono::seconds(3));
        }
        return id_;
    }

private:
    wxString path_;
    int id_;
    SaveDialogSetup* setup_;
};

}  // namespace

TEST_F(WindowTest, TemplateHasItsControlsInTabOrderWithIdsCaptionsAndDefaultButton) {
    Open();
    struct Expected {
        int id;
        wxClassInfo* kind;
        const char* caption;
    };
    const Expected expected[] = {
        {IDOK, wxCLASSINFO(wxButton), "Start Recording"},
        {IDC_INPUT_DEVICE, wxCLASSINFO(wxChoice), nullptr},
        {wxID_ANY, wxCLASSINFO(wxStaticText), "Input :"},
        {wxID_ANY, wxCLASSINFO(wxStaticText), "Output :"},
        {IDC_OUTPUT_FILE, wxCLASSINFO(wxTextCtrl), nullptr},
        {IDC_BROWSE, wxCLASSINFO(wxButton), "Browse..."},
        {IDC_BITRATE, wxCLASSINFO(wxChoice), nullptr},
        {wxID_ANY, wxCLASSINFO(wxStaticText), "Bit Rate :"},
        {IDC_WEBSITE, wxCLASSINFO(wxButton), "Website"},
        {IDC_ABOUT, wxCLASSINFO(wxButton), "About..."},
        {IDC_QUICK_HELP, wxCLASSINFO(wxButton), " ?"},
    };
    const wxWindowList& children = dlg_->GetChildren();
    ASSERT_EQ(children.size(), std::size(expected));
    size_t i = 0;
    for (wxWindow* child : children) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i++];
        EXPECT_TRUE(child->IsKindOf(e.kind)) << child->GetClassInfo()->GetClassName();
        if (e.id != wxID_ANY) {
            EXPECT_EQ(child->GetId(), e.id);
        } else {
            EXPECT_LT(child->GetId(), 0) << "a label has no id of its own";
        }
        if (e.caption != nullptr) {
            EXPECT_EQ(child->GetLabel(), e.caption);
        }
        EXPECT_TRUE(child->IsShown());
        EXPECT_TRUE(child->IsEnabled());
    }

    EXPECT_EQ(dlg_->GetTitle(), "Voxmere");
    EXPECT_EQ(dlg_->GetId(), IDD_VOXMERE_DIALOG);
    EXPECT_FALSE(dlg_->HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(dlg_->HasFlag(wxMINIMIZE_BOX) || dlg_->HasFlag(wxMAXIMIZE_BOX));
    EXPECT_EQ(dlg_->GetDefaultItem(), Button(IDOK));
    EXPECT_FALSE(OutputBox()->IsEditable());

    const wxIconBundle icons = dlg_->GetIcons();
    ASSERT_EQ(icons.GetIconCount(), 4u);
    // A solid red disc about four fifths of the image wide, on a transparent background.
    for (int size : {16, 24, 32, 48}) {
        SCOPED_TRACE(size);
        const wxIcon icon = icons.GetIcon(size, wxIconBundle::FALLBACK_NONE);
        ASSERT_TRUE(icon.IsOk());
        const wxImage image = wxBitmap(icon).ConvertToImage();
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(image.GetAlpha(0, 0), 0);
        const int middle = size / 2;
        EXPECT_EQ(image.GetAlpha(middle, middle), 255);
        EXPECT_GT(image.GetRed(middle, middle), 180);
        EXPECT_LT(image.GetGreen(middle, middle), 80);
        EXPECT_LT(image.GetBlue(middle, middle), 80);
        int opaque = 0;
        for (int x = 0; x < size; ++x) {
            opaque += image.GetAlpha(x, middle) > 127 ? 1 : 0;
        }
        EXPECT_NEAR(opaque, 0.8 * size, 1.5);
    }

    // The window starts on the button, and Tab and Shift+Tab walk the template order.
    EXPECT_EQ(FocusedControl(dlg_), IDOK);
    const std::vector<int> forward = {IDC_INPUT_DEVICE, IDC_OUTPUT_FILE, IDC_BROWSE,     IDC_BITRATE,
                                      IDC_WEBSITE,      IDC_ABOUT,       IDC_QUICK_HELP, IDOK};
    std::vector<int> walked;
    for (size_t step = 0; step < forward.size(); ++step) {
        PressKey(WXK_TAB);
        walked.push_back(FocusedControl(dlg_));
    }
    EXPECT_EQ(walked, forward);
    walked.clear();
    for (size_t step = 0; step < forward.size(); ++step) {
        PressKey(WXK_TAB, wxMOD_SHIFT);
        walked.push_back(FocusedControl(dlg_));
    }
    const std::vector<int> backward = {IDC_QUICK_HELP, IDC_ABOUT,       IDC_WEBSITE,      IDC_BITRATE,
                                       IDC_BROWSE,     IDC_OUTPUT_FILE, IDC_INPUT_DEVICE, IDOK};
    EXPECT_EQ(walked, backward);
}

TEST_F(WindowTest, StartsWithItsDefaultChoices) {
    Open();
    const std::vector<wxString> rates = {"16 Kbps", "32 Kbps",  "48 Kbps",  "64 Kbps",
                                         "96 Kbps", "128 Kbps", "160 Kbps", "256 Kbps"};
    EXPECT_EQ(List(IDC_BITRATE)->GetStrings(), wxArrayString(rates.size(), rates.data()));
    EXPECT_EQ(List(IDC_BITRATE)->GetStringSelection(), "64 Kbps");
    EXPECT_EQ(OutputBox()->GetValue(), "RecordedAudio.mp3");
    EXPECT_EQ(List(IDC_INPUT_DEVICE)->GetSelection(), 0);
}

// Entries stay in device-number order whatever their names; a device whose capabilities
// cannot be read is left out, and the entries after it still open their own devices.
TEST_F(WindowTest, DeviceListKeepsDeviceNumberOrderPastAnUnreadableDevice) {
    scripted::SetDevices({{L"Zeta Microphone"}, {L"Broken", true}, {L"Alpha Line In"}, {L"Alpha Line In"}});
    Open();
    const std::vector<wxString> names = {"Zeta Microphone", "Alpha Line In", "Alpha Line In"};
    EXPECT_EQ(List(IDC_INPUT_DEVICE)->GetStrings(), wxArrayString(names.size(), names.data()));

    const std::pair<int, UINT> entryToDevice[] = {{0, 0}, {1, 2}, {2, 3}};
    for (const auto& [entry, device] : entryToDevice) {
        SCOPED_TRACE(entry);
        std::filesystem::remove("RecordedAudio.mp3");
        List(IDC_INPUT_DEVICE)->SetSelection(entry);
        List(IDC_BITRATE)->SetStringSelection("128 Kbps");
        Click(IDOK);
        ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
        EXPECT_EQ(scripted::OpenedDeviceNumber(), device);
        EXPECT_EQ(Log().lastConfig.format.lhv1.dwBitrate, 128u);
        Click(IDOK);
        EXPECT_EQ(Caption(), kStartCaption);
    }
    EXPECT_TRUE(std::filesystem::exists(folder_ / "RecordedAudio.mp3"));
}

TEST_F(WindowTest, NoDeviceIsSaidOnceAndTheWindowStaysWithAnEmptyList) {
    scripted::SetDevices({});
    Shown shown;
    // Behind the message the window is already finished: its defaults set, its size fitted
    // and centred for that size (centring it again moves nothing).
    const auto finished = [this] {
        EXPECT_EQ(List(IDC_BITRATE)->GetStringSelection(), "64 Kbps");
        EXPECT_EQ(OutputBox()->GetValue(), "RecordedAudio.mp3");
        const wxPoint shownAt = dlg_->GetPosition();
        dlg_->Centre();
        EXPECT_EQ(dlg_->GetPosition(), shownAt);
    };
    wxTEST_DIALOG(Open(), ExpectMessage(wxOK, &shown, finished));
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(shown.message, "No Input Device Available");
    EXPECT_EQ(shown.caption, "Voxmere");
    EXPECT_EQ(shown.Icon(), wxICON_INFORMATION);
    EXPECT_TRUE(dlg_->IsShown());
    EXPECT_TRUE(List(IDC_INPUT_DEVICE)->IsEmpty());
    EXPECT_EQ(List(IDC_INPUT_DEVICE)->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(List(IDC_BITRATE)->GetStringSelection(), "64 Kbps");
}

TEST_F(WindowTest, BrowseOffersTheDefaultNameAppendsMp3AndKeepsThePathOnCancel) {
    Open();
    SaveDialogSetup setup;
    const wxString typed = (folder_ / "take").string();
    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog(typed, wxID_OK, &setup));
    EXPECT_EQ(setup.offeredName, "RecordedAudio");
    EXPECT_EQ(setup.wildcard, "MP3 Files|*.mp3");
    EXPECT_TRUE(setup.style & wxFD_SAVE);
    EXPECT_TRUE(setup.style & wxFD_OVERWRITE_PROMPT);
    EXPECT_EQ(OutputBox()->GetValue(), typed + ".mp3");

    const wxString named = (folder_ / "named.mp3").string();
    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog(named, wxID_OK, &setup));
    EXPECT_EQ(setup.offeredName, "RecordedAudio") << "offered whatever the box holds";
    EXPECT_EQ(OutputBox()->GetValue(), named);

    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog("", wxID_CANCEL, &setup));
    EXPECT_EQ(OutputBox()->GetValue(), named);

    // A name in a folder that does not exist is refused, and the dialog comes back.
    const wxString nowhere = (folder_ / "missing" / "take.mp3").string();
    Shown refused;
    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog(nowhere, wxID_OK, &setup),
                  ExpectMessage(wxOK, &refused), ExpectSaveDialog("", wxID_CANCEL, &setup));
    EXPECT_EQ(refused.message, nowhere + "\nPath does not exist.\nCheck the path and try again.");
    EXPECT_EQ(OutputBox()->GetValue(), named);
}

TEST_F(WindowTest, HelpAboutAndF1ShowTheirTextsUnderTheirCaptions) {
    Open();
    Shown help;
    wxTEST_DIALOG(Click(IDC_QUICK_HELP), ExpectMessage(wxOK, &help));
    EXPECT_EQ(help.message, kHelpText);
    EXPECT_EQ(help.caption, wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetName());
    EXPECT_EQ(help.Icon(), wxICON_INFORMATION);

    Shown f1;
    wxTEST_DIALOG(PressKey(WXK_F1), ExpectMessage(wxOK, &f1));
    EXPECT_EQ(f1.message, kHelpText);

    Shown about;
    wxTEST_DIALOG(Click(IDC_ABOUT), ExpectMessage(wxOK, &about));
    EXPECT_EQ(about.caption, "Voxmere");
    EXPECT_EQ(about.Icon(), wxICON_INFORMATION);
    EXPECT_TRUE(about.message.Contains("LAME MP3 encoder (https://lame.sourceforge.io)")) << about.message;
    EXPECT_TRUE(about.message.Contains("owned by")) << about.message;
    // The maker's address leads somewhere: the site set at build time, or else the manual
    // beside the program (built below the build tree's bin/ as it is installed).
    const wxString maker = about.message.AfterFirst('(').BeforeFirst(')');
    if (maker.StartsWith("file://")) {
        EXPECT_TRUE(wxFileName::FileExists(wxFileName::URLToFileName(maker).GetFullPath())) << maker;
    } else {
        EXPECT_TRUE(maker.StartsWith("https://") && !maker.Contains("example.")) << maker;
    }
    EXPECT_EQ(about.message.Freq('\n'), 0u) << "one sentence";
    EXPECT_TRUE(about.message.EndsWith("."));
}

TEST_F(WindowTest, CaptionFollowsTheSessionAndStopLeavesACompleteFile) {
    Open();
    Click(IDOK);
    EXPECT_EQ(Caption(), kStopCaption);
    EXPECT_EQ(g_bRecording.load(), 1);
    ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
    ASSERT_TRUE(scripted::FillNext(kSecond));
    ASSERT_TRUE(scripted::FillNext(kSecond));
    scripted::WaitForReports();

    Click(IDOK);
    EXPECT_EQ(Caption(), kStartCaption);
    EXPECT_EQ(g_hRecordThread.load(), nullptr) << "the caption returns only once the session is over";
    EXPECT_FALSE(scripted::IsOpen());
    EXPECT_EQ(ReadBytes(folder_ / "RecordedAudio.mp3"), TwoSecondsAndTail());
}

// Recording twice to the same name must not silently destroy the first recording.
TEST_F(WindowTest, StartAsksBeforeReplacingARecordingUnlessBrowseAsked) {
    Open();
    WriteFile("RecordedAudio.mp3", "first take");
    Shown asked;
    wxTEST_DIALOG(Click(IDOK), ExpectMessage(wxNO, &asked));
    EXPECT_EQ(asked.caption, "Voxmere");
    EXPECT_TRUE(asked.message.Contains("RecordedAudio.mp3")) << asked.message;
    EXPECT_EQ(asked.style & (wxYES_NO | wxNO_DEFAULT), wxYES_NO | wxNO_DEFAULT);
    EXPECT_EQ(Caption(), kStartCaption);
    EXPECT_TRUE(scripted::Calls().empty()) << "No leaves everything as it was";
    EXPECT_EQ(ReadBytes("RecordedAudio.mp3"),
              std::vector<unsigned char>({'f', 'i', 'r', 's', 't', ' ', 't', 'a', 'k', 'e'}));

    // A second of audio, then Stop: a take that recorded nothing would leave an empty file.
    const auto recordASecond = [this] {
        ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
        ASSERT_TRUE(scripted::FillNext(176400));
        scripted::WaitForReports();
        Click(IDOK);
    };
    wxTEST_DIALOG(Click(IDOK), ExpectMessage(wxYES, &asked));
    EXPECT_EQ(Caption(), kStopCaption);
    recordASecond();
    const auto replaced = ReadBytes("RecordedAudio.mp3");
    ASSERT_GT(replaced.size(), 4u);
    EXPECT_EQ(std::vector<unsigned char>(replaced.end() - 4, replaced.end()),
              std::vector<unsigned char>({'T', 'A', 'I', 'L'}));

    // An empty file holds nothing to lose.
    WriteFile("RecordedAudio.mp3", "");
    Click(IDOK);
    EXPECT_EQ(Caption(), kStopCaption);
    Click(IDOK);

    // Chosen with Browse, which asked: no second question while the file is unchanged; once
    // a recording has changed it, Start asks again.
    WriteFile(folder_ / "chosen.mp3", "kept until replaced");
    SaveDialogSetup setup;
    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog((folder_ / "chosen.mp3").string(), wxID_OK, &setup));
    Click(IDOK);
    EXPECT_EQ(Caption(), kStopCaption);
    recordASecond();
    wxTEST_DIALOG(Click(IDOK), ExpectMessage(wxNO, &asked));
    EXPECT_EQ(Caption(), kStartCaption);

    // A name typed without extension was asked about as typed: the file with ".mp3" was not.
    WriteFile(folder_ / "typed.mp3", "another take");
    wxTEST_DIALOG(Click(IDC_BROWSE), ExpectSaveDialog((folder_ / "typed").string(), wxID_OK, &setup));
    wxTEST_DIALOG(Click(IDOK), ExpectMessage(wxNO, &asked));
    EXPECT_EQ(Caption(), kStartCaption);
}

// The window never reads "Stop Recording" while nothing is being recorded: a session that
// fails ends, the caption returns to Start, then the cause is shown with the warning icon.
TEST_F(WindowTest, FailedSessionRestoresStartThenSaysWhy) {
    UseModule("failing_init");
    Open();
    Shown shown;
    wxString captionWhileShown;
    wxTEST_DIALOG(
        {
            Click(IDOK);
            EXPECT_TRUE(WaitFor([&] { return shown.count == 1; }));
        },
        ExpectMessage(wxOK, &shown, [&] { captionWhileShown = Caption(); }));
    EXPECT_EQ(captionWhileShown, kStartCaption);
    EXPECT_EQ(shown.caption, "Voxmere");
    EXPECT_EQ(shown.Icon(), wxICON_WARNING);
    EXPECT_TRUE(shown.message.Contains("refused")) << shown.message;
    EXPECT_EQ(g_bRecording.load(), 0);
    EXPECT_EQ(g_hRecordThread.load(), nullptr);

    UseModule("counting");
    std::filesystem::remove("RecordedAudio.mp3");
    scripted::RefuseOpen(MMSYSERR_ALLOCATED, "Device or resource busy");
    wxTEST_DIALOG(
        {
            Click(IDOK);
            EXPECT_TRUE(WaitFor([&] { return shown.count == 2; }));
        },
        ExpectMessage(wxOK, &shown, [&] { captionWhileShown = Caption(); }));
    EXPECT_EQ(captionWhileShown, kStartCaption);
    EXPECT_TRUE(shown.message.Contains("Zeta Microphone")) << shown.message;
    EXPECT_TRUE(shown.message.Contains("busy")) << shown.message;
}

// A notice is shown as information while the session goes on; what the take as a whole
// lacks is said at its end.
TEST_F(WindowTest, SilenceIsNoticedWhileRecordingGoesOnAndToldAgainAtStop) {
    Open();
    scripted::DeliverSilence();
    Click(IDOK);
    ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
    Shown notice;
    wxString captionWhileShown;
    wxTEST_DIALOG(
        {
            for (int second = 0; second < 15; ++second) {
                ASSERT_TRUE(scripted::FillNext(kSecond));
                scripted::WaitForReports();
            }
            EXPECT_TRUE(WaitFor([&] { return notice.count == 1; }));
        },
        ExpectMessage(wxOK, &notice, [&] { captionWhileShown = Caption(); }));
    EXPECT_EQ(notice.Icon(), wxICON_INFORMATION);
    EXPECT_TRUE(
        notice.message.StartsWith("Nothing but silence has come from \"Zeta Microphone\" for 15 seconds"))
        << notice.message;
    EXPECT_EQ(captionWhileShown, kStopCaption);
    EXPECT_EQ(Caption(), kStopCaption);
    ASSERT_TRUE(scripted::FillNext(kSecond)) << "recording stopped";

    Shown atStop;
    wxTEST_DIALOG(
        {
            Click(IDOK);
            EXPECT_TRUE(WaitFor([&] { return atStop.count == 1; }));
        },
        ExpectMessage(wxOK, &atStop));
    EXPECT_EQ(atStop.Icon(), wxICON_WARNING);
    EXPECT_TRUE(atStop.message.StartsWith("Nothing but silence came from \"Zeta Microphone\" in the 16.0 s"))
        << atStop.message;
    EXPECT_EQ(Caption(), kStartCaption);
}

// Escape ends the window in any state and never presses Start/Stop; while recording it first
// stops the session the orderly way, so the file is complete.
TEST_F(WindowTest, EscapeEndsTheWindowAndStopsARecordingFirst) {
    int ended = RunModal([] { PressKey(WXK_ESCAPE); });
    EXPECT_EQ(ended, wxID_CANCEL);
    EXPECT_TRUE(scripted::Calls().empty()) << "Escape started nothing";
    dlg_->Destroy();  // goes at the next idle time, while the next window already runs
    dlg_ = nullptr;

    // The session lost half a second on the way: that is said before the window goes.
    Shown shown;
    ended = RunModal([&] {
        PressKey(WXK_RETURN);
        ASSERT_EQ(Caption(), kStopCaption);
        ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
        ASSERT_TRUE(scripted::FillNext(kSecond));
        scripted::LoseFrames(22050);
        ASSERT_TRUE(scripted::FillNext(kSecond));
        scripted::WaitForReports();
        wxTEST_DIALOG(
            {
                PressKey(WXK_ESCAPE);
                EXPECT_TRUE(WaitFor([&] { return shown.count == 1; }));
            },
            ExpectMessage(wxOK, &shown));
    });
    EXPECT_EQ(shown.Icon(), wxICON_WARNING);
    EXPECT_TRUE(shown.message.Contains("0.5 s")) << shown.message;
    EXPECT_EQ(ended, wxID_CANCEL);
    EXPECT_EQ(g_hRecordThread.load(), nullptr);
    EXPECT_FALSE(scripted::IsOpen());
    EXPECT_EQ(ReadBytes(folder_ / "RecordedAudio.mp3"), TwoSecondsAndTail());
}

// The close box and Alt+F4 reach the window as a close request.
TEST_F(WindowTest, CloseRequestWhileRecordingStopsFirst) {
    const int ended = RunModal([this] {
        Click(IDOK);
        ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
        ASSERT_TRUE(scripted::FillNext(kSecond));
        ASSERT_TRUE(scripted::FillNext(kSecond));
        scripted::WaitForReports();
        dlg_->Close();
    });
    EXPECT_EQ(ended, wxID_CANCEL);
    EXPECT_EQ(g_hRecordThread.load(), nullptr);
    EXPECT_EQ(ReadBytes(folder_ / "RecordedAudio.mp3"), TwoSecondsAndTail());
}

// Enter presses Start/Stop from a closed list, the output box and the button itself, without
// opening the list; on another push button it presses that one.
TEST_F(WindowTest, EnterPressesStartStopOrTheFocusedButton) {
    Open();
    // Reached with Tab from the button, as a person does. Left to the toolkit, Enter would open
    // a list's popup instead.
    const std::pair<int, int> tabsTo[] = {
        {IDOK, 0}, {IDC_INPUT_DEVICE, 1}, {IDC_OUTPUT_FILE, 2}, {IDC_BITRATE, 4}};
    for (const auto& [id, tabs] : tabsTo) {
        SCOPED_TRACE(id);
        std::filesystem::remove("RecordedAudio.mp3");
        Button(IDOK)->SetFocus();
        for (int i = 0; i < tabs; ++i) {
            PressKey(WXK_TAB);
        }
        ASSERT_TRUE(WaitFor([&] { return FocusedControl(dlg_) == id; }));
        PressKey(WXK_RETURN);
        EXPECT_TRUE(WaitFor([&] { return Caption() == kStopCaption; }));
        if (id == IDC_INPUT_DEVICE || id == IDC_BITRATE) {
            gboolean popupShown = TRUE;
            g_object_get(G_OBJECT(dlg_->FindWindow(id)->GetHandle()), "popup-shown", &popupShown, nullptr);
            EXPECT_FALSE(popupShown);
        }
        PressKey(WXK_NUMPAD_ENTER);
        EXPECT_TRUE(WaitFor([&] { return Caption() == kStartCaption; }));
    }

    Shown shown;
    Button(IDC_ABOUT)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return FocusedControl(dlg_) == IDC_ABOUT; }));
    wxTEST_DIALOG(PressKey(WXK_RETURN), ExpectMessage(wxOK, &shown));
    EXPECT_EQ(shown.caption, "Voxmere");

    Button(IDC_QUICK_HELP)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return FocusedControl(dlg_) == IDC_QUICK_HELP; }));
    wxTEST_DIALOG(PressKey(WXK_RETURN), ExpectMessage(wxOK, &shown));
    EXPECT_EQ(shown.message, kHelpText);

    SaveDialogSetup setup;
    Button(IDC_BROWSE)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return FocusedControl(dlg_) == IDC_BROWSE; }));
    wxTEST_DIALOG(PressKey(WXK_RETURN), ExpectSaveDialog("", wxID_CANCEL, &setup));
    EXPECT_EQ(Caption(), kStartCaption);
    EXPECT_EQ(shown.count, 2);
}

// While Stop waits for the session's teardown (here, a second of audio still being encoded),
// the window keeps repainting. A close request (the close box) that comes meanwhile waits
// for the stop to finish and then ends the window.
TEST_F(WindowTest, StopWaitKeepsTheWindowPaintedAndDefersAClose) {
    std::atomic<int> paintsWhileStopping{0};
    bool hiddenWhileStopping = false;
    const int ended = RunModal([&] {
        dlg_->Bind(wxEVT_PAINT, [&](wxPaintEvent& event) {
            if (g_bRecording.load() == 0 && g_hRecordThread.load() != nullptr) {
                ++paintsWhileStopping;
            }
            event.Skip();
        });
        dlg_->Bind(wxEVT_SHOW, [&](wxShowEvent& event) {
            hiddenWhileStopping |= !event.IsShown() && g_hRecordThread.load() != nullptr;
            event.Skip();
        });
        Click(IDOK);
        ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
        SetEncodeDelay(1500);
        ASSERT_TRUE(scripted::FillNext(kSecond));
        const wxRect area = dlg_->GetScreenRect();
        const unsigned long window = XWindowOf(dlg_->GetHandle());
        std::thread outside([area, window] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            CoverBriefly(area.x, area.y, area.width, area.height);
            RequestClose(window);
        });
        const auto started = std::chrono::steady_clock::now();
        Click(IDOK);
        const auto waited = std::chrono::steady_clock::now() - started;
        outside.join();
        EXPECT_GT(waited, std::chrono::milliseconds(900)) << "the teardown did not take its time";
        EXPECT_EQ(Caption(), kStartCaption);
    });
    EXPECT_GT(paintsWhileStopping.load(), 0);
    EXPECT_EQ(ended, wxID_CANCEL);
    EXPECT_FALSE(hiddenWhileStopping);
    EXPECT_EQ(ReadBytes(folder_ / "RecordedAudio.mp3").size(), 8u + 4u) << "one second and the tail";
}

// A driver whose stop never returns must not take the window with it. Past the stop wait the
// window is given back, its button waiting until the stop has ended; a close request while
// the stop still hangs ends the window at once.
TEST_F(WindowTest, AStopThatHangsLeavesTheWindowResponsiveAndClosable) {
    const int ended = RunModal([this] {
        for (int take = 0; take < 2; ++take) {
            SCOPED_TRACE(take);
            Click(IDOK);
            ASSERT_TRUE(WaitFor([] { return scripted::IsCapturing(); }));
            scripted::HangStop();
            Click(IDOK);
            ASSERT_EQ(Caption(), kStoppingCaption);
            EXPECT_FALSE(Button(IDOK)->IsEnabled());
            if (take == 1)
                break;
            scripted::ReleaseStop();
            ASSERT_TRUE(WaitFor([this] { return Caption() == kStartCaption; }));
            EXPECT_TRUE(Button(IDOK)->IsEnabled());
        }
        RequestClose(XWindowOf(dlg_->GetHandle()));
    });
    EXPECT_EQ(ended, wxID_CANCEL);
    EXPECT_NE(g_hRecordThread.load(), nullptr) << "the close waited for the stop after all";
    scripted::ReleaseStop();
    EXPECT_TRUE(WaitFor([] { return g_hRecordThread.load() == nullptr; }));
}
