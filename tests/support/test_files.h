// What every suite shares about files: a whole file's bytes, and the fake encoder modules the
// build puts beside each test binary.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dynamic_library.h"
#include "test_platform.h"

// Empty when the file cannot be read.
inline std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The fake encoder module of kind: "counting", "failing_init" or "missing_vbr_header".
inline std::string FakeModulePath(const std::string& kind) {
    return (ExecutableFolder() / ("fake_enc_" + kind + DYNAMIC_LIBRARY_SUFFIX)).string();
}

// The engine keeps a module loaded for the process's life, so a fake loaded by an earlier
// test still holds that test's call log: clears it, if this process has loaded the fake.
inline void ResetFakeModule(const std::string& path) {
    if (auto reset = reinterpret_cast<void (*)()>(LoadedLibrarySymbol(path, "fakeReset")))
        reset();
}
