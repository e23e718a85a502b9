// Loading a shared library at run time and finding its entry points by name: dlopen on POSIX
// systems (dynamic_library_posix.cpp), LoadLibraryExW on Windows (dynamic_library_win32.cpp).
//
// A name without a folder is looked for where the program's own libraries are: on Windows
// the executable's folder and the system folder, never the current folder or PATH; elsewhere
// the platform's library search (the executable's RUNPATH first). A name with a folder
// (either slash on Windows) loads that file. Names are UTF-8; Windows gets them as UTF-16, so
// a folder with any characters works.
#pragma once

#include <string>

// The file-name ending of a loadable library here, for building names like "lame_enc.dll".
#ifdef _WIN32
#define DYNAMIC_LIBRARY_SUFFIX ".dll"
#else
#define DYNAMIC_LIBRARY_SUFFIX ".so"
#endif

typedef struct DynamicLibrary__* DynamicLibrary;

// Loads the library with all its symbols resolved now. Null on failure, with the system's own
// words (naming the file) in error.
DynamicLibrary OpenLibrary(const char* name, std::string& error);

// The address of an exported symbol, or null when the library has none of that name.
void* FindLibrarySymbol(DynamicLibrary library, const char* symbol);

// Drops this reference; the library is unloaded once none is left.
void CloseLibrary(DynamicLibrary library);
