// The real SDK's transport against the camera simulator: one login's requests
// reuse its Digest nonce instead of paying for a fresh challenge each, without
// one request's method or body leaking into the next, and two logins whose
// requests interleave both keep working.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "sdkcalls.h"

#include <QtTest>

namespace {

const QByteArray calibrationLine = "/ISAPI/Thermal/channels/2/fusionCalibration\r\n";

// One ISAPI exchange; the reply text is the buffer its method fills.
bool isapi(int32_t loginId, const QByteArray &method, const QByteArray &body, QByteArray *reply)
{
    const TestSupport::XmlCall call(loginId, method + " " + calibrationLine, body);
    if (reply)
        *reply = method == "GET" ? call.responseText() : call.statusText();
    return call.result != 0;
}

bool readSwitch(int32_t loginId)
{
    QByteArray record(732, '\0');
    return TestSupport::stdConfig(false, loginId, 6768, &record) != 0;
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
        TestSupport::Camsim sim;
        QVERIFY(sim.port());
        const int32_t id = TestSupport::login(sim.port());
        QVERIFY2(id >= 0, QByteArray::number(CamNet_GetLastError()));
        const int challengedBefore = sim.counter("unauthorized");
        constexpr int writes = 200;
        for (int i = 0; i < writes; ++i) {
            QByteArray reply;
            QVERIFY2(isapi(id, "PUT", TestSupport::calibrationXml(3, 100 + i % 2), &reply),
                     QByteArray::number(CamNet_GetLastError()));
            QVERIFY(reply.contains("<statusCode>1</statusCode>"));
        }
        QCOMPARE(sim.counter("calibrationPut"), writes);
        // The login's nonce serves every resource and method; it expires
        // only after minutes.
        QCOMPARE(sim.counter("unauthorized") - challengedBefore, 0);
        QVERIFY(CamNet_Logout(id));
    }

    void eachRequestCarriesOnlyItsOwnMethodAndBody()
    {
        TestSupport::Camsim sim;
        const int32_t id = TestSupport::login(sim.port());
        QVERIFY(id >= 0);
        QByteArray reply;
        QVERIFY(isapi(id, "PUT", TestSupport::calibrationXml(3, 77), &reply));
        // A GET after a PUT must neither be sent as a PUT nor carry its body.
        QVERIFY(isapi(id, "GET", QByteArray(), &reply));
        QVERIFY2(reply.contains("<horizontal>77</horizontal>"), reply);
        QVERIFY(readSwitch(id));
        QVERIFY(isapi(id, "GET", QByteArray(), &reply));
        QVERIFY(reply.startsWith("<?xml"));
        QVERIFY(isapi(id, "PUT", TestSupport::calibrationXml(3, 78), &reply));
        QVERIFY(reply.contains("<statusCode>1</statusCode>"));
        const QJsonObject requests = sim.state().value("requests").toObject();
        QCOMPARE(requests.value("calibrationPut").toInt(), 2);
        QCOMPARE(requests.value("calibrationGet").toInt(), 2);
        QCOMPARE(requests.value("stdConfig").toInt(), 1);
        QVERIFY(CamNet_Logout(id));
    }

    void twoLoginsWritingTogetherBothSucceed()
    {
        // Each login counts on its own nonce; one's requests must not make the
        // camera refuse the other's.
        TestSupport::Camsim sim;
        const int32_t first = TestSupport::login(sim.port());
        const int32_t second = TestSupport::login(sim.port());
        QVERIFY(first >= 0 && second >= 0);
        for (int i = 0; i < 100; ++i) {
            const int32_t id = i % 3 == 0 ? second : first;
            QVERIFY2(isapi(id, "PUT", TestSupport::calibrationXml(3, 100 + i % 2), nullptr),
                     QByteArray::number(i) + " " + QByteArray::number(CamNet_GetLastError()));
        }
        QCOMPARE(sim.counter("calibrationPut"), 100);
        QVERIFY(CamNet_Logout(first));
        QVERIFY(CamNet_Logout(second));
    }
};

QTEST_GUILESS_MAIN(TestSdkTransport)
#include "tst_sdktransport.moc"
