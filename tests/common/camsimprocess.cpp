#include "camsimprocess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace TestSupport {

const char *const camsimUser = "admin";
const char *const camsimPassword = "s3cret";

QByteArray plainHttp(quint16 port, const QByteArray &method, const QByteArray &path,
                     const QByteArray &body)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return QByteArray();
    // A frozen simulator must fail the test, not hang it.
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const QByteArray request = method + " " + path + " HTTP/1.0\r\nContent-Length: " +
                                   QByteArray::number(body.size()) + "\r\n\r\n" + body;
        if (::send(fd, request.constData(), size_t(request.size()), 0) == request.size()) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                reply.append(buffer, int(n));
        }
    }
    ::close(fd);
    const int split = reply.indexOf("\r\n\r\n");
    return split < 0 ? QByteArray() : reply.mid(split + 4);
}

Camsim::Camsim(const QStringList &extra)
{
#ifdef OVERLAYTUNER_CAMSIM
    m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM),
                    QStringList{"--port", "0", "--user", camsimUser, "--password", camsimPassword} +
                        extra);
    // A sanitized simulator on a loaded machine can take seconds to start.
    if (!m_process.waitForStarted(15000))
        return;
    const QDeadlineTimer deadline(15000);
    while (!m_process.canReadLine() && !deadline.hasExpired() &&
           m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(100);
    const QRegularExpressionMatch m =
        QRegularExpression("127\\.0\\.0\\.1 port (\\d+)").match(m_process.readLine());
    if (m.hasMatch())
        m_port = quint16(m.captured(1).toUInt());
#else
    Q_UNUSED(extra);
#endif
}

Camsim::~Camsim()
{
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(1000);
    // What a sanitizer found in the simulator would otherwise go unseen.
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
        qWarning("camsim ended with status %d: %s", m_process.exitCode(),
                 m_process.readAllStandardError().constData());
}

QJsonObject Camsim::state() const
{
    return QJsonDocument::fromJson(plainHttp(m_port, "GET", "/camsim/state")).object();
}

int Camsim::counter(const QString &name) const
{
    return state().value("requests").toObject().value(name).toInt();
}

bool Camsim::faults(const QByteArray &text) const
{
    // The simulator answers a fault text it took with its whole state.
    return plainHttp(m_port, "PUT", "/camsim/faults", text).startsWith('{');
}

} // namespace TestSupport
