// What the unit tests need of the operating system beyond the standard library: where the
// test binary lives, a scratch folder, and a look at the libraries the engine has loaded
// (test_platform_posix.cpp, test_platform_win32.cpp).
#pragma once

#include <filesystem>
#include <string>

// The folder of the running executable, where the fake encoder modules are built.
std::filesystem::path ExecutableFolder();

// A new, empty folder of the system's temporary folder, named prefix and a unique tail.
std::filesystem::path MakeScratchFolder(const std::string& prefix);

// The address of symbol in the library at path if this process has it loaded, without
// loading it and without keeping a reference; null when it is not loaded or lacks symbol.
void* LoadedLibrarySymbol(const std::string& path, const char* symbol);
bool IsLibraryLoaded(const std::string& path);

// A path as a std::filesystem::path from UTF-8 text, on every platform (a narrow string
// is taken in the ANSI code page on Windows).
std::filesystem::path PathFromUtf8(const std::string& utf8);

// The system's own words for an error the tests provoke, as the engine's messages quote them
// ("No such file or directory" here; Windows words it its own way, in its own language).
// kDiskFull: what a write to /dev/full fails with (Wine maps the path to the device).
enum class SystemError { kNoSuchFolder, kIsAFolder, kDiskFull };
std::string SystemWords(SystemError error);
