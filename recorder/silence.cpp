#include "silence.h"

#include <algorithm>

#include "audio_format.h"
#include "capture.h"
#include "loss.h"

SilenceWatch g_CaptureSilence;

namespace {
constexpr uint64_t kNoticeFrames = 15 * kAudioSampleRate;

UINT g_uSilenceDevice = WAVE_MAPPER;
bool g_bMonitor = false;
bool g_bNoticeTold = false;

const char kInputCauses[] = "it may be muted, or blocked in the system's privacy settings";
const char kMonitorCauses[] = "nothing may have been playing on that output, or it is muted";
}  // namespace

void SilenceWatch::Reset() {
    heardSound_ = false;
    silentFrames_ = 0;
}

void SilenceWatch::Note(const short* samples, uint64_t frames) {
    if (heardSound_.load())
        return;
    const short* end = samples + frames * kAudioChannels;
    if (std::find_if(samples, end, [](short sample) { return sample != 0; }) != end)
        heardSound_ = true;
    else
        silentFrames_ += frames;
}

void StartSilenceWatch(UINT deviceNumber, bool monitor) {
    g_uSilenceDevice = deviceNumber;
    g_bMonitor = monitor;
    g_bNoticeTold = false;
}

std::string CheckSilence() {
    if (g_bNoticeTold || g_bMonitor || g_CaptureSilence.HeardSound() ||
        g_CaptureSilence.SilentFrames() < kNoticeFrames)
        return "";
    g_bNoticeTold = true;
    return "Nothing but silence has come from " + CaptureDeviceName(g_uSilenceDevice) + " for " +
           std::to_string(kNoticeFrames / kAudioSampleRate) + " seconds: " + kInputCauses +
           ". Recording goes on.";
}

std::string DescribeSilence() {
    if (g_CaptureSilence.HeardSound() || g_CaptureSilence.SilentFrames() == 0)
        return "";
    return "Nothing but silence came from " + CaptureDeviceName(g_uSilenceDevice) + " in the " +
           Seconds(g_CaptureSilence.SilentFrames()) +
           " recorded: " + (g_bMonitor ? kMonitorCauses : kInputCauses) + ".";
}
