// Settings shared by every login: how long connecting may take, how often to
// try, and the overall bound of one request.
#ifndef SDKCONFIG_H
#define SDKCONFIG_H

#include <cstdint>

namespace SdkConfig {

struct ConnectLimits
{
    uint32_t waitMs;
    uint32_t tries;
};

void setConnectLimits(uint32_t waitMs, uint32_t tries);
ConnectLimits connectLimits();
// How long one call may wait for the camera once connected; with the
// connect bound it makes the one deadline of every call (see HttpClient).
constexpr long requestTimeoutMs = 5000;

struct ReconnectPolicy
{
    uint32_t intervalMs;
    bool enabled;
};

void setReconnect(uint32_t intervalMs, bool enabled);
ReconnectPolicy reconnect();

} // namespace SdkConfig

#endif // SDKCONFIG_H
