// The window's Start/Stop button as the recording toggle sees it, for tests that drive
// sessions without a window. It notes what the engine had done by the time each caption was
// shown.
#pragma once

#include <string>
#include <vector>

#include "capture.h"
#include "encoder.h"
#include "session.h"

class FakeButton : public RecordButton {
public:
    struct Seen {
        std::wstring caption;
        int32_t flag;
        bool worker;
        bool deviceOpen;
        bool fileOpen;
    };
    std::wstring GetCaption() const override { return caption; }
    void SetCaption(const std::wstring& text) override {
        // A worker still running (a stop left finishing) owns the device and the file.
        const bool worker = g_hRecordThread.load() != nullptr;
        seen.push_back({text, g_bRecording.load(), worker, !worker && g_hWaveIn != nullptr,
                        !worker && g_pOutputFile != nullptr});
        caption = text;
    }
    SessionSettings ReadSettings() const override { return settings; }
    void ServeWhileStopping() override { ++serves; }

    std::wstring caption = kStartCaption;
    SessionSettings settings;
    std::vector<Seen> seen;
    int serves = 0;
};
