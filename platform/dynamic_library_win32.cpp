#include <windows.h>

#include "dynamic_library.h"
#include "system_text_win32.h"
#include "text_conversion.h"

DynamicLibrary OpenLibrary(const char* name, std::string& error) {
    // LoadLibraryExW takes only backslashes as folder separators.
    std::wstring path = FromUtf8(name);
    bool hasFolder = false;
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
        hasFolder = hasFolder || c == L'\\' || c == L':';
    }
    // A bare name is looked for beside the executable and in the system folder only. The
    // default search also tries the current folder and every folder on PATH, so with the
    // program's own copy missing it would load and run whatever file of that name one of
    // those holds. A name with a folder loads that file.
    const DWORD search = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, hasFolder ? 0 : search);
    if (library == nullptr) {
        // Unlike dlerror, the system's words do not name the file.
        error = std::string(name) + ": " + SystemErrorText(GetLastError());
    }
    return reinterpret_cast<DynamicLibrary>(library);
}

void* FindLibrarySymbol(DynamicLibrary library, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), symbol));
}

void CloseLibrary(DynamicLibrary library) {
    FreeLibrary(reinterpret_cast<HMODULE>(library));
}
