// The device profile through the real SDK: a profile moves the login check,
// the streams and the standard-configuration calls, a camera's own group
// overrides the general one, and every kind of mistake fails the login with
// its own code and one line naming the file, the line and the fault, before
// anything is sent.
#include "camnetsdk.h"
#include "sdkcalls.h"
#include "stderrcapture.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

using TestSupport::Camsim;
using TestSupport::login;

using TestSupport::StderrCapture;

// Requests the camera answered, Digest's challenges left out.
int requestsFor(const Camsim &sim, const QByteArray &path)
{
    int n = 0;
    for (const QByteArray &line : sim.log().split('\n'))
        n += line.contains(" " + path) && !line.endsWith("-> 401");
    return n;
}

} // namespace

class TestSdkProfile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_profile;

    void writeProfile(const QByteArray &text)
    {
        QFile file(m_profile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(text), qint64(text.size()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(CamNet_Init());
        QVERIFY(CamNet_SetConnectTime(2000, 1));
        m_profile = m_dir.filePath(QStringLiteral("camera.ini"));
        qputenv("CAMNETSDK_PROFILE", m_profile.toLocal8Bit());
    }

    void mistakesFailTheLoginUnsent_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QByteArray>("where");
        QTest::addColumn<QByteArray>("fault");
        QTest::newRow("syntax") << QByteArray("[General]\nloginCheck=/a\nnot a key line\n")
                                << QByteArray(":3: ") << QByteArray("not a key line");
        QTest::newRow("key before any group")
            << QByteArray("# cameras\nstreamUrl=rtsp://{host}/x\n") << QByteArray(":2: ")
            << QByteArray("group");
        QTest::newRow("unknown key") << QByteArray("[General]\n\nrtspTransprot=udp\n")
                                     << QByteArray(":3: ") << QByteArray("rtspTransprot");
        QTest::newRow("unknown key of another camera")
            << QByteArray("[General]\nrtspTransport=tcp\n[10.1.2.3]\nstreamurl=rtsp://x/\n")
            << QByteArray(":4: ") << QByteArray("streamurl in group [10.1.2.3]");
        QTest::newRow("unknown placeholder")
            << QByteArray("[General]\nstreamUrl=rtsp://{host}:554/ch{chanel}\n")
            << QByteArray(":2: ") << QByteArray("{chanel}");
        QTest::newRow("unknown scheme") << QByteArray("[General]\nstreamUrl=rtmp://{host}/live\n")
                                        << QByteArray(":2: ") << QByteArray("scheme");
        QTest::newRow("credentials in the URL")
            << QByteArray("[General]\nstreamUrl=rtsp://admin:pw@{host}/live\n")
            << QByteArray(":2: ") << QByteArray("credentials");
        QTest::newRow("transport") << QByteArray("[127.0.0.1]\nrtspTransport=http\n")
                                   << QByteArray(":2: ") << QByteArray("tcp, udp or auto");
        QTest::newRow("boolean") << QByteArray("[General]\nrtspBasicAuth=maybe\n")
                                 << QByteArray(":2: ") << QByteArray("rtspBasicAuth");
        QTest::newRow("relative path") << QByteArray("[General]\nloginCheck=camnet/device\n")
                                       << QByteArray(":2: ") << QByteArray("begin with /");
        QTest::newRow("placeholder in the wrong key")
            << QByteArray("[General]\nstdConfigPath=/cfg/{channel}\n") << QByteArray(":2: ")
            << QByteArray("{channel}");
    }

    void mistakesFailTheLoginUnsent()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QByteArray, where);
        QFETCH(QByteArray, fault);
        Camsim sim;
        writeProfile(profile);
        StderrCapture capture;
        QCOMPARE(login(sim.port()), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_PROFILE));
        const QByteArray said = capture.text();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains(m_profile.toLocal8Bit() + where), said.constData());
        QVERIFY2(said.contains(fault), said.constData());
        QCOMPARE(requestsFor(sim, "/camnet/"), 0);
    }

    void anUnreadableProfileIsAMistakeToo()
    {
        Camsim sim;
        QFile::remove(m_profile);
        StderrCapture capture;
        QCOMPARE(login(sim.port()), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_PROFILE));
        QVERIFY(capture.text().contains(m_profile.toLocal8Bit()));
    }

    void aProfileMovesEveryRequest()
    {
        Camsim sim;
        // The general group points everywhere wrong; the camera's own group
        // mends all but the stream, key by key.
        writeProfile("[General]\nloginCheck=/nowhere\nstdConfigPath=/nowhere/{command}\n"
                     "streamUrl=http://{host}:{port}/camnet/channels/{channel}/stream\n"
                     "[127.0.0.1]\nloginCheck=/camnet/device?check=1\n"
                     "stdConfigPath=/camnet/stdconfig/{command}\n"
                     "streamUrl=http://{host}:{port}/camnet/channels/1{channel}/stream\n");
        const int32_t id = login(sim.port());
        QVERIFY2(id >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        QCOMPARE(requestsFor(sim, "/camnet/device"), 1);
        QCOMPARE(requestsFor(sim, "/nowhere"), 0);

        QByteArray record(732, '\0');
        QVERIFY(TestSupport::stdConfig(false, id, 6768, &record));
        QCOMPARE(sim.counter(QStringLiteral("stdConfig")), 1);

        // Channel 1 becomes the camera's channel 11, which it does not have.
        PreviewRequest preview{};
        preview.channel = 1;
        QCOMPARE(CamNet_RealPlay(id, &preview, nullptr, nullptr), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
        QCOMPARE(requestsFor(sim, "/camnet/channels/11/stream"), 1);
        QVERIFY(CamNet_Logout(id));

        // Edited between two logins: the next one reads it again. A camera's
        // own login check may answer anything on success.
        writeProfile("[General]\nloginCheck=/ISAPI/Thermal/channels/2/fusionCalibration\n");
        DeviceInfoReply info;
        std::memset(&info, 0x55, sizeof info);
        const int32_t again = login(sim.port(), &info);
        QVERIFY(again >= 0);
        QCOMPARE(info.channelCount, 0u);
        QCOMPARE(info.deviceName[0], '\0');
        QVERIFY(CamNet_Logout(again));

        // The example shipped beside the SDK is a profile it takes.
        QFile example(QStringLiteral(OVERLAYTUNER_SOURCE_DIR "/camnetsdk/camnetsdk.ini.example"));
        QVERIFY(example.open(QIODevice::ReadOnly));
        writeProfile(example.readAll());
        const int32_t third = login(sim.port());
        QVERIFY2(third >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        QVERIFY(CamNet_Logout(third));
    }
};

QTEST_GUILESS_MAIN(TestSdkProfile)
#include "tst_sdkprofile.moc"
