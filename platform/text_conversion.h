// Text between the forms the system meets: wide text (UTF-16 on Windows, UTF-32 elsewhere),
// the UTF-8 of messages and of file names on POSIX systems, and file-system paths.
//
// No conversion goes through a code page: a name is either carried whole or, where it holds
// something that is not text (a lone surrogate, a malformed byte), shown with U+FFFD in its
// place, never shortened.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Wide text as UTF-8. On Windows a surrogate pair is one character (four bytes); a surrogate
// without its partner becomes U+FFFD.
std::string ToUtf8(std::wstring_view text);

// UTF-8 as wide text; a malformed or overlong sequence becomes U+FFFD. On Windows a
// character beyond U+FFFF becomes its surrogate pair.
std::wstring FromUtf8(std::string_view text);

// The path a wide file name names. On Windows the wide text as it is, so the system gets the
// UTF-16 name unchanged (a name that is not valid UTF-16 still names its file); elsewhere its
// UTF-8 bytes, which is how file names are stored there.
std::filesystem::path PathFromWide(const std::wstring& name);
