// The real SDK's transport against the camera simulator: one login's requests
// reuse its Digest nonce instead of paying for a fresh challenge each, without
// one request's method or body leaking into the next, and two logins that
// happen to share a nonce both keep working.
#include "camnetsdk.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

const char *const user = "admin";
const char *const password = "s3cret";
const QByteArray calibrationLine = "/ISAPI/Thermal/channels/2/fusionCalibration\r\n";

QByteArray calibrationXml(int hbias)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FusionCalibration>\n"
                          "<distanceLevel>3</distanceLevel>\n<ScaleRatio><horizontal>64"
                          "</horizontal><vertical>64</vertical></ScaleRatio>\n<Bias><horizontal>%1"
                          "</horizontal><vertical>100</vertical></Bias>\n</FusionCalibration>\n")
        .arg(hbias)
        .toUtf8();
}

// The simulator's counters, over a connection of its own (no Digest there).
QJsonObject requestCounters(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const char request[] = "GET /camsim/state HTTP/1.0\r\n\r\n";
        if (::send(fd, request, sizeof request - 1, 0) == ssize_t(sizeof request - 1)) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                reply.append(buffer, int(n));
        }
    }
    if (fd >= 0)
        ::close(fd);
    const QJsonObject state = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4))
                                  .object()
                                  .value("requests")
                                  .toObject();
    return state;
}

int counter(quint16 port, const char *name)
{
    return requestCounters(port).value(name).toInt();
}

class Camsim
{
public:
    Camsim()
    {
        m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM),
                        {"--port", "0", "--user", user, "--password", password});
        if (!m_process.waitForStarted(5000))
            return;
        for (int i = 0; i < 50 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        const QRegularExpressionMatch m =
            QRegularExpression("127\\.0\\.0\\.1 port (\\d+)").match(m_process.readLine());
        if (m.hasMatch())
            m_port = quint16(m.captured(1).toUInt());
    }
    ~Camsim()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

int32_t login(quint16 port)
{
    LoginRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.address, "127.0.0.1");
    request.port = port;
    std::strcpy(request.userName, user);
    std::strcpy(request.password, password);
    DeviceInfoReply info;
    return CamNet_Login(&request, &info);
}

// One ISAPI exchange; the reply text is the buffer its method fills.
bool isapi(int32_t loginId, const QByteArray &method, const QByteArray &body, QByteArray *reply)
{
    const QByteArray line = method + " " + calibrationLine;
    QByteArray response(64 * 1024, '\0');
    QByteArray status(16 * 1024, '\0');
    XmlConfigInput input;
    std::memset(&input, 0, sizeof input);
    input.size = sizeof input;
    input.requestLine = line.constData();
    input.requestLineLength = uint32_t(line.size());
    input.body = body.isEmpty() ? nullptr : body.constData();
    input.bodyLength = uint32_t(body.size());
    XmlConfigOutput output;
    std::memset(&output, 0, sizeof output);
    output.size = sizeof output;
    output.response = response.data();
    output.responseSize = uint32_t(response.size());
    output.status = status.data();
    output.statusSize = uint32_t(status.size());
    const bool ok = CamNet_StdXmlConfig(loginId, &input, &output) != 0;
    if (reply)
        *reply = method == "GET" ? response.left(int(output.responseSize))
                                 : status.left(int(output.statusSize));
    return ok;
}

bool readSwitch(int32_t loginId)
{
    const int32_t channel = 2;
    QByteArray record(732, '\0');
    char status[256] = {};
    StdConfigRecord config;
    std::memset(&config, 0, sizeof config);
    config.condition = &channel;
    config.conditionSize = sizeof channel;
    config.output = record.data();
    config.outputSize = uint32_t(record.size());
    config.status = status;
    config.statusSize = sizeof status;
    return CamNet_GetStdConfig(loginId, 6768, &config) != 0;
}

} // namespace

class TestSdkTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(CamNet_Init());
        QVERIFY(CamNet_SetConnectTime(2000, 1));
    }

    void repeatedWritesNeedNoFreshChallenge()
    {
        Camsim sim;
        QVERIFY(sim.port());
        const int32_t id = login(sim.port());
        QVERIFY2(id >= 0, QByteArray::number(CamNet_GetLastError()));
        const int challengedBefore = counter(sim.port(), "unauthorized");
        constexpr int writes = 200;
        for (int i = 0; i < writes; ++i) {
            QByteArray reply;
            QVERIFY2(isapi(id, "PUT", calibrationXml(100 + i % 2), &reply),
                     QByteArray::number(CamNet_GetLastError()));
            QVERIFY(reply.contains("<statusCode>1</statusCode>"));
        }
        QCOMPARE(counter(sim.port(), "calibrationPut"), writes);
        // The first write leaves the login's resource and may be challenged
        // once; a nonce expires only after minutes.
        QVERIFY2(counter(sim.port(), "unauthorized") - challengedBefore <= 1,
                 QByteArray::number(counter(sim.port(), "unauthorized") - challengedBefore));
        QVERIFY(CamNet_Logout(id));
    }

    void eachRequestCarriesOnlyItsOwnMethodAndBody()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        QByteArray reply;
        QVERIFY(isapi(id, "PUT", calibrationXml(77), &reply));
        // A GET after a PUT must neither be sent as a PUT nor carry its body.
        QVERIFY(isapi(id, "GET", QByteArray(), &reply));
        QVERIFY2(reply.contains("<horizontal>77</horizontal>"), reply);
        QVERIFY(readSwitch(id));
        QVERIFY(isapi(id, "GET", QByteArray(), &reply));
        QVERIFY(reply.startsWith("<?xml"));
        QVERIFY(isapi(id, "PUT", calibrationXml(78), &reply));
        QVERIFY(reply.contains("<statusCode>1</statusCode>"));
        const QJsonObject requests = requestCounters(sim.port());
        QCOMPARE(requests.value("calibrationPut").toInt(), 2);
        QCOMPARE(requests.value("calibrationGet").toInt(), 2);
        QCOMPARE(requests.value("stdConfig").toInt(), 1);
        QVERIFY(CamNet_Logout(id));
    }

    void twoLoginsWritingTogetherBothSucceed()
    {
        // The simulator derives a nonce from the second, the method and the
        // path, so two logins writing the same resource at once share one
        // nonce, and whichever is behind in its count is refused as a replay.
        Camsim sim;
        const int32_t first = login(sim.port());
        const int32_t second = login(sim.port());
        QVERIFY(first >= 0 && second >= 0);
        for (int i = 0; i < 100; ++i) {
            const int32_t id = i % 3 == 0 ? second : first;
            QVERIFY2(isapi(id, "PUT", calibrationXml(100 + i % 2), nullptr),
                     QByteArray::number(i) + " " + QByteArray::number(CamNet_GetLastError()));
        }
        QCOMPARE(counter(sim.port(), "calibrationPut"), 100);
        QVERIFY(CamNet_Logout(first));
        QVERIFY(CamNet_Logout(second));
    }
};

QTEST_GUILESS_MAIN(TestSdkTransport)
#include "tst_sdktransport.moc"
