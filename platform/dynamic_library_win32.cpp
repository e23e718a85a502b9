#include <windows.h>

#include "dynamic_library.h"

namespace {
std::wstring Widen(const char* utf8) {
    const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), chars);
    wide.resize(static_cast<size_t>(chars) - 1);
    return wide;
}

std::string Narrow(const wchar_t* wide) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow.data(), bytes, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(bytes) - 1);
    return narrow;
}

// The system's words for an error code, without the line break FormatMessage ends them with.
std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD chars = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = chars > 0 ? Narrow(text) : "error " + std::to_string(code);
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    return words;
}
}  // namespace

DynamicLibrary OpenLibrary(const char* name, std::string& error) {
    // LoadLibraryW takes only backslashes as folder separators.
    std::wstring path = Widen(name);
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        // Unlike dlerror, the system's words do not name the file.
        error = std::string(name) + ": " + SystemText(GetLastError());
    }
    return reinterpret_cast<DynamicLibrary>(library);
}

void* FindLibrarySymbol(DynamicLibrary library, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), symbol));
}

void CloseLibrary(DynamicLibrary library) {
    FreeLibrary(reinterpret_cast<HMODULE>(library));
}
