// The real encoder module, loaded by name as the engine loads it, fed synthetic PCM; its
// output decoded with libmpg123.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bladeenc.h"
#include "encoder_config.h"
#include "mp3_probe.h"

namespace {

using ::testing::AllOf;
using ::testing::Each;
using ::testing::Field;

struct Module {
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER writeVbrHeader = nullptr;
};

// Loaded once per process and never released, as the engine does.
const Module& Lame() {
    static const Module module = [] {
        Module m;
        void* handle = dlopen("lame_enc.so", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            return m;
        m.init = reinterpret_cast<BEINITSTREAM>(dlsym(handle, TEXT_BEINITSTREAM));
        m.encode = reinterpret_cast<BEENCODECHUNK>(dlsym(handle, TEXT_BEENCODECHUNK));
        m.deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(handle, TEXT_BEDEINITSTREAM));
        m.close = reinterpret_cast<BECLOSESTREAM>(dlsym(handle, TEXT_BECLOSESTREAM));
        m.version = reinterpret_cast<BEVERSION>(dlsym(handle, TEXT_BEVERSION));
        m.writeVbrHeader = reinterpret_cast<BEWRITEVBRHEADER>(dlsym(handle, TEXT_BEWRITEVBRHEADER));
        return m;
    }();
    return module;
}

constexpr BE_DWORD kChunkValues = 88200;  // one second of 44100 Hz stereo, as the engine hands it
constexpr BE_DWORD kEngineBlock = 705600;

// The record the engine builds for a session at bitrate.
BE_CONFIG EngineRecord(BE_DWORD bitrate) {
    return BuildEncoderConfig(bitrate, 44100, 0);
}

// frames of a sine at hz on every channel, starting at frame number start of the signal.
std::vector<short> Sine(size_t frames, double hz, size_t start = 0, int channels = 2) {
    std::vector<short> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(start + i) / 44100;
        const auto v = static_cast<short>(std::lround(16000 * std::sin(2 * std::numbers::pi * hz * t)));
        for (int c = 0; c < channels; ++c)
            pcm[i * channels + c] = v;
    }
    return pcm;
}

// An open stream, closed when the test ends whatever happens.
class Stream {
public:
    explicit Stream(BE_CONFIG config) : config_(config) {
        result_ = Lame().init(&config_, &samples_, &bufferSize_, &handle_);
    }
    ~Stream() {
        if (result_ == BE_ERR_SUCCESSFUL)
            Lame().close(handle_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    BE_ERR result() const { return result_; }
    HBE_STREAM handle() const { return handle_; }
    BE_DWORD samples() const { return samples_; }
    BE_DWORD bufferSize() const { return bufferSize_; }

    // Encodes pcm as one chunk into a block of exactly the size promised for it (1.25 bytes a
    // frame plus 7200) followed by a guard, appends the output to mp3, and fails the test if
    // the module wrote past the block.
    BE_ERR Encode(const std::vector<short>& pcm, int channels = 2) {
        const size_t frames = pcm.size() / channels;
        const size_t block = frames + frames / 4 + 7200;
        std::vector<unsigned char> out(block + kGuard, 0xA5);
        BE_DWORD bytes = 12345;
        const BE_ERR err =
            Lame().encode(handle_, static_cast<BE_DWORD>(pcm.size()), pcm.data(), out.data(), &bytes);
        EXPECT_LE(bytes, block);
        EXPECT_TRUE(std::all_of(out.begin() + block, out.end(), [](unsigned char b) { return b == 0xA5; }))
            << "written past the block";
        mp3.insert(mp3.end(), out.begin(), out.begin() + std::min<size_t>(bytes, block));
        return err;
    }

    // The flush into a block of 7200 bytes, the most it may produce.
    BE_ERR Flush() {
        std::vector<unsigned char> out(7200 + kGuard, 0xA5);
        BE_DWORD bytes = 12345;
        const BE_ERR err = Lame().deinit(handle_, out.data(), &bytes);
        EXPECT_LE(bytes, 7200u);
        EXPECT_TRUE(std::all_of(out.begin() + 7200, out.end(), [](unsigned char b) { return b == 0xA5; }));
        mp3.insert(mp3.end(), out.begin(), out.begin() + std::min<BE_DWORD>(bytes, 7200));
        return err;
    }

    std::vector<unsigned char> mp3;

private:
    static constexpr size_t kGuard = 4096;
    BE_CONFIG config_;
    BE_DWORD samples_ = 0;
    BE_DWORD bufferSize_ = 0;
    HBE_STREAM handle_ = 0;
    BE_ERR result_ = BE_ERR_INVALID_FORMAT;
};

class LameModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Module& m = Lame();
        ASSERT_TRUE(m.init && m.encode && m.deinit && m.close && m.version && m.writeVbrHeader)
            << "lame_enc.so not loaded with all six entry points: " << dlerror();
    }
};

