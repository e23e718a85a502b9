// Resource ids of the main window. The XRC template names each object after its id
// ("IDOK", "IDC_INPUT_DEVICE", ...); RegisterResourceIds binds those names to the numbers
// below before the template is loaded, so XRCID("IDC_BITRATE") == IDC_BITRATE and
// FindWindow(IDC_BITRATE) finds the control.
//
// IDOK is deliberately not wxID_OK (5100): wx treats a wxID_OK button as the dialog's
// affirmative button and presses it for Escape and the close box when there is no Cancel
// button. The Start/Stop button must never be pressed that way.
#pragma once

#define IDD_VOXMERE_DIALOG 102  // the window itself
#define IDI_APP_ICON 128        // the application icon (XRC objects IDI_APP_ICON_16 ... _48)

#define IDOK 1  // Start/Stop, the default button
#define IDC_INPUT_DEVICE 1000
#define IDC_OUTPUT_FILE 1001
#define IDC_BROWSE 1002
#define IDC_BITRATE 1003
#define IDC_WEBSITE 1004
#define IDC_ABOUT 1005
#define IDC_QUICK_HELP 1006
