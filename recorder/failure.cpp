#include "failure.h"

#include <cstdint>
#include <mutex>
#include <utility>

std::atomic<bool> g_bSessionFailed{false};

namespace {
std::mutex g_failureLock;
std::string g_failureCause;
}  // namespace

void RecordFailure(std::string cause) {
    std::lock_guard<std::mutex> lock(g_failureLock);
    if (g_bSessionFailed.load())
        return;
    g_failureCause = std::move(cause);
    g_bSessionFailed.store(true);
}

std::string TakeFailure() {
    std::lock_guard<std::mutex> lock(g_failureLock);
    g_bSessionFailed.store(false);
    return std::exchange(g_failureCause, {});
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;  // not a scalar value
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
