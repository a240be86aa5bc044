// The real SDK library against the camera simulator on loopback: logins,
// ISAPI pass-through, standard configuration and the simulator's faults.
#include "camnetsdk.h"
#include "sdkcalls.h"

#include <QElapsedTimer>
#include <QJsonObject>
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

using TestSupport::calibrationXml;
using TestSupport::Camsim;
using TestSupport::login;
using TestSupport::stdConfig;
using TestSupport::switchRecord;
using TestSupport::XmlCall;

const QByteArray calibrationPath = "/ISAPI/Thermal/channels/2/fusionCalibration";

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

    void loginsCoexistAndLogoutEndsOnlyItsOwn()
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
        // Identifiers count up, so one far ahead names no login yet.
        for (int32_t bad : {id, -1, id + 100000}) {
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
        // The simulator has two channels; a third cannot be streamed.
        preview.channel = 3;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CamNet_RealPlay(id, &preview, nullptr, nullptr), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
        QVERIFY(timer.elapsed() < 500);
        QVERIFY(CamNet_Logout(id));
    }
};

QTEST_GUILESS_MAIN(TestSdk)
#include "tst_sdk.moc"
