// What every suite shares about files: the test binary's folder (where the build puts each
// module the tests load), a whole file's bytes, and the fake encoder modules.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::filesystem::path BinaryFolder() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

// Empty when the file cannot be read.
inline std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The fake encoder module of kind: "counting", "failing_init" or "missing_vbr_header".
inline std::string FakeModulePath(const std::string& kind) {
    return (BinaryFolder() / ("fake_enc_" + kind + ".so")).string();
}

// The engine keeps a module loaded for the process's life, so a fake loaded by an earlier
// test still holds that test's call log: clears it, if this process has loaded the fake.
inline void ResetFakeModule(const std::string& path) {
    if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        if (auto reset = reinterpret_cast<void (*)()>(dlsym(module, "fakeReset")))
            reset();
        dlclose(module);  // drops only this lookup's reference
    }
}
