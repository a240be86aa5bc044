// Logins to a simulator started for the purpose, each with a device profile of
// its own that points the streams at an RTSP server on a loopback port: the
// simulator answers the login, the server the stream. Every login made is
// ended by logoutAll(), also those of a test that failed half-way.
#ifndef RTSPLOGINS_H
#define RTSPLOGINS_H

#include "camsimprocess.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace TestSupport {

class RtspLogins
{
public:
    RtspLogins();
    ~RtspLogins();
    RtspLogins(const RtspLogins &) = delete;
    RtspLogins &operator=(const RtspLogins &) = delete;

    // 0 when the simulator or the profiles' folder could not be had.
    quint16 camsimPort() const;

    // transport: the profile's rtspTransport; basic: its rtspBasicAuth. The
    // login's identifier, or -1 with the SDK's error printed.
    int32_t login(quint16 rtspPort, const QString &transport, bool basic = false,
                  const char *password = camsimPassword);
    void logoutAll();

private:
    Camsim m_sim;
    QTemporaryDir m_dir;
    std::vector<int32_t> m_logins;
    int m_profiles = 0;
};

} // namespace TestSupport

#endif // RTSPLOGINS_H
