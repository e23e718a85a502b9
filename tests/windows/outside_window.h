// Reading another process's windows as Windows tools do, for the checks of the real
// Voxmere.exe: messages with a time limit, so a window that hangs fails a check instead of
// hanging the run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A window's text as the window itself answers WM_GETTEXT: edit boxes and lists keep theirs
// where GetWindowText does not look for another process's windows. noAnswer when it hangs.
inline std::wstring TextOf(HWND window, const std::wstring& noAnswer = {}) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return noAnswer;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied < length ? copied : length);
    return text;
}

inline std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Every window below parent, children before their own children, in z-order.
inline std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM into) {
            reinterpret_cast<std::vector<HWND>*>(into)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}