// What LAME makes of the engine's record at each listed rate.
struct RateCase {
    BE_DWORD bitrate;
    int sampleRate;
    int mpegVersion;
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.bitrate << " kbps";
}

class PerBitRate : public LameModuleTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(PerBitRate, ReportsFrameSamplesAndTheOutputBound) {
    Stream s(EngineRecord(GetParam().bitrate));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    const BE_DWORD perChannel = GetParam().mpegVersion == 1 ? 1152 : 576;
    EXPECT_EQ(s.samples(), perChannel * 2);
    EXPECT_EQ(s.bufferSize(), perChannel * 5 / 4 + 7200);
}

TEST_P(PerBitRate, ThreeSecondsOfSineDecodeWithLamesHeaders) {
    const RateCase c = GetParam();
    Stream s(EngineRecord(c.bitrate));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    for (size_t second = 0; second < 3; ++second) {
        ASSERT_EQ(s.Encode(Sine(kChunkValues / 2, 440, second * 44100)), BE_ERR_SUCCESSFUL);
    }
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);

    const Mp3Probe p = ProbeMp3Bytes(s.mp3);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.sampleRate, c.sampleRate);
    EXPECT_EQ(p.channels, 2);
    // All three seconds, plus the encoder's lead-in (576 + 529 samples) and the padding of the
    // last frame: nothing lost, nothing invented.
    const double frame = (c.mpegVersion == 1 ? 1152.0 : 576.0) / c.sampleRate;
    EXPECT_GE(p.seconds, 3.0 + 1105.0 / c.sampleRate);
    EXPECT_LE(p.seconds, 3.0 + 1105.0 / c.sampleRate + 2 * frame);
    EXPECT_NEAR(p.dominantHz, 440, 1);
    EXPECT_LT(p.maxPhaseJumpSamples, 1.0) << "the chunks do not join up";
    EXPECT_FALSE(p.hasXingOrInfo);
    EXPECT_THAT(p.frames, Each(AllOf(Field(&Mp3Frame::mpegVersion, c.mpegVersion), Field(&Mp3Frame::layer, 3),
                                     Field(&Mp3Frame::sampleRate, c.sampleRate),
                                     Field(&Mp3Frame::bitrateKbps, static_cast<int>(c.bitrate)),
                                     Field(&Mp3Frame::mode, Mp3Mode::JointStereo),
                                     Field(&Mp3Frame::crc, false), Field(&Mp3Frame::privateBit, true),
                                     Field(&Mp3Frame::copyright, true), Field(&Mp3Frame::original, true))));
}

// A whole second of full-scale noise is the most a chunk can cost; the output stays within
// LAME's bound for 44100 frames (62325 bytes), far below the engine's 705600-byte block, and
// the rate stays constant where an average-rate encoder would spend more.
TEST_P(PerBitRate, FullScaleNoiseStaysWithinTheBoundAtTheConstantRate) {
    Stream s(EngineRecord(GetParam().bitrate));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    std::mt19937 random(GetParam().bitrate);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<short> noise(kChunkValues);
    for (short& v : noise)
        v = static_cast<short>(value(random));
    for (int chunk = 0; chunk < 2; ++chunk) {
        ASSERT_EQ(s.Encode(noise), BE_ERR_SUCCESSFUL);
        EXPECT_LE(s.mp3.size(), 62325u * (chunk + 1));
    }
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    const Mp3Probe p = ProbeMp3Bytes(s.mp3);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_THAT(p.frames, Each(Field(&Mp3Frame::bitrateKbps, static_cast<int>(GetParam().bitrate))));
}

