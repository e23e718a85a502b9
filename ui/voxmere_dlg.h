// The main window: input device, output file and bit rate, and the one Start/Stop button.
//
// The window keeps no recording state of its own: the choices live in its controls, the
// session's state is the Start/Stop caption. It hands the press to the engine's toggle and
// implements the button the toggle sees. Everything here runs on the window's thread; the
// engine reaches the window only through the session failure and notice handlers, which post
// events.
#pragma once

#include <wx/dialog.h>
#include <wx/iconbndl.h>
#include <wx/timer.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "session.h"

class wxThreadEvent;

class CVoxmereDlg : public wxDialog, private RecordButton {
public:
    explicit CVoxmereDlg(wxWindow* pParent = nullptr);
    ~CVoxmereDlg() override;

private:
    wxIconBundle m_hIcon;  // IDI_APP_ICON at 16, 24, 32 and 48 px

    // What identifies the contents of a file: it changed if either differs.
    struct FileStamp {
        std::uintmax_t size;
        std::filesystem::file_time_type written;
        bool operator==(const FileStamp&) const = default;
    };

    // The Start/Stop button as the engine's toggle sees it.
    std::wstring GetCaption() const override;
    void SetCaption(const std::wstring& caption) override;
    SessionSettings ReadSettings() const override;
    void ServeWhileStopping() override;

    void OnInitDialog(wxInitDialogEvent& event);
    void OnStartStop(wxCommandEvent& event);
    void OnBrowse(wxCommandEvent& event);
    void OnWebsite(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnQuickHelp(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnSessionFailed(wxThreadEvent& event);
    void OnSessionNotice(wxThreadEvent& event);
    void OnStoppingTimer(wxTimerEvent& event);

    void ReportSessionFailuresHere();
    void Toggle();
    bool MayReplaceOutput();
    static std::optional<FileStamp> StampOf(const wxString& path);

    // Counts the sessions started, so that a failure reported late cannot stop a newer
    // session. Read by the failure handler on an engine thread.
    std::atomic<unsigned> m_sessionsStarted{0};
    // True while the toggle runs; the stop wait then serves paint and resize only, but the
    // toolkit may still deliver a close request, which waits for the toggle to finish (the
    // stop wait is bounded).
    bool m_toggling = false;
    bool m_closeAfterToggle = false;
    // Runs while the caption reads "Stopping…": a teardown that outlasted the stop wait.
    wxTimer m_stoppingTimer;
    // The file last chosen with Browse and its stamp at that moment (none: it did not
    // exist). Browse asked before replacing it, so Start does not ask again while it is
    // unchanged.
    wxString m_browsedPath;
    std::optional<FileStamp> m_browsedStamp;
    // What each entry of the device list showed when it was filled, by position.
    std::vector<DeviceIdentity> m_deviceIdentities;

    wxDECLARE_EVENT_TABLE();
};
