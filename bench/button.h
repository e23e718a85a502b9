// A Start/Stop button for the benchmark programs, which drive sessions without a window.
#pragma once

#include <string>
#include <utility>

#include "session.h"

class Button : public RecordButton {
public:
    explicit Button(SessionSettings settings) : settings_(std::move(settings)) {}
    std::wstring GetCaption() const override { return caption_; }
    void SetCaption(const std::wstring& caption) override { caption_ = caption; }
    SessionSettings ReadSettings() const override { return settings_; }

private:
    std::wstring caption_ = kStartCaption;
    SessionSettings settings_;
};
