// The real SDK library against the camera simulator on loopback: logins,
// ISAPI pass-through, standard configuration and the simulator's faults.
#include "camnetsdk.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

const char *const user = "admin";
const char *const password = "s3cret";
const QByteArray calibrationPath = "/ISAPI/Thermal/channels/2/fusionCalibration";

QByteArray calibrationXml(int level, int hbias)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FusionCalibration>\n"
                          "<distanceLevel>%1</distanceLevel>\n<ScaleRatio><horizontal>64"
                          "</horizontal><vertical>64</vertical></ScaleRatio>\n<Bias><horizontal>%2"
                          "</horizontal><vertical>100</vertical></Bias>\n</FusionCalibration>\n")
        .arg(level)
        .arg(hbias)
        .toUtf8();
}

// A plain HTTP/1.0 exchange for the simulator's own unauthenticated resources.
QByteArray plainHttp(quint16 port, const QByteArray &method, const QByteArray &path,
                     const QByteArray &body = QByteArray())
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return QByteArray();
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

// One simulator process on a free loopback port.
class Camsim
{
public:
    explicit Camsim(const QStringList &extra = QStringList())
    {
        m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM),
                        QStringList{"--port", "0", "--user", user, "--password", password} + extra);
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
    QJsonObject state() const
    {
        return QJsonDocument::fromJson(plainHttp(m_port, "GET", "/camsim/state")).object();
    }
    int counter(const QString &name) const
    {
        return state().value("requests").toObject().value(name).toInt();
    }
    void faults(const QByteArray &text) const { plainHttp(m_port, "PUT", "/camsim/faults", text); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

LoginRequest loginRequest(quint16 port, const char *pass = password)
{
    LoginRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.address, "127.0.0.1");
    request.port = port;
    std::strcpy(request.userName, user);
    std::memcpy(request.password, pass, strnlen(pass, sizeof request.password));
    return request;
}

int32_t login(quint16 port, DeviceInfoReply *info = nullptr, const char *pass = password)
{
    DeviceInfoReply scratch;
    std::memset(&scratch, 0, sizeof scratch);
    const LoginRequest request = loginRequest(port, pass);
    return CamNet_Login(&request, info ? info : &scratch);
}

// The buffers of one ISAPI call, with guard bytes behind each one.
struct XmlCall
{
    static constexpr uint32_t guard = 16;
    QByteArray response;
    QByteArray status;
    XmlConfigOutput output;
    int32_t result = 0;
    int32_t error = 0;

    XmlCall(int32_t loginId, const QByteArray &line, const QByteArray &body = QByteArray(),
            uint32_t responseCapacity = 64 * 1024, uint32_t statusCapacity = 16 * 1024)
        : response(int(responseCapacity + guard), '#'), status(int(statusCapacity + guard), '#')
    {
        XmlConfigInput input;
        std::memset(&input, 0, sizeof input);
        input.size = sizeof input;
        input.requestLine = line.constData();
        input.requestLineLength = uint32_t(line.size());
        input.body = body.isEmpty() ? nullptr : body.constData();
        input.bodyLength = uint32_t(body.size());
        std::memset(&output, 0, sizeof output);
        output.size = sizeof output;
        output.response = response.data();
        output.responseSize = responseCapacity;
        output.status = status.data();
        output.statusSize = statusCapacity;
        result = CamNet_StdXmlConfig(loginId, &input, &output);
        error = CamNet_GetLastError();
    }
    QByteArray responseText() const { return response.left(int(output.responseSize)); }
    QByteArray statusText() const { return status.left(int(output.statusSize)); }
    bool guardsIntact(uint32_t responseCapacity, uint32_t statusCapacity) const
    {
        return response.mid(int(responseCapacity)) == QByteArray(int(guard), '#') &&
               status.mid(int(statusCapacity)) == QByteArray(int(guard), '#');
    }
};

int32_t stdConfig(bool set, int32_t loginId, uint32_t command, QByteArray *output,
                  const QByteArray &input = QByteArray())
{
    const int32_t channel = 2;
    char status[256] = {};
    StdConfigRecord record;
    std::memset(&record, 0, sizeof record);
    record.condition = &channel;
    record.conditionSize = sizeof channel;
    record.input = input.isEmpty() ? nullptr : input.constData();
    record.inputSize = uint32_t(input.size());
    record.output = output ? output->data() : nullptr;
    record.outputSize = output ? uint32_t(output->size()) : 0;
    record.status = status;
    record.statusSize = sizeof status;
    return set ? CamNet_SetStdConfig(loginId, command, &record)
               : CamNet_GetStdConfig(loginId, command, &record);
}

QByteArray switchRecord(uint8_t state)
{
    QByteArray record(732, '\0');
    const uint32_t size = 732;
    std::memcpy(record.data(), &size, 4);
    record[4] = 1;
    record[5] = char(state);
    return record;
}

} // namespace

