// The BladeEnc-compatible entry points over libmp3lame. A record is turned into the LAME
// settings that LAME's own BladeEnc-compatible DLL derives from it, so a program sees the same
// stream from this module as from that DLL: for the LQP_CBR preset LAME chooses the output
// sample rate and the mode from the bit rate.
//
// Where that DLL would silently encode something other than what the record asks (LAME quietly
// falls back to 128 kbit/s for an unknown bit rate, to the nearest rate of the table for one
// the chosen MPEG version lacks, to 44100 Hz for an unknown output rate), this module refuses
// the record with BE_ERR_INVALID_FORMAT_PARAMETERS instead: a caller learns at once that its
// stream cannot be made.
//
// Threads: the handle table is shared and locked; a stream itself is used by one thread at a
// time (the interface's contract), so encoding runs outside the lock.
#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "bladeenc.h"

namespace {

// The flush emits at most this many bytes; the caller's block must hold them.
constexpr int kFlushBytes = 7200;

// One stream. gfp is owned: lame_close when the stream is closed.
struct Stream {
    HBE_STREAM handle = 0;  // 0: free slot
    lame_global_flags* gfp = nullptr;
    int channels = 2;
    bool flushed = false;  // after beDeinitStream the stream takes no more input
    bool writesTag = false;
};

// Few streams are ever open at once (a recorder needs one); a small table bounds what a
// caller that forgets beCloseStream can hold.
constexpr size_t kMaxStreams = 16;

std::mutex g_tableMutex;
std::array<Stream, kMaxStreams> g_streams;
// Handles count up and are not reused while the counter has not wrapped, so a closed handle
// stays invalid instead of silently naming a newer stream.
HBE_STREAM g_lastHandle = 0;
// The final Xing/Info frame of the last stream flushed with the tag enabled, for
// beWriteVBRHeader. Empty when no such stream was flushed.
std::vector<unsigned char> g_lastTagFrame;

void Quiet(const char*, va_list) {}

Stream* FindLocked(HBE_STREAM handle) {
    if (handle == 0)
        return nullptr;
    for (Stream& s : g_streams) {
        if (s.handle == handle)
            return &s;
    }
    return nullptr;
}

// LAME's frame bit rates, all MPEG versions together (kbit/s).
bool IsLameBitrate(BE_DWORD kbps) {
    static constexpr BE_DWORD kRates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                          96, 112, 128, 144, 160, 192, 224, 256, 320};
    return std::find(std::begin(kRates), std::end(kRates), kbps) != std::end(kRates);
}

bool IsMpegSampleRate(BE_DWORD hz) {
    static constexpr BE_DWORD kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return std::find(std::begin(kRates), std::end(kRates), hz) != std::end(kRates);
}

// The input rates accepted: LAME resamples any of them to an MPEG rate. Outside this range
// LAME would take nonsense (0, or megahertz) without complaint.
bool IsInputSampleRate(BE_DWORD hz) {
    return hz >= 8000 && hz <= 192000;
}

// The LHV1 record a BladeEnc-form record stands for: its mode, bit rate and header bits, the
// output rate left to LAME, no preset.
BE_LHV1 FromBladeEncForm(const BE_MP3& mp3) {
    BE_LHV1 lhv1{};
    lhv1.dwStructVersion = CURRENT_STRUCT_VERSION;
    lhv1.dwStructSize = CURRENT_STRUCT_SIZE;
    lhv1.dwSampleRate = mp3.dwSampleRate;
    lhv1.nMode = mp3.byMode & 0x0F;
    lhv1.dwBitrate = mp3.wBitrate;
    lhv1.nPreset = LQP_NOPRESET;
    lhv1.bPrivate = mp3.bPrivate;
    lhv1.bCRC = mp3.bCRC & 1;
    lhv1.bCopyright = mp3.bCopyright;
    lhv1.bOriginal = mp3.bOriginal;
    return lhv1;
}

MPEG_mode LameMode(int32_t mode) {
    switch (mode) {
        case BE_MP3_MODE_STEREO:
            return STEREO;
        case BE_MP3_MODE_DUALCHANNEL:
            return DUAL_CHANNEL;
        case BE_MP3_MODE_MONO:
            return MONO;
        default:
            return JOINT_STEREO;
    }
}

