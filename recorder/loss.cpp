#include "loss.h"

#include <cstdio>

#include "audio_format.h"

namespace {
constexpr double kRate = kAudioSampleRate;
}  // namespace

std::string Seconds(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f s", static_cast<double>(frames) / kRate);
    return text;
}

// gaps' positions are in the recording's time.
std::string LossLog::Sentence(const std::vector<Gap>& gaps, const char* what) {
    if (gaps.empty())
        return "";
    uint64_t total = 0;
    for (const Gap& gap : gaps)
        total += gap.frames;
    std::string text = Seconds(total) + " of audio " + what + ": ";
    constexpr size_t kListed = 5;
    for (size_t i = 0; i < gaps.size() && i < kListed; ++i)
        text += (i > 0 ? ", " : "") + Seconds(gaps[i].frames) + " at " + RecordingClock(gaps[i].atFrame);
    if (gaps.size() > kListed)
        text += " and " + std::to_string(gaps.size() - kListed) + " more";
    return text + ".";
}

std::string RecordingClock(uint64_t frame) {
    const auto seconds = static_cast<unsigned long long>(static_cast<double>(frame) / kRate);
    char text[32];
    std::snprintf(text, sizeof(text), "%llu:%02llu", seconds / 60, seconds % 60);
    return text;
}

void LossLog::Reset() {
    position_ = 0;
    lost_.clear();
    missing_.clear();
}

void LossLog::NoteCaptured(uint64_t frames) {
    position_ += frames;
}

void LossLog::NoteLost(uint64_t frames) {
    if (frames == 0)
        return;
    // Losses noticed at the same point (a stall seen by the device and by the handler) are
    // one gap to the listener.
    if (!lost_.empty() && lost_.back().atFrame + lost_.back().frames == position_) {
        lost_.back().frames += frames;
    } else {
        lost_.push_back({position_, frames});
    }
    position_ += frames;
}

void LossLog::NoteMissing(uint64_t atFrame, uint64_t frames) {
    if (frames > 0)
        missing_.push_back({atFrame, frames});
}

uint64_t LossLog::MissingFrames() const {
    uint64_t total = 0;
    for (const Gap& gap : missing_)
        total += gap.frames;
    return total;
}

std::string LossLog::Describe() const {
    // Audio that never came takes its place in the recording's time: a gap lies that much
    // later than the frames delivered before it say.
    const auto missingBefore = [this](uint64_t atFrame, size_t count) {
        uint64_t frames = 0;
        for (size_t i = 0; i < count; ++i) {
            if (missing_[i].atFrame <= atFrame)
                frames += missing_[i].frames;
        }
        return frames;
    };
    std::vector<Gap> lost = lost_;
    for (Gap& gap : lost)
        gap.atFrame += missingBefore(gap.atFrame, missing_.size());
    std::vector<Gap> missing = missing_;
    for (size_t i = 0; i < missing.size(); ++i)
        missing[i].atFrame += missingBefore(missing[i].atFrame, i);

    const std::string dropped = Sentence(lost, "could not be recorded because the computer did not keep up");
    const std::string absent = Sentence(missing, "did not come from the input device");
    return dropped + (dropped.empty() || absent.empty() ? "" : " ") + absent;
}
