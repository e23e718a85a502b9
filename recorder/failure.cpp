#include "failure.h"

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
