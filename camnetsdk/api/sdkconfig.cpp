#include "api/sdkconfig.h"

#include <atomic>

namespace {

std::atomic<uint32_t> connectWaitMs{3000};
std::atomic<uint32_t> connectTries{1};
std::atomic<uint32_t> reconnectIntervalMs{5000};
std::atomic<bool> reconnectEnabled{true};

} // namespace

namespace SdkConfig {

void setConnectLimits(uint32_t waitMs, uint32_t tries)
{
    connectWaitMs = waitMs;
    connectTries = tries;
}

ConnectLimits connectLimits()
{
    return ConnectLimits{connectWaitMs.load(), connectTries.load()};
}

void setReconnect(uint32_t intervalMs, bool enabled)
{
    reconnectIntervalMs = intervalMs;
    reconnectEnabled = enabled;
}

ReconnectPolicy reconnect()
{
    return ReconnectPolicy{reconnectIntervalMs.load(), reconnectEnabled.load()};
}

} // namespace SdkConfig
