#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "test_platform.h"

std::filesystem::path ExecutableFolder() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

std::filesystem::path MakeScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    return mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
}

void* LoadedLibrarySymbol(const std::string& path, const char* symbol) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return nullptr;
    void* address = dlsym(library, symbol);
    dlclose(library);  // drops only this lookup's reference
    return address;
}

bool IsLibraryLoaded(const std::string& path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr)
        dlclose(library);
    return library != nullptr;
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return utf8;
}

std::string SystemWords(SystemError error) {
    switch (error) {
        case SystemError::kNoSuchFolder:
            return std::strerror(ENOENT);
        case SystemError::kIsAFolder:
            return std::strerror(EISDIR);
        case SystemError::kDiskFull:
            return std::strerror(ENOSPC);
    }
    return {};
}
