// The camera simulator as a child process of a benchmark: started on a free
// loopback port, its request log kept in a file (a pipe nobody reads would
// fill up and stall the simulator in the middle of a timed run), stopped on
// destruction.
#ifndef CAMSIMPROCESS_H
#define CAMSIMPROCESS_H

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class CamsimProcess
{
public:
    static const char *const user;
    static const char *const password;

    explicit CamsimProcess(const QStringList &extraArguments = QStringList());
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess &) = delete;
    CamsimProcess &operator=(const CamsimProcess &) = delete;

    // 0 when the simulator did not come up.
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QJsonObject state() const;
    // One of the simulator's request counters, from a fresh state read.
    qint64 counter(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

#endif // CAMSIMPROCESS_H