INSTANTIATE_TEST_SUITE_P(TheEightListedRates, PerBitRate,
                         ::testing::Values(RateCase{16, 8000, 25}, RateCase{32, 16000, 2},
                                           RateCase{48, 22050, 2}, RateCase{64, 24000, 2},
                                           RateCase{96, 32000, 1}, RateCase{128, 44100, 1},
                                           RateCase{160, 44100, 1}, RateCase{256, 44100, 1}),
                         [](const auto& info) { return std::to_string(info.param.bitrate) + "kbps"; });

// The continuity measure the checks above rely on sees a piece of audio go missing between
// two chunks.
TEST_F(LameModuleTest, ALostPieceBetweenChunksShowsAsAPhaseJump) {
    Stream s(EngineRecord(128));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Encode(Sine(44100, 440, 0)), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Encode(Sine(44100, 440, 44100 + 1050)), BE_ERR_SUCCESSFUL);  // 10.5 periods skipped
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    const Mp3Probe p = ProbeMp3Bytes(s.mp3);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_GT(p.maxPhaseJumpSamples, 20);
}

struct BadRecord {
    const char* name;
    std::function<void(BE_CONFIG&)> spoil;
};

void PrintTo(const BadRecord& r, std::ostream* os) {
    *os << r.name;
}

class RefusedRecord : public LameModuleTest, public ::testing::WithParamInterface<BadRecord> {};

