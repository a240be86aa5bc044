// The real SDK against the simulator's ONVIF services, with a profile that
// says streamUrl=onvif: both channels play in every authentication mode, on
// Media2 and on Media alone, with the camera's clock two hours off, and with
// the thermal source named by the profile on a camera without a Thermal
// service; channel 2 is the thermal picture (the simulator's thermal frames
// are 384x288, its visible ones 640x480); the second channel costs no second
// lookup; a camera that does not say which source is thermal is refused with
// one line naming its sources; addresses naming 0.0.0.0 are rewritten; and
// refused credentials, an unreachable or a frozen camera fail with their
// own codes.
#include "camnetsdk.h"
#include "sdkcalls.h"
#include "stderrcapture.h"

#include "onvif/onvifnamespaces.h"
#include "onvif/onvifreplies.h"
#include "onvif/soapclient.h"

#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

using TestSupport::Camsim;
using TestSupport::login;

// Generous: a loaded two-core machine encodes, decodes and runs the simulator.
constexpr int slow = 30000;
const QSize visibleSize(640, 480);
const QSize thermalSize(384, 288);

using TestSupport::StderrCapture;

std::unique_ptr<Camsim> startCamsim(const QStringList &onvif)
{
    return std::make_unique<Camsim>(QStringList{"--rtsp-codec", "h264", "--visible-size", "640x480",
                                                "--thermal-size", "384x288", "--fps", "10"} +
                                    onvif);
}

// The simulator's ONVIF log lines: "ONVIF <service> <Operation> auth=... -> status".
QList<QByteArray> onvifCalls(const Camsim &sim)
{
    QList<QByteArray> calls;
    for (const QByteArray &line : sim.log().split('\n')) {
        const int at = line.indexOf("ONVIF ");
        if (at >= 0)
            calls << line.mid(at);
    }
    return calls;
}

int count(const QList<QByteArray> &calls, const QByteArray &part)
{
    int n = 0;
    for (const QByteArray &call : calls)
        n += call.contains(part);
    return n;
}

int32_t realPlay(int32_t loginId, int channel)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.window = 0;
    return CamNet_RealPlay(loginId, &request, nullptr, nullptr);
}

uint32_t framesOf(int32_t handle)
{
    CamNet_PreviewStats stats;
    std::memset(&stats, 0, sizeof stats);
    return CamNet_GetPreviewStats(handle, &stats) ? stats.framesReceived : 0;
}

// The size of the preview's latest decoded picture; empty before the first.
QSize pictureSize(int32_t handle)
{
    std::vector<uint8_t> pixels(1920 * 1080 * 4);
    CamNet_Picture picture;
    std::memset(&picture, 0, sizeof picture);
    picture.size = sizeof picture;
    picture.data = pixels.data();
    picture.dataSize = uint32_t(pixels.size());
    if (!CamNet_CapturePicture(handle, &picture))
        return QSize();
    return QSize(int(picture.width), int(picture.height));
}

// The video sources the simulator lists, asked for as any ONVIF client
// would: the token of the one whose resolution is size.
std::string sourceToken(const Camsim &sim, const QSize &size)
{
    const std::string device = "http://127.0.0.1:" + std::to_string(sim.port());
    SoapClient client(device + "/onvif/device_service", TestSupport::camsimUser,
                      TestSupport::camsimPassword);
    const HttpClient::Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    SoapDocument reply;
    OnvifReplies::Services services;
    std::vector<SourceChoice::Source> sources;
    if (client.readClock(deadline) ||
        client.call(device + "/onvif/device_service", {OnvifNs::device, "GetServices", nullptr},
                    deadline, &reply) ||
        !OnvifReplies::services(reply, &services) ||
        client.call(services.media, {OnvifNs::media, "GetVideoSources", nullptr}, deadline,
                    &reply) ||
        !OnvifReplies::videoSources(reply, &sources))
        return std::string();
    for (const SourceChoice::Source &source : sources) {
        if (source.width == size.width() && source.height == size.height())
            return source.token;
    }
    return std::string();
}

// A loopback port nothing listens on (as long as nobody takes it meanwhile).
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

