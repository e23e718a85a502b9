#include "mp3_probe.h"

#include <mpg123.h>
#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>

namespace {

// The stream as libmpg123 reads it through a replaced reader, so bytes in memory and files
// take the same road.
struct MemoryReader {
    const std::vector<unsigned char>* bytes;
    size_t position = 0;
};

mpg123_ssize_t ReadMemory(void* handle, void* buffer, size_t count) {
    auto* reader = static_cast<MemoryReader*>(handle);
    const size_t n = std::min(count, reader->bytes->size() - reader->position);
    std::memcpy(buffer, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return static_cast<mpg123_ssize_t>(n);
}

off_t SeekMemory(void* handle, off_t offset, int whence) {
    auto* reader = static_cast<MemoryReader*>(handle);
    const off_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<off_t>(reader->position)
                                            : static_cast<off_t>(reader->bytes->size());
    const off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(reader->bytes->size()))
        return -1;
    reader->position = static_cast<size_t>(target);
    return target;
}

using Handle = std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)>;

void Release(mpg123_handle* mh) {
    mpg123_close(mh);
    mpg123_delete(mh);
}

// A decoder over the bytes that outputs 16-bit PCM at the stream's own rate and channels.
// ignoreInfoFrame makes libmpg123 treat a Xing/Info frame as an ordinary frame.
Handle OpenDecoder(MemoryReader& reader, bool ignoreInfoFrame, std::string& error) {
    static const int initialised = mpg123_init();
    (void)initialised;
    int err = MPG123_OK;
    Handle mh(mpg123_new(nullptr, &err), Release);
    if (!mh) {
        error = mpg123_plain_strerror(err);
        return mh;
    }
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(mh.get(), MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
    mpg123_param(mh.get(), MPG123_FORCE_RATE, 0, 0);
    if (ignoreInfoFrame)
        mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0);

    mpg123_format_none(mh.get());
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) {
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }

    if (mpg123_replace_reader_handle(mh.get(), ReadMemory, SeekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh.get(), &reader) != MPG123_OK) {
        error = mpg123_strerror(mh.get());
        mh.reset();
    }
    return mh;
}

Mp3Frame FrameOf(const mpg123_frameinfo2& info) {
    Mp3Frame f;
    f.mpegVersion = info.version == MPG123_1_0 ? 1 : info.version == MPG123_2_0 ? 2 : 25;
    f.layer = info.layer;
    f.sampleRate = static_cast<int>(info.rate);
    f.bitrateKbps = info.bitrate;
    f.mode = info.mode == MPG123_M_JOINT  ? Mp3Mode::JointStereo
             : info.mode == MPG123_M_DUAL ? Mp3Mode::DualChannel
             : info.mode == MPG123_M_MONO ? Mp3Mode::Mono
                                          : Mp3Mode::Stereo;
    f.crc = (info.flags & MPG123_CRC) != 0;
    f.privateBit = (info.flags & MPG123_PRIVATE) != 0;
    f.copyright = (info.flags & MPG123_COPYRIGHT) != 0;
    f.original = (info.flags & MPG123_ORIGINAL) != 0;
    return f;
}

// Frames libmpg123 delivers when it treats an info frame as audio; -1 on a decoding error.
long CountFramesIgnoringInfo(const std::vector<unsigned char>& bytes, std::string& error) {
    MemoryReader reader{&bytes};
    Handle mh = OpenDecoder(reader, true, error);
    if (!mh)
        return -1;
    long frames = 0;
    for (;;) {
        const int rc = mpg123_framebyframe_next(mh.get());
        if (rc == MPG123_DONE)
            return frames;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            error = mpg123_strerror(mh.get());
            return -1;
        }
        ++frames;
    }
}

// Power of x at freq (Goertzel), x already windowed.
double PowerAt(const std::vector<double>& x, double freq, double rate) {
    const double coeff = 2 * std::cos(2 * std::numbers::pi * freq / rate);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// The part of the signal between the encoder's lead-in and its tail: from the first to the
// last sample reaching a quarter of the peak. A gap inside stays inside.
std::pair<size_t, size_t> EstablishedSpan(const std::vector<short>& x) {
    int peak = 0;
    for (short v : x)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    const int threshold = std::max(1, peak / 4);
    auto loud = [threshold](short v) { return std::abs(static_cast<int>(v)) >= threshold; };
    const auto first = std::find_if(x.begin(), x.end(), loud);
    if (first == x.end())
        return {0, 0};
    const auto last = std::find_if(x.rbegin(), x.rend(), loud).base();
    return {static_cast<size_t>(first - x.begin()), static_cast<size_t>(last - x.begin())};
}

double DominantHz(const std::vector<short>& x, int rate) {
    auto [begin, end] = EstablishedSpan(x);
    // At most one second from the middle of the signal: 1 Hz bins, and the ends kept out.
    const size_t length = std::min(end - begin, static_cast<size_t>(rate));
    if (length < 64)
        return 0;
    begin += (end - begin - length) / 2;
    std::vector<double> windowed(length);
    for (size_t i = 0; i < length; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / (length - 1));
        windowed[i] = hann * x[begin + i];
    }
    auto best = [&](double from, double to, double step) {
        double bestHz = from, bestPower = -1;
        for (double f = from; f <= to; f += step) {
            const double p = PowerAt(windowed, f, rate);
            if (p > bestPower) {
                bestPower = p;
                bestHz = f;
            }
        }
        return bestHz;
    };
    const double coarse = best(100, 2000, 5);
    return best(coarse - 5, coarse + 5, 0.25);
}

