#include "loss.h"

#include <cstdio>

namespace {
constexpr double kRate = 44100.0;

std::string Seconds(uint64_t frames) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f s", static_cast<double>(frames) / kRate);
    return text;
}

std::string Clock(uint64_t frame) {
    const auto seconds = static_cast<unsigned long long>(static_cast<double>(frame) / kRate);
    char text[32];
    std::snprintf(text, sizeof(text), "%llu:%02llu", seconds / 60, seconds % 60);
    return text;
}
}  // namespace

void LossLog::Reset() {
    position_ = 0;
    gaps_.clear();
}

void LossLog::NoteCaptured(uint64_t frames) {
    position_ += frames;
}

void LossLog::NoteLost(uint64_t frames) {
    if (frames == 0)
        return;
    // Losses noticed at the same point (a stall seen by the device and by the handler) are
    // one gap to the listener.
    if (!gaps_.empty() && gaps_.back().atFrame + gaps_.back().frames == position_) {
        gaps_.back().frames += frames;
    } else {
        gaps_.push_back({position_, frames});
    }
    position_ += frames;
}

std::string LossLog::Describe() const {
    if (gaps_.empty())
        return "";
    uint64_t total = 0;
    for (const Gap& gap : gaps_)
        total += gap.frames;
    std::string text =
        Seconds(total) + " of audio could not be recorded because the computer did not keep up: ";
    constexpr size_t kListed = 5;
    for (size_t i = 0; i < gaps_.size() && i < kListed; ++i) {
        if (i > 0)
            text += ", ";
        text += Seconds(gaps_[i].frames) + " at " + Clock(gaps_[i].atFrame);
    }
    if (gaps_.size() > kListed)
        text += " and " + std::to_string(gaps_.size() - kListed) + " more";
    return text + ".";
}
