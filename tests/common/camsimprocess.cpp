#include "camsimprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace TestSupport {

const char *const camsimUser = "admin";
const char *const camsimPassword = "s3cret";

namespace {

// A sanitized simulator on a loaded machine can take seconds to start.
constexpr int startMs = 15000;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

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

void Camsim::Process::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

Camsim::Camsim(const Options &options) : m_options(options)
{
    start();
}

Camsim::Camsim(const QStringList &extra) : Camsim(Options{0, QString(), 0, extra}) {}

Camsim::~Camsim()
{
    stop();
}

bool Camsim::start()
{
    m_port = 0;
    m_rtspPort = 0;
    if (!m_dir.isValid())
        return false;
    const QString logPath = m_dir.filePath(QStringLiteral("camsim.log"));
    // Appended to, so that a restarted simulator's log follows the one before.
    m_process.setStandardOutputFile(logPath, QIODevice::Append);
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("camsim.err")), QIODevice::Append);
    QStringList arguments{"--port",     QString::number(m_options.port),
                          "--user",     camsimUser,
                          "--password", camsimPassword};
    if (!m_options.stateFile.isEmpty())
        arguments << "--state" << m_options.stateFile;
    if (m_options.fps > 0)
        arguments << "--fps" << QString::number(m_options.fps);
    // RTSP runs when the extra arguments ask for it, and then on a free port
    // unless they name one.
    const bool rtsp = m_options.extra.contains(QStringLiteral("--rtsp-codec")) ||
                      m_options.extra.contains(QStringLiteral("--rtsp-port"));
    if (rtsp && !m_options.extra.contains(QStringLiteral("--rtsp-port")))
        m_options.extra << QStringLiteral("--rtsp-port") << QStringLiteral("0");
    const qint64 logged = fileBytes(logPath).size();
    m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM), arguments + m_options.extra);
    if (!m_process.waitForStarted(startMs))
        return false;
    const QRegularExpression listening(QStringLiteral("camsim listening on \\S+ port (\\d+)"));
    const QRegularExpression rtspListening(QStringLiteral("camsim rtsp on \\S+ port (\\d+)"));
    const QDeadlineTimer deadline(startMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        const QString output = QString::fromUtf8(fileBytes(logPath).mid(int(logged)));
        const QRegularExpressionMatch m = listening.match(output);
        const QRegularExpressionMatch r = rtspListening.match(output);
        if (m.hasMatch() && (!rtsp || r.hasMatch())) {
            m_port = quint16(m.captured(1).toUInt());
            // A restart keeps the ports, so that the client finds them again.
            m_options.port = m_port;
            if (rtsp) {
                m_rtspPort = quint16(r.captured(1).toUInt());
                const int at = m_options.extra.lastIndexOf(QStringLiteral("--rtsp-port"));
                if (at + 1 < m_options.extra.size())
                    m_options.extra[at + 1] = QString::number(m_rtspPort);
            }
            return true;
        }
        QThread::msleep(10);
    }
    qWarning("camsim did not start: %s", fileBytes(m_dir.filePath("camsim.err")).constData());
    kill();
    return false;
}

bool Camsim::restart()
{
    stop();
    // A killed simulator's port may be held a moment longer by the kernel.
    const QDeadlineTimer deadline(startMs);
    while (!start()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(200);
    }
    return true;
}

void Camsim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    freeze(false);
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
    m_process.waitForFinished(1000);
    // What a sanitizer found in the simulator would otherwise go unseen.
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
        qWarning("camsim ended with status %d: %s", m_process.exitCode(),
                 fileBytes(m_dir.filePath("camsim.err")).constData());
    m_port = 0;
    m_rtspPort = 0;
}

void Camsim::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
    m_port = 0;
    m_rtspPort = 0;
}

bool Camsim::freeze(bool frozen)
{
    const qint64 pid = m_process.processId();
    if (pid <= 0 || ::kill(pid_t(pid), frozen ? SIGSTOP : SIGCONT) != 0)
        return false;
    if (!frozen)
        return true;
    // The signal takes effect as each thread next runs; wait until all have stopped.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        bool allStopped = true;
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray stat = fileBytes(tasks.filePath(task + "/stat"));
            const int close = stat.lastIndexOf(')');
            if (close < 0 || stat.mid(close + 2, 1) != "T")
                allStopped = false;
        }
        if (allStopped)
            return true;
        QThread::msleep(10);
    }
    return false;
}

QByteArray Camsim::log() const
{
    return fileBytes(m_dir.filePath(QStringLiteral("camsim.log")));
}

QJsonObject Camsim::state() const
{
    return QJsonDocument::fromJson(plainHttp(m_port, "GET", "/camsim/state")).object();
}

QJsonObject Camsim::calibration() const
{
    return state().value("calibration").toObject();
}

bool Camsim::fusion() const
{
    return state().value("fusion").toBool();
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
