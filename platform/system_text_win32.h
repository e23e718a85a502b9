// Windows only: the system's own words for an error code, as the messages quote them.
#pragma once

#include <windows.h>

#include <string>

// FormatMessage's text without the line break and full stop it ends with; "error N" for a
// code the system has no words for.
inline std::string SystemErrorText(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof(text), nullptr);
    std::string words(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
        words.pop_back();
    return words.empty() ? "error " + std::to_string(code) : words;
}
