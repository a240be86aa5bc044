// The camera simulator as a child process of a test or benchmark: started on
// a loopback port (a free one unless told), with RTSP on a second one when
// asked for, its log kept in a file so that it never stalls on a full pipe,
// read and driven through plain HTTP to its own unauthenticated resources,
// and stopped, killed, frozen or restarted on the same ports at will. It ends
// with its parent, even when that crashes.
#ifndef CAMSIMPROCESS_H
#define CAMSIMPROCESS_H

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

// The account every simulator started through Camsim accepts.
extern const char *const camsimUser;
extern const char *const camsimPassword;

// One HTTP/1.0 exchange with 127.0.0.1:port, bounded in time; the reply's
// body, or an empty text when there was no whole reply.
QByteArray plainHttp(quint16 port, const QByteArray &method, const QByteArray &path,
                     const QByteArray &body = QByteArray());

class Camsim
{
public:
    struct Options
    {
        quint16 port = 0;  // 0: a free one
        QString stateFile; // empty: no state kept across restarts
        int fps = 0;       // 0: the simulator's own default
        // "--rtsp-codec h264|h265|jpeg" among these serves RTSP too, on a free
        // port unless "--rtsp-port N" names one.
        QStringList extra;
    };

    // Starts the simulator; port() tells whether it came up.
    explicit Camsim(const Options &options);
    explicit Camsim(const QStringList &extra = QStringList());
    ~Camsim();
    Camsim(const Camsim &) = delete;
    Camsim &operator=(const Camsim &) = delete;

    // 0 when the simulator is not up.
    quint16 port() const { return m_port; }
    // 0 when the simulator is not up or serves no RTSP.
    quint16 rtspPort() const { return m_rtspPort; }
    qint64 pid() const { return m_process.processId(); }

    // Stops it and starts it again on the same ports with the same options.
    bool restart();
    // SIGTERM, and SIGKILL if that is not enough; the exit is checked.
    void stop();
    void kill();
    // Frozen (SIGSTOP, all threads) or running again: the port stays open.
    bool freeze(bool frozen);

    // Everything the simulator wrote so far, one request a line.
    QByteArray log() const;
    QJsonObject state() const;
    QJsonObject calibration() const;
    bool fusion() const;
    int counter(const QString &name) const;
    // False when the simulator refused the fault text.
    bool faults(const QByteArray &text) const;

private:
    bool start();

    class Process : public QProcess
    {
    protected:
        void setupChildProcess() override;
    };

    Options m_options;
    QTemporaryDir m_dir;
    Process m_process;
    quint16 m_port = 0;
    quint16 m_rtspPort = 0;
};

} // namespace TestSupport

#endif // CAMSIMPROCESS_H
