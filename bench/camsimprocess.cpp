#include "camsimprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

#include <curl/curl.h>

const char *const CamsimProcess::user = "admin";
const char *const CamsimProcess::password = "bench12345";

namespace {

size_t collect(char *data, size_t size, size_t count, void *userData)
{
    static_cast<QByteArray *>(userData)->append(data, int(size * count));
    return size * count;
}

} // namespace

CamsimProcess::CamsimProcess(const QStringList &extraArguments)
{
    if (!m_dir.isValid())
        return;
    const QString log = m_dir.filePath(QStringLiteral("camsim.log"));
    m_process.setStandardOutputFile(log);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM),
                    QStringList{"--port", "0", "--user", user, "--password", password} +
                        extraArguments);
    // A loaded machine can take seconds to start the simulator.
    if (!m_process.waitForStarted(15000))
        return;
    const QRegularExpression listening(
        QStringLiteral("^camsim listening on 127\\.0\\.0\\.1 port (\\d+)"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000 && m_process.state() == QProcess::Running) {
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) {
            const QRegularExpressionMatch m = listening.match(QString::fromUtf8(file.readLine()));
            if (m.hasMatch()) {
                m_port = quint16(m.captured(1).toUInt());
                return;
            }
        }
        QThread::msleep(20);
    }
}

CamsimProcess::~CamsimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QJsonObject CamsimProcess::state() const
{
    QByteArray body;
    CURL *curl = curl_easy_init();
    if (!curl)
        return QJsonObject();
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(m_port) + "/camsim/state";
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK)
        return QJsonObject();
    return QJsonDocument::fromJson(body).object();
}

qint64 CamsimProcess::counter(const QString &name) const
{
    return qint64(state().value(QStringLiteral("requests")).toObject().value(name).toDouble());
}