TEST_P(RefusedRecord, IsRefusedAsInvalidParameters) {
    BE_CONFIG config = EngineRecord(128);
    GetParam().spoil(config);
    BE_DWORD samples = 0, bufferSize = 0;
    HBE_STREAM handle = 0;
    EXPECT_EQ(Lame().init(&config, &samples, &bufferSize, &handle), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, RefusedRecord,
    ::testing::Values(
        BadRecord{"UnknownConfig", [](BE_CONFIG& c) { c.dwConfig = 7; }},
        BadRecord{"StructTooSmall", [](BE_CONFIG& c) { c.format.lhv1.dwStructSize = 330; }},
        BadRecord{"StructVersionZero", [](BE_CONFIG& c) { c.format.lhv1.dwStructVersion = 0; }},
        BadRecord{"SampleRateZero", [](BE_CONFIG& c) { c.format.lhv1.dwSampleRate = 0; }},
        BadRecord{"SampleRateAbsurd", [](BE_CONFIG& c) { c.format.lhv1.dwSampleRate = 1234567; }},
        BadRecord{"BitRateZero", [](BE_CONFIG& c) { c.format.lhv1.dwBitrate = 0; }},
        BadRecord{"BitRateAbsurd", [](BE_CONFIG& c) { c.format.lhv1.dwBitrate = 999; }},
        // 144 kbit/s exists for MPEG-2 only; LAME would quietly encode 128.
        BadRecord{"BitRateNotInTheChosenTable", [](BE_CONFIG& c) { c.format.lhv1.dwBitrate = 144; }},
        // LAME would quietly encode at 44100 Hz.
        BadRecord{"OutputRateNotMpeg", [](BE_CONFIG& c) { c.format.lhv1.dwReSampleRate = 12345; }},
        // More output per input frame than the caller's block is sized for.
        BadRecord{"Upsampling", [](BE_CONFIG& c) { c.format.lhv1.dwReSampleRate = 48000; }},
        BadRecord{"UnknownMode", [](BE_CONFIG& c) { c.format.lhv1.nMode = 7; }},
        BadRecord{"UnknownPreset", [](BE_CONFIG& c) { c.format.lhv1.nPreset = 13; }},
        BadRecord{"VariableRate", [](BE_CONFIG& c) { c.format.lhv1.bEnableVBR = 1; }},
        BadRecord{"BladeEncFormAt22050",
                  [](BE_CONFIG& c) {
                      std::memset(&c, 0, sizeof(c));
                      c.dwConfig = BE_CONFIG_MP3;
                      c.format.mp3.dwSampleRate = 22050;
                      c.format.mp3.wBitrate = 128;
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LameModuleTest, NullPointersAreRefusedNotFollowed) {
    BE_CONFIG config = EngineRecord(128);
    BE_DWORD samples = 0, bufferSize = 0;
    HBE_STREAM handle = 0;
    EXPECT_EQ(Lame().init(nullptr, &samples, &bufferSize, &handle), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lame().init(&config, nullptr, &bufferSize, &handle), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lame().init(&config, &samples, nullptr, &handle), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(Lame().init(&config, &samples, &bufferSize, nullptr), BE_ERR_INVALID_FORMAT_PARAMETERS);

    Stream s(EngineRecord(128));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    unsigned char out[8] = {};
    BE_DWORD bytes = 99;
    EXPECT_EQ(Lame().encode(s.handle(), 2, nullptr, out, &bytes), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(Lame().deinit(s.handle(), nullptr, &bytes), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

TEST_F(LameModuleTest, UnknownHandlesAreRefusedWithNoOutput) {
    const short pcm[4] = {};
    unsigned char out[16];
    for (HBE_STREAM bogus : {0u, 0xDEADBEEFu}) {
        BE_DWORD bytes = 99;
        EXPECT_EQ(Lame().encode(bogus, 4, pcm, out, &bytes), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(bytes, 0u);
        bytes = 99;
        EXPECT_EQ(Lame().deinit(bogus, out, &bytes), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(Lame().close(bogus), BE_ERR_INVALID_HANDLE);
    }
}

TEST_F(LameModuleTest, AClosedHandleStaysInvalidAfterNewStreamsOpen) {
    BE_CONFIG config = EngineRecord(128);
    BE_DWORD samples = 0, bufferSize = 0;
    HBE_STREAM closed = 0;
    ASSERT_EQ(Lame().init(&config, &samples, &bufferSize, &closed), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(Lame().close(closed), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(Lame().close(closed), BE_ERR_INVALID_HANDLE);

    Stream next(EngineRecord(128));  // takes the slot the closed stream had
    ASSERT_EQ(next.result(), BE_ERR_SUCCESSFUL);
    EXPECT_NE(next.handle(), closed);
    const std::vector<short> pcm = Sine(1152, 440);
    std::vector<unsigned char> out(10000);
    BE_DWORD bytes = 99;
    EXPECT_EQ(Lame().encode(closed, static_cast<BE_DWORD>(pcm.size()), pcm.data(), out.data(), &bytes),
              BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(bytes, 0u);
}

TEST_F(LameModuleTest, AFullTableRefusesAStreamUntilOneCloses) {
    std::vector<std::unique_ptr<Stream>> open;
    BE_ERR last = BE_ERR_SUCCESSFUL;
    while (last == BE_ERR_SUCCESSFUL && open.size() < 1000) {
        open.push_back(std::make_unique<Stream>(EngineRecord(64)));
        last = open.back()->result();
    }
    ASSERT_EQ(last, BE_ERR_NO_MORE_HANDLES);
    ASSERT_GE(open.size(), 3u);
    open.pop_back();  // the refused one
    open.erase(open.begin());
    EXPECT_EQ(Stream(EngineRecord(64)).result(), BE_ERR_SUCCESSFUL);
}

TEST_F(LameModuleTest, TwoStreamsAtOnceEncodeIndependently) {
    Stream a(EngineRecord(128));
    Stream b(EngineRecord(64));
    ASSERT_EQ(a.result(), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(b.result(), BE_ERR_SUCCESSFUL);
    for (size_t second = 0; second < 2; ++second) {
        ASSERT_EQ(a.Encode(Sine(44100, 440, second * 44100)), BE_ERR_SUCCESSFUL);
        ASSERT_EQ(b.Encode(Sine(44100, 1000, second * 44100)), BE_ERR_SUCCESSFUL);
    }
    ASSERT_EQ(a.Flush(), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(b.Flush(), BE_ERR_SUCCESSFUL);

    const Mp3Probe pa = ProbeMp3Bytes(a.mp3);
    const Mp3Probe pb = ProbeMp3Bytes(b.mp3);
    ASSERT_TRUE(pa.ok && pb.ok) << pa.error << pb.error;
    EXPECT_EQ(pa.sampleRate, 44100);
    EXPECT_EQ(pb.sampleRate, 24000);
    EXPECT_NEAR(pa.dominantHz, 440, 1);
    EXPECT_NEAR(pb.dominantHz, 1000, 1);
    EXPECT_LT(pa.maxPhaseJumpSamples, 1.0);
    EXPECT_LT(pb.maxPhaseJumpSamples, 1.0);
}

TEST_F(LameModuleTest, AFlushedStreamTakesNoMoreInputAndFlushesOnce) {
    Stream s(EngineRecord(128));
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Encode(Sine(44100, 440)), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    const size_t flushed = s.mp3.size();
    EXPECT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(s.Encode(Sine(44100, 440, 44100)), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(s.mp3.size(), flushed);
}

TEST_F(LameModuleTest, MonoTakesOneValuePerFrame) {
    BE_CONFIG config = EngineRecord(64);
    config.format.lhv1.nMode = BE_MP3_MODE_MONO;
    config.format.lhv1.nPreset = LQP_NORMAL_QUALITY;  // the record's mode and rate
    config.format.lhv1.dwReSampleRate = 44100;
    Stream s(config);
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(s.samples(), 1152u);
    for (size_t second = 0; second < 2; ++second) {
        ASSERT_EQ(s.Encode(Sine(44100, 440, second * 44100, 1), 1), BE_ERR_SUCCESSFUL);
    }
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    const Mp3Probe p = ProbeMp3Bytes(s.mp3);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.channels, 1);
    EXPECT_NEAR(p.seconds, 2.0, 0.1);
    EXPECT_NEAR(p.dominantHz, 440, 1);
    EXPECT_THAT(p.frames, Each(AllOf(Field(&Mp3Frame::mode, Mp3Mode::Mono), Field(&Mp3Frame::bitrateKbps, 64),
                                     Field(&Mp3Frame::sampleRate, 44100))));
}

TEST_F(LameModuleTest, BladeEncFormKeepsItsRateModeAndBits) {
    BE_CONFIG config;
    std::memset(&config, 0, sizeof(config));
    config.dwConfig = BE_CONFIG_MP3;
    config.format.mp3.dwSampleRate = 44100;
    config.format.mp3.byMode = BE_MP3_MODE_STEREO;
    config.format.mp3.wBitrate = 192;
    config.format.mp3.bCRC = 1;
    Stream s(config);
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Encode(Sine(44100, 440)), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);
    const Mp3Probe p = ProbeMp3Bytes(s.mp3);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_THAT(p.frames,
                Each(AllOf(Field(&Mp3Frame::mode, Mp3Mode::Stereo), Field(&Mp3Frame::bitrateKbps, 192),
                           Field(&Mp3Frame::sampleRate, 44100), Field(&Mp3Frame::crc, true),
                           Field(&Mp3Frame::privateBit, false), Field(&Mp3Frame::copyright, false))));
}

// With the tag requested the stream starts with a placeholder frame; beWriteVBRHeader puts
// the final Info frame there, and a decoder then knows the exact length.
TEST_F(LameModuleTest, TheVbrHeaderMakesTheLengthExact) {
    BE_CONFIG config = EngineRecord(128);
    config.format.lhv1.bWriteVBRHeader = 1;
    Stream s(config);
    ASSERT_EQ(s.result(), BE_ERR_SUCCESSFUL);
    for (size_t second = 0; second < 3; ++second) {
        ASSERT_EQ(s.Encode(Sine(44100, 440, second * 44100)), BE_ERR_SUCCESSFUL);
    }
    ASSERT_EQ(s.Flush(), BE_ERR_SUCCESSFUL);

    char pattern[] = "/tmp/voxmere-lame.XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern);
    const std::string path = (folder / "tagged.mp3").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(s.mp3.data()), s.mp3.size());

    EXPECT_EQ(Lame().writeVbrHeader((folder / "missing.mp3").c_str()), BE_ERR_INVALID_FORMAT_PARAMETERS);
    ASSERT_EQ(Lame().writeVbrHeader(path.c_str()), BE_ERR_SUCCESSFUL);
    const Mp3Probe p = ProbeMp3File(path);
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.hasXingOrInfo);
    EXPECT_GE(p.encoderDelay, 576);
    EXPECT_EQ(p.left.size(), 3u * 44100);
    EXPECT_LT(p.maxPhaseJumpSamples, 1.0);
}

TEST_F(LameModuleTest, VersionIsLamesOwn) {
    BE_VERSION v;
    std::memset(&v, 0xFF, sizeof(v));
    Lame().version(&v);
    EXPECT_EQ(v.byDLLMajorVersion, 1);
    EXPECT_EQ(v.byMajorVersion, 3);
    EXPECT_EQ(v.byMinorVersion, 100);
    EXPECT_THAT(std::string(v.zHomepage), ::testing::StartsWith("http"));
    EXPECT_GE(v.wYear, 2024);
    EXPECT_TRUE(v.byMonth >= 1 && v.byMonth <= 12);
}

}  // namespace
