// Shared by the engine's unit tests: a fresh engine per test, a scratch folder, and access to
// the fake encoder modules' logs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bladeenc.h"
#include "capture.h"
#include "dynamic_library.h"
#include "encoder.h"
#include "failure.h"
#include "fake_encoder.h"
#include "scripted_wavein.h"
#include "session.h"
#include "test_files.h"

inline std::vector<unsigned char> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

class EngineTest : public ::testing::Test {
public:  // the parameterised cases arrange their faults through it
    void SetUp() override {
        scripted::Reset();
        // A fresh process's engine: nothing loaded, nothing failed, not recording.
        g_bEncoderLoaded = 0;
        g_EncoderApi = {};
        g_bRecording = 0;
        TakeFailure();
        // A fake loaded by an earlier test in this process keeps its log: clear it.
        for (const char* kind : {"counting", "failing_init", "missing_vbr_header"})
            ResetFakeModule(FakeModulePath(kind));
        UseModule("counting");
        folder_ = MakeScratchFolder("voxmere-unit");
    }

    void TearDown() override {
        CloseCapture();
        CloseEncoder();
        // A module the engine keeps loaded cannot be deleted on Windows; it stays behind.
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    void UseModule(const std::string& kind) {
        modulePath_ = FakeModulePath(kind);
        g_pszEncoderLibrary = modulePath_.c_str();
    }

    // The fake module the engine loaded, through its own entry points.
    template <typename Fn>
    Fn Fake(const char* name) {
        EXPECT_TRUE(IsLibraryLoaded(modulePath_)) << "the engine has not loaded " << modulePath_;
        return reinterpret_cast<Fn>(LoadedLibrarySymbol(modulePath_, name));
    }
    const FakeLog& Log() { return *Fake<const FakeLog* (*)()>("fakeLog")(); }
    void ResetFake() { Fake<void (*)()>("fakeReset")(); }
    void SetEncode(int bytes, BE_ERR result, int sleepMs = 0) {
        Fake<void (*)(int, BE_ERR, int)>("fakeSetEncode")(bytes, result, sleepMs);
    }

    std::filesystem::path Path(const std::string& name) const { return folder_ / name; }

    std::string modulePath_;
    std::filesystem::path folder_;
};

// The 8-byte record the counting fake returns for one beEncodeChunk call.
inline std::vector<unsigned char> FakeChunk(int call, uint32_t nSamples, int16_t first) {
    std::vector<unsigned char> chunk = {'C', static_cast<unsigned char>(call)};
    for (int i = 0; i < 4; ++i)
        chunk.push_back(static_cast<unsigned char>(nSamples >> (8 * i)));
    chunk.push_back(static_cast<unsigned char>(static_cast<uint16_t>(first) & 0xFF));
    chunk.push_back(static_cast<unsigned char>(static_cast<uint16_t>(first) >> 8));
    return chunk;
}