// Applies the record to gfp as LAME's DLL does, then lets LAME settle the parameters. False
// when the record asks for something LAME cannot give exactly.
bool Configure(lame_global_flags* gfp, const BE_LHV1& cfg) {
    const bool knownMode = cfg.nMode == BE_MP3_MODE_STEREO || cfg.nMode == BE_MP3_MODE_JSTEREO ||
                           cfg.nMode == BE_MP3_MODE_DUALCHANNEL || cfg.nMode == BE_MP3_MODE_MONO;
    if (!knownMode || !IsInputSampleRate(cfg.dwSampleRate))
        return false;
    if (cfg.dwReSampleRate != 0 && !IsMpegSampleRate(cfg.dwReSampleRate))
        return false;
    if (cfg.nPreset < LQP_NOPRESET || cfg.nPreset > LQP_CBR)
        return false;
    // Variable-rate encoding through bEnableVBR is not offered; a record asking for it would
    // otherwise get a constant rate without being told.
    if (cfg.bEnableVBR != 0)
        return false;

    // Constant-rate records: the bit rate is the stream's rate and must come out unchanged.
    const bool constantRate = cfg.nPreset < LQP_STANDARD || cfg.nPreset == LQP_CBR;
    if (constantRate && !IsLameBitrate(cfg.dwBitrate))
        return false;

    lame_set_errorf(gfp, Quiet);
    lame_set_debugf(gfp, Quiet);
    lame_set_msgf(gfp, Quiet);

    lame_set_in_samplerate(gfp, static_cast<int>(cfg.dwSampleRate));
    lame_set_num_channels(gfp, cfg.nMode == BE_MP3_MODE_MONO ? 1 : 2);

    if (cfg.nPreset < LQP_STANDARD) {
        // Quality levels: the record's own mode and bit rate.
        lame_set_mode(gfp, LameMode(cfg.nMode));
        lame_set_brate(gfp, static_cast<int>(cfg.dwBitrate));
        switch (cfg.nPreset) {
            case LQP_LOW_QUALITY:
                lame_set_quality(gfp, 9);
                break;
            case LQP_HIGH_QUALITY:
                lame_set_quality(gfp, 2);
                break;
            case LQP_VERYHIGH_QUALITY:
                lame_set_quality(gfp, 0);
                break;
            default:
                break;  // LAME's own quality
        }
    } else {
        // LAME's presets set the mode and, at a bit rate, the output sample rate: nMode is
        // not applied, and two channels give joint stereo.
        switch (cfg.nPreset) {
            case LQP_STANDARD:
                lame_set_preset(gfp, STANDARD);
                break;
            case LQP_FAST_STANDARD:
                lame_set_preset(gfp, STANDARD_FAST);
                break;
            case LQP_EXTREME:
                lame_set_preset(gfp, EXTREME);
                break;
            case LQP_FAST_EXTREME:
                lame_set_preset(gfp, EXTREME_FAST);
                break;
            case LQP_INSANE:
                lame_set_preset(gfp, INSANE);
                break;
            case LQP_ABR:
                if (cfg.dwVbrAbr_bps / 1000 < ABR_8 || cfg.dwVbrAbr_bps / 1000 > ABR_320)
                    return false;
                lame_set_preset(gfp, static_cast<int>(cfg.dwVbrAbr_bps / 1000));
                break;
            case LQP_CBR:
                // The bit rate as LAME's average-rate preset, then held constant.
                lame_set_preset(gfp, static_cast<int>(cfg.dwBitrate));
                lame_set_VBR(gfp, vbr_off);
                break;
        }
    }

    if (cfg.dwReSampleRate > 0)
        lame_set_out_samplerate(gfp, static_cast<int>(cfg.dwReSampleRate));
    lame_set_strict_ISO(gfp, cfg.bStrictIso != 0);
    if (cfg.bCopyright != 0)
        lame_set_copyright(gfp, 1);
    lame_set_original(gfp, cfg.bOriginal != 0);
    lame_set_error_protection(gfp, cfg.bCRC != 0);
    lame_set_extension(gfp, cfg.bPrivate != 0);
    // Clamped: a named preset leaves dwBitrate unchecked, and a wild value must not reach LAME.
    lame_set_VBR_min_bitrate_kbps(gfp, static_cast<int>(std::min<BE_DWORD>(cfg.dwBitrate, 320)));
    if (cfg.bNoRes != 0)
        lame_set_disable_reservoir(gfp, 1);
    lame_set_bWriteVbrTag(gfp, cfg.bWriteVBRHeader != 0);
    // A quality level only when the high byte is the complement of the low one: a zeroed
    // record keeps LAME's default.
    const unsigned low = cfg.nQuality & 0xFFu;
    const unsigned high = (cfg.nQuality >> 8) & 0xFFu;
    if (high == (~low & 0xFFu))
        lame_set_quality(gfp, static_cast<int>(low));

    if (lame_init_params(gfp) < 0)
        return false;
    if (constantRate && lame_get_brate(gfp) != static_cast<int>(cfg.dwBitrate))
        return false;
    if (cfg.dwReSampleRate > 0 && lame_get_out_samplerate(gfp) != static_cast<int>(cfg.dwReSampleRate)) {
        return false;
    }
    // Upsampling adds nothing to an MP3 and multiplies the output per input frame, so a chunk
    // could outgrow the 1.25 bytes a frame plus 7200 that callers provide (LAME would then
    // fail mid-stream, its input already taken).
    return lame_get_out_samplerate(gfp) <= static_cast<int>(cfg.dwSampleRate);
}