// The worst jump, and the sample it lies at.
std::pair<double, double> MaxPhaseJump(const std::vector<short>& x) {
    const auto [begin, end] = EstablishedSpan(x);
    int peak = 0;
    for (size_t i = begin; i < end; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(x[i])));
    // A rising crossing counts only after the signal went below -peak/10 since the last one,
    // so coding noise around zero cannot make two of one.
    const int armLevel = -peak / 10;
    std::vector<double> crossings;
    bool armed = false;
    for (size_t i = begin; i + 1 < end; ++i) {
        if (x[i] < armLevel)
            armed = true;
        if (armed && x[i] < 0 && x[i + 1] >= 0) {
            crossings.push_back(i + static_cast<double>(x[i]) / (x[i] - x[i + 1]));
            armed = false;
        }
    }
    // The codec spreads an abrupt start or end (a source that appears or vanishes mid-wave)
    // over up to a frame of 1152 samples: there the crossings wander by a sample or two. Only
    // crossings a frame inside the established span count.
    constexpr double kCodecSmear = 1152;
    std::vector<double> spacing;
    std::vector<double> spacingAt;
    for (size_t k = 0; k + 1 < crossings.size(); ++k) {
        if (crossings[k] >= begin + kCodecSmear && crossings[k + 1] <= end - kCodecSmear) {
            spacing.push_back(crossings[k + 1] - crossings[k]);
            spacingAt.push_back(crossings[k]);
        }
    }
    if (spacing.size() < 4)
        return {0, 0};
    std::vector<double> sorted = spacing;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double typical = sorted[sorted.size() / 2];
    double worst = 0, at = 0;
    for (size_t k = 0; k < spacing.size(); ++k) {
        if (std::abs(spacing[k] - typical) > worst) {
            worst = std::abs(spacing[k] - typical);
            at = spacingAt[k];
        }
    }
    return {worst, at};
}

}  // namespace

Mp3Probe ProbeMp3Bytes(const std::vector<unsigned char>& bytes) {
    Mp3Probe probe;
    MemoryReader reader{&bytes};
    Handle mh = OpenDecoder(reader, false, probe.error);
    if (!mh)
        return probe;

    for (;;) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        size_t size = 0;
        const int rc = mpg123_decode_frame(mh.get(), &number, &audio, &size);
        if (rc == MPG123_DONE)
            break;
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(mh.get(), &rate, &channels, &encoding);
            probe.sampleRate = static_cast<int>(rate);
            probe.channels = channels;
            continue;
        }
        if (rc != MPG123_OK) {
            probe.error = mpg123_strerror(mh.get());
            return probe;
        }
        mpg123_frameinfo2 info{};
        mpg123_info2(mh.get(), &info);
        probe.frames.push_back(FrameOf(info));

        const auto* pcm = reinterpret_cast<const short*>(audio);
        const size_t values = size / sizeof(short);
        for (size_t i = 0; i < values; i += probe.channels) {
            probe.left.push_back(pcm[i]);
            probe.right.push_back(pcm[i + probe.channels - 1]);
        }
    }
    if (probe.frames.empty()) {
        probe.error = "no MPEG audio frame in the stream";
        return probe;
    }

    long delay = -1, padding = -1;
    double unused = 0;
    mpg123_getstate(mh.get(), MPG123_ENC_DELAY, &delay, &unused);
    mpg123_getstate(mh.get(), MPG123_ENC_PADDING, &padding, &unused);
    probe.encoderDelay = static_cast<int>(delay);
    probe.encoderPadding = static_cast<int>(padding);

    // libmpg123 skips a Xing/Info frame it recognises: told to ignore it, it delivers one more.
    const long allFrames = CountFramesIgnoringInfo(bytes, probe.error);
    if (allFrames < 0)
        return probe;
    probe.hasXingOrInfo = allFrames > static_cast<long>(probe.frames.size());

    probe.seconds = static_cast<double>(probe.left.size()) / probe.sampleRate;
    probe.dominantHz = DominantHz(probe.left, probe.sampleRate);
    const auto [jump, at] = MaxPhaseJump(probe.left);
    probe.maxPhaseJumpSamples = jump;
    probe.maxPhaseJumpAtSeconds = at / probe.sampleRate;
    probe.ok = true;
    return probe;
}

Mp3Probe ProbeMp3File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Mp3Probe probe;
        probe.error = "cannot open " + path;
        return probe;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    return ProbeMp3Bytes(bytes);
}

double SoundingSeconds(const Mp3Probe& probe) {
    if (probe.left.empty())
        return 0;
    int peak = 0;
    for (short s : probe.left)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    const int threshold = peak / 4;
    auto loud = [&](short s) { return std::abs(static_cast<int>(s)) > threshold; };
    const auto first = std::find_if(probe.left.begin(), probe.left.end(), loud);
    const auto last = std::find_if(probe.left.rbegin(), probe.left.rend(), loud);
    if (first == probe.left.end())
        return 0;
    const auto span = std::distance(first, last.base());
    return static_cast<double>(span) / probe.sampleRate;
}
