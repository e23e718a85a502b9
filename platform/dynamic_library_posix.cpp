#include <dlfcn.h>

#include "dynamic_library.h"

DynamicLibrary OpenLibrary(const char* name, std::string& error) {
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();  // names the file
        error = why != nullptr ? why : name;
    }
    return static_cast<DynamicLibrary>(library);
}

void* FindLibrarySymbol(DynamicLibrary library, const char* symbol) {
    return dlsym(library, symbol);
}

void CloseLibrary(DynamicLibrary library) {
    dlclose(library);
}
