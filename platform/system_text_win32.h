// Windows only: the system's own words for an error code, as the messages quote them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "text_conversion.h"

// FormatMessage's text, as UTF-8, without the line break and full stop it ends with; "error N"
// for a code the system has no words for. Asked for as wide text: the narrow form would come
// in the ANSI code page, which is not UTF-8 on most systems.
inline std::string SystemErrorText(DWORD code) {
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof(text) / sizeof(text[0]), nullptr);
    std::string words = ToUtf8(std::wstring_view(text, length));
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words.empty() ? "error " + std::to_string(code) : words;
}