// The caller's output block for frames per channel: LAME's documented worst case.
size_t OutputBound(size_t frames) {
    return frames + frames / 4 + 7200;
}

}  // namespace

BE_ERR beInitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                    HBE_STREAM* phbeStream) {
    if (pbeConfig == nullptr || dwSamples == nullptr || dwBufferSize == nullptr || phbeStream == nullptr) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    BE_LHV1 cfg{};
    if (pbeConfig->dwConfig == BE_CONFIG_LAME) {
        // Older, shorter LHV1 records are refused rather than read past their end.
        if (pbeConfig->format.lhv1.dwStructVersion < CURRENT_STRUCT_VERSION ||
            pbeConfig->format.lhv1.dwStructSize < CURRENT_STRUCT_SIZE) {
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        }
        cfg = pbeConfig->format.lhv1;
    } else if (pbeConfig->dwConfig == BE_CONFIG_MP3) {
        const BE_DWORD rate = pbeConfig->format.mp3.dwSampleRate;
        if (rate != 32000 && rate != 44100 && rate != 48000)
            return BE_ERR_INVALID_FORMAT_PARAMETERS;
        cfg = FromBladeEncForm(pbeConfig->format.mp3);
    } else {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }

    lame_global_flags* gfp = lame_init();
    if (gfp == nullptr)
        return BE_ERR_NO_MORE_HANDLES;
    if (!Configure(gfp, cfg)) {
        lame_close(gfp);
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }

    const BE_DWORD channels = static_cast<BE_DWORD>(lame_get_num_channels(gfp));
    const BE_DWORD perChannel = lame_get_version(gfp) == 1 ? 1152 : 576;  // MPEG-1 : MPEG-2 and 2.5

    std::lock_guard<std::mutex> lock(g_tableMutex);
    auto free =
        std::find_if(g_streams.begin(), g_streams.end(), [](const Stream& s) { return s.handle == 0; });
    if (free == g_streams.end()) {
        lame_close(gfp);
        return BE_ERR_NO_MORE_HANDLES;
    }
    do {
        ++g_lastHandle;
    } while (g_lastHandle == 0 || FindLocked(g_lastHandle) != nullptr);

    *free = Stream{g_lastHandle, gfp, static_cast<int>(channels), false, cfg.bWriteVBRHeader != 0};
    *dwSamples = perChannel * channels;
    *dwBufferSize = static_cast<BE_DWORD>(OutputBound(perChannel));
    *phbeStream = g_lastHandle;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const short* pSamples, unsigned char* pOutput,
                     BE_DWORD* pdwOutput) {
    if (pdwOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = 0;

    lame_global_flags* gfp = nullptr;
    int channels = 2;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        const Stream* s = FindLocked(hbeStream);
        if (s == nullptr || s->flushed)
            return BE_ERR_INVALID_HANDLE;
        gfp = s->gfp;
        channels = s->channels;
    }
    // Stereo input is whole frames: an odd last value has no partner and is not encoded.
    const size_t frames = channels == 2 ? nSamples / 2 : nSamples;
    if (frames == 0)
        return BE_ERR_SUCCESSFUL;
    if (pSamples == nullptr || pOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    // LAME counts in int: a huge chunk goes in pieces, each told how much of the caller's
    // block (1.25 bytes a frame plus 7200) is still free, so LAME never writes past it.
    constexpr size_t kPieceFrames = size_t{1} << 20;
    const size_t capacity = OutputBound(frames);
    size_t written = 0;
    for (size_t done = 0; done < frames;) {
        const int piece = static_cast<int>(std::min(kPieceFrames, frames - done));
        const int room =
            static_cast<int>(std::min<size_t>(capacity - written, std::numeric_limits<int>::max()));
        // LAME does not write to its input; the parameter just lacks const.
        short* pcm = const_cast<short*>(pSamples) + done * channels;
        const int result = channels == 2
                               ? lame_encode_buffer_interleaved(gfp, pcm, piece, pOutput + written, room)
                               : lame_encode_buffer(gfp, pcm, pcm, piece, pOutput + written, room);
        if (result < 0) {
            *pdwOutput = 0;
            return BE_ERR_BUFFER_TOO_SMALL;
        }
        written += static_cast<size_t>(result);
        done += static_cast<size_t>(piece);
    }
    *pdwOutput = static_cast<BE_DWORD>(written);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beDeinitStream(HBE_STREAM hbeStream, unsigned char* pOutput, BE_DWORD* pdwOutput) {
    if (pdwOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = 0;
    if (pOutput == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    lame_global_flags* gfp = nullptr;
    bool writesTag = false;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        Stream* s = FindLocked(hbeStream);
        if (s == nullptr)
            return BE_ERR_INVALID_HANDLE;
        // A second flush gives nothing: LAME would pad out and emit another frame.
        if (s->flushed)
            return BE_ERR_SUCCESSFUL;
        s->flushed = true;
        gfp = s->gfp;
        writesTag = s->writesTag;
    }
    const int result = lame_encode_flush(gfp, pOutput, kFlushBytes);
    if (result < 0)
        return BE_ERR_BUFFER_TOO_SMALL;
    *pdwOutput = static_cast<BE_DWORD>(result);

    if (writesTag) {
        // The tag is final once the stream is flushed: keep it for beWriteVBRHeader.
        std::vector<unsigned char> tag(2880);  // larger than any layer III frame
        tag.resize(lame_get_lametag_frame(gfp, tag.data(), tag.size()));
        if (!tag.empty()) {
            std::lock_guard<std::mutex> lock(g_tableMutex);
            g_lastTagFrame = std::move(tag);
        }
    }
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    lame_global_flags* gfp = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        Stream* s = FindLocked(hbeStream);
        if (s == nullptr)
            return BE_ERR_INVALID_HANDLE;
        gfp = s->gfp;
        *s = Stream{};
    }
    lame_close(gfp);
    return BE_ERR_SUCCESSFUL;
}

void beVersion(PBE_VERSION pbeVersion) {
    if (pbeVersion == nullptr)
        return;
    std::memset(pbeVersion, 0, sizeof(*pbeVersion));

    lame_version_t lame{};
    get_lame_version_numerical(&lame);
    pbeVersion->byDLLMajorVersion = 1;
    pbeVersion->byDLLMinorVersion = 32;
    pbeVersion->byMajorVersion = static_cast<uint8_t>(lame.major);
    pbeVersion->byMinorVersion = static_cast<uint8_t>(lame.minor);
    pbeVersion->byAlphaLevel = static_cast<uint8_t>(lame.alpha);
    pbeVersion->byBetaLevel = static_cast<uint8_t>(lame.beta);

    // The build date of this module, from the compiler's "Mmm dd yyyy".
    static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* date = __DATE__;
    for (int m = 0; m < 12; ++m) {
        if (std::strncmp(kMonths + 3 * m, date, 3) == 0)
            pbeVersion->byMonth = static_cast<uint8_t>(m + 1);
    }
    pbeVersion->byDay = static_cast<uint8_t>(std::atoi(date + 4));
    pbeVersion->wYear = static_cast<uint16_t>(std::atoi(date + 7));

    std::snprintf(pbeVersion->zHomepage, sizeof(pbeVersion->zHomepage), "%s", get_lame_url());
}

BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    if (lpszFileName == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::vector<unsigned char> tag;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        tag = g_lastTagFrame;
    }
    // No stream flushed with the tag enabled: nothing to write, and the file stays as it is.
    if (tag.empty())
        return BE_ERR_INVALID_HANDLE;

    FILE* file = std::fopen(lpszFileName, "r+b");
    if (file == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;

    // The tag replaces the placeholder frame LAME put first in the stream, which follows an
    // ID3v2 tag when a program wrote one before the audio.
    long offset = 0;
    unsigned char head[10] = {};
    if (std::fread(head, 1, sizeof(head), file) == sizeof(head) && std::memcmp(head, "ID3", 3) == 0) {
        offset =
            10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 | (head[9] & 0x7F));
        if ((head[5] & 0x10) != 0)
            offset += 10;  // footer present
    }
    unsigned char sync[2] = {};
    const bool placeholder = std::fseek(file, offset, SEEK_SET) == 0 && std::fread(sync, 1, 2, file) == 2 &&
                             sync[0] == 0xFF && (sync[1] & 0xE0) == 0xE0;
    const bool written = placeholder && std::fseek(file, offset, SEEK_SET) == 0 &&
                         std::fwrite(tag.data(), tag.size(), 1, file) == 1;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT_PARAMETERS;
}