class TestSdkOnvif : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_profile;
    std::vector<int32_t> m_handles;
    std::vector<int32_t> m_logins;

    void writeProfile(const QByteArray &text)
    {
        QFile file(m_profile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write("[General]\nstreamUrl=onvif\n" + text), qint64(26 + text.size()));
    }

    int32_t loginTo(const Camsim &sim, const char *password = TestSupport::camsimPassword)
    {
        const int32_t id = login(sim.port(), nullptr, password);
        if (id >= 0)
            m_logins.push_back(id);
        return id;
    }

    // Plays both channels; channel 1 must show the visible picture and
    // channel 2 the thermal one, or the reverse when swapped.
    void playsBoth(const Camsim &sim, bool swapped = false)
    {
        const int32_t id = loginTo(sim);
        QVERIFY2(id >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        const int32_t one = realPlay(id, 1);
        // The camera's side of a failure says where it went wrong.
        QVERIFY2(one >= 0, qPrintable(QString::number(CamNet_GetLastError()) + "\n" +
                                      onvifCalls(sim).join('\n')));
        m_handles.push_back(one);
        const int lookups = onvifCalls(sim).size();
        QVERIFY(lookups > 0);
        const int32_t two = realPlay(id, 2);
        QVERIFY2(two >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        m_handles.push_back(two);
        // The login's resolution served the second channel.
        QCOMPARE(onvifCalls(sim).size(), lookups);
        QTRY_VERIFY_WITH_TIMEOUT(framesOf(one) > 0 && framesOf(two) > 0, slow);
        QTRY_VERIFY_WITH_TIMEOUT(pictureSize(one).isValid() && pictureSize(two).isValid(), slow);
        QCOMPARE(pictureSize(one), swapped ? thermalSize : visibleSize);
        QCOMPARE(pictureSize(two), swapped ? visibleSize : thermalSize);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(CamNet_Init());
        QVERIFY(CamNet_SetConnectTime(2000, 1));
        m_profile = m_dir.filePath(QStringLiteral("camera.ini"));
        qputenv("CAMNETSDK_PROFILE", m_profile.toLocal8Bit());
    }

    void cleanup()
    {
        for (const int32_t handle : m_handles)
            CamNet_StopRealPlay(handle);
        for (const int32_t id : m_logins)
            CamNet_Logout(id);
        m_handles.clear();
        m_logins.clear();
    }

    void bothChannelsPlay_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QByteArray>("auth"); // how every authenticated call went
        QTest::addColumn<bool>("media2");
        QTest::newRow("digest") << QStringList{"--onvif-auth", "digest"} << QByteArray()
                                << QByteArray("auth=digest") << true;
        QTest::newRow("token") << QStringList{"--onvif-auth", "token"} << QByteArray()
                               << QByteArray("auth=token") << true;
        QTest::newRow("either") << QStringList{"--onvif-auth", "both"} << QByteArray()
                                << QByteArray("auth=digest") << true;
        QTest::newRow("Media only, token")
            << QStringList{"--onvif-auth", "token", "--onvif-no-media2"} << QByteArray()
            << QByteArray("auth=token") << false;
        QTest::newRow("Media only, UDP")
            << QStringList{"--onvif-no-media2"} << QByteArray("rtspTransport=udp\n")
            << QByteArray("auth=digest") << false;
        QTest::newRow("Media2, UDP") << QStringList{} << QByteArray("rtspTransport=auto\n")
                                     << QByteArray("auth=digest") << true;
        QTest::newRow("clock 2 h ahead")
            << QStringList{"--onvif-auth", "token", "--onvif-clock-offset", "7200"} << QByteArray()
            << QByteArray("auth=token") << true;
        QTest::newRow("clock 2 h behind, Media only")
            << QStringList{"--onvif-auth", "token", "--onvif-clock-offset", "-7200",
                           "--onvif-no-media2"}
            << QByteArray() << QByteArray("auth=token") << false;
    }

    void bothChannelsPlay()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, profile);
        QFETCH(QByteArray, auth);
        QFETCH(bool, media2);
        const std::unique_ptr<Camsim> sim = startCamsim(options);
        QVERIFY(sim->port() && sim->rtspPort());
        writeProfile(profile);
        playsBoth(*sim);
        if (QTest::currentTestFailed())
            return;

        const QList<QByteArray> calls = onvifCalls(*sim);
        const QByteArray all = calls.join('\n');
        // The clock first, without credentials; then every stream URI asked
        // for the way this camera wants, and never in both ways at once.
        QVERIFY2(calls.value(0).contains("GetSystemDateAndTime auth=none"), all.constData());
        QCOMPARE(count(calls, "GetStreamUri " + auth), 2);
        QCOMPARE(count(calls, "GetStreamUri"), 2);
        QCOMPARE(count(calls, auth == "auth=token" ? "auth=digest" : "auth=token"), 0);
        // A token dated by the camera's clock is accepted at once: only the
        // first call without credentials, and none with them, is refused.
        int refused = 0;
        for (const QByteArray &call : calls)
            refused += !call.contains("auth=none") && !call.contains("-> 200");
        QVERIFY2(refused == 0, all.constData());
        // Media alone is asked for its sources; Media2 names them in its profiles.
        QCOMPARE(count(calls, "GetVideoSources") > 0, !media2);
        QCOMPARE(count(calls, "GetConfigurations " + auth), 1);
    }

    void profileNamesTheThermalSource()
    {
        const std::unique_ptr<Camsim> sim = startCamsim({"--onvif-no-thermal"});
        QVERIFY(sim->port() && sim->rtspPort());
        const std::string thermal = sourceToken(*sim, thermalSize);
        const std::string visible = sourceToken(*sim, visibleSize);
        QVERIFY(!thermal.empty() && !visible.empty() && thermal != visible);

        writeProfile(QByteArray("onvifThermalSource=") + thermal.c_str() + "\n");
        playsBoth(*sim);
        QCOMPARE(count(onvifCalls(*sim), "GetConfigurations"), 0);
        cleanup();
        // Named the other way round, the channels follow the profile.
        writeProfile(QByteArray("onvifThermalSource=") + visible.c_str() + "\n");
        playsBoth(*sim, true);
    }

    void unknownThermalSourceIsRefused()
    {
        const std::unique_ptr<Camsim> sim = startCamsim({"--onvif-no-thermal"});
        QVERIFY(sim->port() && sim->rtspPort());
        const std::string thermal = sourceToken(*sim, thermalSize);
        const std::string visible = sourceToken(*sim, visibleSize);
        QVERIFY(!thermal.empty() && !visible.empty());
        for (const QByteArray &extra : {QByteArray(), QByteArray("onvifThermalSource=none\n")}) {
            writeProfile(extra);
            const int32_t id = loginTo(*sim);
            QVERIFY(id >= 0);
            for (const int channel : {1, 2}) {
                StderrCapture capture;
                QCOMPARE(realPlay(id, channel), -1);
                QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
                const QByteArray said = capture.text();
                QCOMPARE(said.count('\n'), 1);
                QVERIFY2(said.contains(QByteArray("\"") + thermal.c_str() + "\"") &&
                             said.contains(QByteArray("\"") + visible.c_str() + "\""),
                         said.constData());
            }
            // Nothing was asked to stream.
            QCOMPARE(count(onvifCalls(*sim), "GetStreamUri"), 0);
        }
    }

    void addressesAreRewritten()
    {
        const std::unique_ptr<Camsim> sim = startCamsim({"--onvif-bad-address"});
        QVERIFY(sim->port() && sim->rtspPort());
        writeProfile(QByteArray());
        StderrCapture capture;
        playsBoth(*sim);
        const QByteArray said = capture.text();
        const QList<QByteArray> lines = said.trimmed().split('\n');
        // Three services and two streams, each one line.
        QCOMPARE(lines.size(), 5);
        for (const QByteArray &line : lines)
            QVERIFY2(line.contains("0.0.0.0") && line.contains("using ") &&
                         line.contains("://127.0.0.1:"),
                     said.constData());
        QCOMPARE(said.count("rtsp://127.0.0.1:" + QByteArray::number(sim->rtspPort())), 2);
    }

    void failuresHaveTheirCodes()
    {
        const std::unique_ptr<Camsim> sim = startCamsim({"--onvif-auth", "token"});
        QVERIFY(sim->port());
        // An unauthenticated login check lets a wrong password through to ONVIF.
        writeProfile("loginCheck=/camsim/state\n");
        for (const char *mode : {"token", "digest"}) {
            const std::unique_ptr<Camsim> own = startCamsim({"--onvif-auth", mode});
            QVERIFY(own->port());
            const int32_t id = loginTo(*own, "wrong");
            QVERIFY(id >= 0);
            QCOMPARE(realPlay(id, 1), -1);
            QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_AUTHENTICATION_FAILED));
        }

        // Nothing listens where the profile puts ONVIF.
        const quint16 port = closedPort();
        QVERIFY(port);
        writeProfile("onvifPort=" + QByteArray::number(port) + "\n");
        int32_t id = loginTo(*sim);
        QVERIFY(id >= 0);
        QCOMPARE(realPlay(id, 1), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CONNECTION_FAILED));

        // A camera that stops answering after the login.
        writeProfile(QByteArray());
        id = loginTo(*sim);
        QVERIFY(id >= 0);
        QVERIFY(sim->freeze(true));
        QCOMPARE(realPlay(id, 1), -1);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_TIMED_OUT));
        QVERIFY(sim->freeze(false));
        // Nothing was cached from the failure: it plays once the camera answers.
        const int32_t handle = realPlay(id, 1);
        QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        m_handles.push_back(handle);
    }

    void profileKeysAreChecked()
    {
        const std::unique_ptr<Camsim> sim = startCamsim({});
        QVERIFY(sim->port());
        for (const QByteArray &bad :
             {QByteArray("onvifPort=0\n"), QByteArray("onvifPort=70000\n"),
              QByteArray("onvifPort=80x\n"),
              QByteArray("onvifThermalSource=" + QByteArray(65, 'a')) + "\n"}) {
            writeProfile(bad);
            StderrCapture capture;
            QCOMPARE(login(sim->port()), -1);
            QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_PROFILE));
            QVERIFY2(capture.text().contains(":3: onvif"), bad.constData());
        }
    }
};

QTEST_MAIN(TestSdkOnvif)
#include "tst_sdkonvif.moc"
