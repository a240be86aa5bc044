// The camera simulator as a child process of a test, on a free loopback port,
// and plain HTTP to the simulator's own unauthenticated resources.
#ifndef CAMSIMPROCESS_H
#define CAMSIMPROCESS_H

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

namespace TestSupport {

// The account every simulator started through Camsim accepts.
extern const char *const camsimUser;
extern const char *const camsimPassword;

// One HTTP/1.0 exchange with 127.0.0.1:port; the reply's body, or an empty
// text when there was no whole reply.
QByteArray plainHttp(quint16 port, const QByteArray &method, const QByteArray &path,
                     const QByteArray &body = QByteArray());

class Camsim
{
public:
    explicit Camsim(const QStringList &extra = QStringList());
    ~Camsim();
    Camsim(const Camsim &) = delete;
    Camsim &operator=(const Camsim &) = delete;

    // 0 when the simulator did not start.
    quint16 port() const { return m_port; }
    QJsonObject state() const;
    int counter(const QString &name) const;
    // False when the simulator refused the fault text.
    bool faults(const QByteArray &text) const;

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace TestSupport

#endif // CAMSIMPROCESS_H