class TestSdk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(CamNet_Init());
        QVERIFY(CamNet_SetConnectTime(2000, 1));
    }

    void loginsCoexistAndLogoutFreesTheirIds()
    {
        Camsim sim;
        QVERIFY(sim.port());
        DeviceInfoReply info;
        const int32_t first = login(sim.port(), &info);
        QVERIFY2(first >= 0, QByteArray::number(CamNet_GetLastError()));
        QCOMPARE(QByteArray(info.deviceName), QByteArray("camsim"));
        QCOMPARE(QByteArray(info.model), QByteArray("CAMSIM-DUAL"));
        QCOMPARE(QByteArray(info.serialNumber), QByteArray("CAMSIM0000000001"));
        QCOMPARE(info.channelCount, 2u);
        const int32_t second = login(sim.port());
        QVERIFY(second >= 0);
        QVERIFY(second != first);
        QVERIFY(first < 16 && second < 16);

        QVERIFY(CamNet_Logout(first));
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_NONE));
        QCOMPARE(CamNet_Logout(first), 0);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_LOGIN));
        // The other login keeps working after its sibling is gone.
        XmlCall still(second, "GET " + calibrationPath + "\r\n");
        QVERIFY(still.result);
        QVERIFY(CamNet_Logout(second));
    }

    void unknownLoginsSendNothing()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        QVERIFY(CamNet_Logout(id));
        const int before = sim.counter("total");
        for (int32_t bad : {id, -1, 1000}) {
            XmlCall call(bad, "GET " + calibrationPath);
            QCOMPARE(call.result, 0);
            QCOMPARE(call.error, int32_t(CAMNET_ERR_UNKNOWN_LOGIN));
            QByteArray out(732, '\0');
            QCOMPARE(stdConfig(false, bad, 6768, &out), 0);
            QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_LOGIN));
            PreviewRequest preview;
            std::memset(&preview, 0, sizeof preview);
            QCOMPARE(CamNet_RealPlay(bad, &preview, nullptr, nullptr), -1);
            QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_LOGIN));
        }
        // Only the state request itself reached the simulator.
        QCOMPARE(sim.counter("total"), before + 1);
    }

    void refusedLogins()
    {
        Camsim sim;
        QCOMPARE(login(sim.port(), nullptr, "wrong"), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_AUTHENTICATION_FAILED));
        sim.faults("refuse-login=1");
        QCOMPARE(login(sim.port()), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_AUTHENTICATION_FAILED));
    }

    void nothingListeningFailsWithinTheConnectTime()
    {
        // A port that was free a moment ago: bound, then released.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        ::close(fd);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(login(ntohs(addr.sin_port)), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CONNECTION_FAILED));
        QVERIFY(timer.elapsed() < 2500);
    }

    void isapiRequestsReachTheCamera()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);

        XmlCall read(id, "GET " + calibrationPath + "\r\n");
        QVERIFY2(read.result, QByteArray::number(read.error));
        QVERIFY(read.responseText().contains("<distanceLevel>1</distanceLevel>"));
        QVERIFY(read.responseText().endsWith("</FusionCalibration>\n"));
        QCOMPARE(read.output.statusSize, 0u);

        XmlCall caps(id, "GET " + calibrationPath + "/capabilities\r\n");
        QVERIFY(caps.result);
        QVERIFY(caps.responseText().contains("max=\"10\""));

        XmlCall write(id, "PUT " + calibrationPath + "\r\n", calibrationXml(6, 82));
        QVERIFY2(write.result, QByteArray::number(write.error));
        QVERIFY(write.statusText().contains("<statusCode>1</statusCode>"));
        QCOMPARE(write.output.responseSize, 0u);

        const QJsonObject state = sim.state();
        const QJsonObject requests = state.value("requests").toObject();
        QCOMPARE(requests.value("calibrationGet").toInt(), 1);
        QCOMPARE(requests.value("capabilities").toInt(), 1);
        QCOMPARE(requests.value("calibrationPut").toInt(), 1);
        QCOMPARE(state.value("calibration").toObject().value("horShift").toInt(), 82);

        // A refused value: fails, and the camera's reason lands in the status buffer.
        XmlCall refused(id, "PUT " + calibrationPath + "\r\n", calibrationXml(11, 82));
        QCOMPARE(refused.result, 0);
        QCOMPARE(refused.error, int32_t(CAMNET_ERR_DEVICE_REFUSED));
        QVERIFY(refused.statusText().contains("distanceLevel"));

        XmlCall missing(id, "GET /ISAPI/Thermal/channels/1/fusionCalibration\r\n");
        QCOMPARE(missing.error, int32_t(CAMNET_ERR_NOT_SUPPORTED));
        QVERIFY(missing.statusText().contains("<ResponseStatus>"));
        QVERIFY(CamNet_Logout(id));
    }

    void malformedRequestLinesAreRefusedUnsent()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        const int before = sim.counter("total");
        for (const QByteArray &line :
             {QByteArray("GET"), QByteArray("GET " + calibrationPath + "\r\nHost: x"),
              QByteArray("FETCH " + calibrationPath), QByteArray("GET /a b"),
              QByteArray("GET relative"), QByteArray("GET " + calibrationPath + "\r"),
              QByteArray("GET /a\nb"), QByteArray()}) {
            XmlCall call(id, line);
            QCOMPARE(call.result, 0);
            QCOMPARE(call.error, int32_t(CAMNET_ERR_BAD_ARGUMENT));
        }
        QCOMPARE(sim.counter("total"), before + 1);
        QVERIFY(CamNet_Logout(id));
    }

    void repliesNeverRunPastTheirBuffers()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        XmlCall small(id, "GET " + calibrationPath, QByteArray(), 40, 40);
        QCOMPARE(small.result, 0);
        QCOMPARE(small.error, int32_t(CAMNET_ERR_BUFFER_TOO_SMALL));
        QCOMPARE(small.output.responseSize, 40u);
        QVERIFY(small.responseText().startsWith("<?xml"));
        QVERIFY(small.guardsIntact(40, 40));

        XmlCall status(id, "PUT " + calibrationPath, calibrationXml(4, 100), 40, 8);
        QCOMPARE(status.error, int32_t(CAMNET_ERR_BUFFER_TOO_SMALL));
        QCOMPARE(status.output.statusSize, 8u);
        QVERIFY(status.guardsIntact(40, 8));

        sim.faults("oversize-reply=1");
        XmlCall huge(id, "GET " + calibrationPath);
        QCOMPARE(huge.error, int32_t(CAMNET_ERR_BUFFER_TOO_SMALL));
        QCOMPARE(huge.output.responseSize, 64u * 1024u);
        QVERIFY(huge.guardsIntact(64 * 1024, 16 * 1024));
        QVERIFY(CamNet_Logout(id));
    }

    void stdConfigMovesTheSwitchRecord()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        QByteArray record(732, '\x55');
        QVERIFY(stdConfig(false, id, 6768, &record));
        QCOMPARE(int(record[5]), 2);
        QVERIFY(stdConfig(true, id, 6769, nullptr, switchRecord(1)));
        QCOMPARE(sim.state().value("fusion").toBool(), true);
        QVERIFY(stdConfig(false, id, 6768, &record));
        QCOMPARE(int(record[5]), 1);
        QCOMPARE(sim.counter("stdConfig"), 3);

        QCOMPARE(stdConfig(false, id, 6770, &record), 0);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_NOT_SUPPORTED));
        QCOMPARE(stdConfig(true, id, 6769, nullptr, switchRecord(3)), 0);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_DEVICE_REFUSED));
        QVERIFY(CamNet_Logout(id));
    }

    void faultsFailInTime()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        sim.faults("drop-connection=1");
        XmlCall dropped(id, "GET " + calibrationPath);
        QCOMPARE(dropped.result, 0);
        QCOMPARE(dropped.error, int32_t(CAMNET_ERR_CONNECTION_FAILED));

        sim.faults("drop-connection=0 delay=8000");
        QElapsedTimer timer;
        timer.start();
        XmlCall slow(id, "GET " + calibrationPath);
        QCOMPARE(slow.error, int32_t(CAMNET_ERR_TIMED_OUT));
        QVERIFY(timer.elapsed() < 7000);

        // The login recovers once the camera does.
        sim.faults("delay=0");
        XmlCall again(id, "GET " + calibrationPath);
        QVERIFY2(again.result, QByteArray::number(again.error));
        QVERIFY(CamNet_Logout(id));
    }

    void errorsStayWithTheirThreadAndALoginServesSeveral()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        QVERIFY(CamNet_SetConnectTime(2000, 1));
        int32_t otherError = -1;
        std::thread failing([&] {
            XmlCall call(id, "BOGUS");
            otherError = CamNet_GetLastError();
        });
        failing.join();
        QCOMPARE(otherError, int32_t(CAMNET_ERR_BAD_ARGUMENT));
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_NONE));

        std::atomic<int> good{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                for (int i = 0; i < 5; ++i) {
                    XmlCall call(id, "GET " + calibrationPath);
                    if (call.result && call.responseText().endsWith("</FusionCalibration>\n"))
                        ++good;
                }
            });
        }
        for (std::thread &worker : workers)
            worker.join();
        QCOMPARE(good.load(), 20);
        QCOMPARE(sim.counter("calibrationGet"), 20);
        QVERIFY(CamNet_Logout(id));
    }

    void previewFailsAtOnce()
    {
        Camsim sim;
        const int32_t id = login(sim.port());
        QVERIFY(id >= 0);
        PreviewRequest preview;
        std::memset(&preview, 0, sizeof preview);
        preview.channel = 1;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CamNet_RealPlay(id, &preview, nullptr, nullptr), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_NOT_SUPPORTED));
        QVERIFY(timer.elapsed() < 500);
        QVERIFY(CamNet_Logout(id));
    }
};

QTEST_GUILESS_MAIN(TestSdk)
#include "tst_sdk.moc"
