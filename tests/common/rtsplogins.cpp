#include "rtsplogins.h"

#include "camnetsdk.h"
#include "sdkcalls.h"

#include <QFile>
#include <QtGlobal>

namespace TestSupport {

RtspLogins::RtspLogins() = default;

RtspLogins::~RtspLogins()
{
    logoutAll();
}

quint16 RtspLogins::camsimPort() const
{
    return m_dir.isValid() ? m_sim.port() : 0;
}

int32_t RtspLogins::login(quint16 rtspPort, const QString &transport, bool basic,
                          const char *password)
{
    const QString path = m_dir.filePath(QStringLiteral("profile-%1.ini").arg(++m_profiles));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    file.write(QStringLiteral("[General]\nstreamUrl=rtsp://{host}:%1/channels/{channel}\n"
                              "rtspTransport=%2\nrtspBasicAuth=%3\n")
                   .arg(rtspPort)
                   .arg(transport)
                   .arg(basic ? "true" : "false")
                   .toUtf8());
    file.close();
    qputenv("CAMNETSDK_PROFILE", path.toUtf8());
    const int32_t id = TestSupport::login(m_sim.port(), nullptr, password);
    if (id >= 0)
        m_logins.push_back(id);
    else
        qWarning("login failed with %d", int(CamNet_GetLastError()));
    return id;
}

void RtspLogins::logoutAll()
{
    for (const int32_t id : m_logins)
        CamNet_Logout(id);
    m_logins.clear();
}

} // namespace TestSupport
