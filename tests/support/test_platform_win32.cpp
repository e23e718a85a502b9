#include <windows.h>

#include <random>

#include "system_text_win32.h"
#include "test_platform.h"

namespace {
HMODULE Loaded(const std::string& path) {
    std::wstring wide = PathFromUtf8(path).make_preferred().wstring();
    return GetModuleHandleW(wide.c_str());  // takes no reference
}
}  // namespace

std::filesystem::path ExecutableFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD chars = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (chars < name.size()) {
            name.resize(chars);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

std::filesystem::path MakeScratchFolder(const std::string& prefix) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto folder =
            std::filesystem::temp_directory_path() / (prefix + "." + std::to_string(entropy()));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error))
            return folder;
    }
    return {};
}

void* LoadedLibrarySymbol(const std::string& path, const char* symbol) {
    HMODULE library = Loaded(path);
    return library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, symbol)) : nullptr;
}

bool IsLibraryLoaded(const std::string& path) {
    return Loaded(path) != nullptr;
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string SystemWords(SystemError error) {
    switch (error) {
        case SystemError::kNoSuchFolder:
            return SystemErrorText(ERROR_PATH_NOT_FOUND);
        case SystemError::kIsAFolder:  // opening a folder as a file is refused as access denied
            return SystemErrorText(ERROR_ACCESS_DENIED);
        case SystemError::kDiskFull:
            return SystemErrorText(ERROR_DISK_FULL);
    }
    return {};
}
