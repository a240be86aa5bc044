// How the real SDK starts an RTSP preview, against a camera whose every answer
// the test scripts (ScriptedRtspServer; the simulator answers the login and
// the device profile points the stream at the scripted camera). A handle
// comes back only once the stream is set up and PLAY was answered, within the
// call's one deadline; otherwise the call fails with the camera's reason,
// whatever shape that reason takes. "auto" falls back from UDP to TCP, "tcp"
// and "udp" never do. A session the camera ends when left alone is kept alive
// without a reconnect, and what fails once the preview runs is reconnected to.

#include "camnetsdk.h"
#include "camsimprocess.h"
#include "rtsplogins.h"
#include "scriptedrtspserver.h"
#include "sdkcalls.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

using TestSupport::ScriptedRtspServer;
using Auth = ScriptedRtspServer::Auth;
using Transports = ScriptedRtspServer::Transports;
using NotFound = ScriptedRtspServer::NotFound;
using Answers = ScriptedRtspServer::Answers;

Q_DECLARE_METATYPE(ScriptedRtspServer::Options)

namespace {

// Generous: a loaded two-core machine encodes, decodes and runs the simulator.
constexpr int slow = 30000;
// Ten frames of a stream that plays, even one that first tried UDP in vain.
constexpr int framesDue = 15000;
// The call's one deadline with a connect of 2 s tried once: that connect plus
// five seconds, and a little for a loaded machine to return.
constexpr qint64 deadlineMs = 2000 + 5000 + 700;
// Short enough that a run of a few seconds needs several keep-alives.
constexpr int sessionTimeoutS = 3;

ScriptedRtspServer::Options camera(Auth auth = Auth::Digest)
{
    ScriptedRtspServer::Options options;
    options.auth = auth;
    options.user = TestSupport::camsimUser;
    options.password = TestSupport::camsimPassword;
    return options;
}

CamNet_PreviewStats stats(int32_t handle)
{
    CamNet_PreviewStats s;
    std::memset(&s, 0, sizeof s);
    CamNet_GetPreviewStats(handle, &s);
    return s;
}

// Headless: frames are counted, not drawn.
int32_t realPlay(int32_t loginId, int channel)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    return CamNet_RealPlay(loginId, &request, nullptr, nullptr);
}

// The transport each SETUP asked for, in order: "udp tcp".
QString setups(const ScriptedRtspServer &server)
{
    QStringList kinds;
    for (const ScriptedRtspServer::Request &r : server.requests()) {
        if (r.method == "SETUP")
            kinds << (r.transport.startsWith("RTP/AVP/TCP") ? "tcp" : "udp");
    }
    return kinds.join(' ');
}

bool basicSent(const ScriptedRtspServer &server)
{
    for (const ScriptedRtspServer::Request &r : server.requests()) {
        if (r.authorization.toLower().startsWith("basic "))
            return true;
    }
    return false;
}

int countOf(const ScriptedRtspServer &server, const QByteArray &method)
{
    int n = 0;
    for (const ScriptedRtspServer::Request &r : server.requests())
        n += r.method == method ? 1 : 0;
    return n;
}

// One blocking RTSP exchange on fd; the answer's header, empty when none came.
QByteArray exchange(int fd, const QByteArray &request)
{
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0)
        return QByteArray();
    QByteArray answer;
    char c;
    while (!answer.endsWith("\r\n\r\n") && ::recv(fd, &c, 1, 0) == 1)
        answer += c;
    return answer;
}

} // namespace

class TestSdkRtspStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void playsOnceTheStreamIsSetUp_data();
    void playsOnceTheStreamIsSetUp();
    void failsWithTheCameraReason_data();
    void failsWithTheCameraReason();
    void cameraEndsSessionsLeftAlone();
    void keepsTheSessionAlive_data();
    void keepsTheSessionAlive();
    void reconnectsWhatFailsOnceStarted();

private:
    // Logs in to the simulator with a profile whose stream is on rtspPort;
    // -1 when the login failed.
    int32_t login(quint16 rtspPort, const QString &transport, bool basic = false);

    std::unique_ptr<TestSupport::RtspLogins> m_logins;
};

void TestSdkRtspStart::initTestCase()
{
    QVERIFY(CamNet_Init());
    CamNet_SetConnectTime(2000, 1);
    CamNet_SetReconnect(300, 1);
    m_logins.reset(new TestSupport::RtspLogins);
    QVERIFY(m_logins->camsimPort());
}

void TestSdkRtspStart::cleanup()
{
    // Ends every preview, also of a test that failed half-way.
    m_logins->logoutAll();
}

int32_t TestSdkRtspStart::login(quint16 rtspPort, const QString &transport, bool basic)
{
    return m_logins->login(rtspPort, transport, basic);
}

void TestSdkRtspStart::playsOnceTheStreamIsSetUp_data()
{
    QTest::addColumn<ScriptedRtspServer::Options>("options");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("basic");
    // The transport of each SETUP the camera gets, in order.
    QTest::addColumn<QString>("expectedSetups");

    QTest::newRow("tcp, Digest") << camera() << "tcp" << false << "tcp";
    QTest::newRow("udp, no authentication") << camera(Auth::None) << "udp" << false << "udp";
    QTest::newRow("tcp, Basic allowed") << camera(Auth::Basic) << "tcp" << true << "tcp";
    // Answered with Basic before it asks, so its broken challenge never matters.
    QTest::newRow("tcp, Basic allowed, challenge without CSeq")
        << camera(Auth::BasicWithoutCSeq) << "tcp" << true << "tcp";
    QTest::newRow("auto, UDP served") << camera() << "auto" << false << "udp";
    ScriptedRtspServer::Options tcpOnly = camera();
    tcpOnly.transports = Transports::TcpOnly;
    QTest::newRow("auto, UDP refused") << tcpOnly << "auto" << false << "udp tcp";
    ScriptedRtspServer::Options silentUdp = camera();
    silentUdp.silentUdp = true;
    QTest::newRow("auto, UDP silent") << silentUdp << "auto" << false << "udp tcp";
    // The fallback must not depend on the source keeping the password.
    QTest::newRow("auto, UDP silent, Basic allowed") << silentUdp << "auto" << true << "udp tcp";
}

void TestSdkRtspStart::playsOnceTheStreamIsSetUp()
{
    QFETCH(ScriptedRtspServer::Options, options);
    QFETCH(QString, transport);
    QFETCH(bool, basic);
    QFETCH(QString, expectedSetups);
    ScriptedRtspServer server(options);
    QVERIFY(server.port());
    const int32_t id = login(server.port(), transport, basic);
    QVERIFY(id >= 0);

    QElapsedTimer timer;
    timer.start();
    const int32_t handle = realPlay(id, 1);
    const qint64 returnedMs = timer.elapsed();
    // Read at once: the camera answers PLAY before the SDK can have seen it.
    const int playsAtReturn = server.playsAnswered();
    const int32_t error = CamNet_GetLastError();
    qInfo("%s: RealPlay returned %d (error %d) after %lld ms; the camera got: %s",
          QTest::currentDataTag(), int(handle), int(error), returnedMs,
          server.methods().constData());
    QVERIFY2(handle >= 0, qPrintable(QString::number(error)));
    QVERIFY2(returnedMs < deadlineMs, qPrintable(QString::number(returnedMs)));
    QVERIFY2(playsAtReturn >= 1, "RealPlay returned before PLAY was answered");

    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= 10, framesDue);
    QCOMPARE(stats(handle).reconnects, 0u);
    QCOMPARE(setups(server), expectedSetups);
    // The frames came the way the stream was finally set up.
    QVERIFY(server.packetsSent(expectedSetups.endsWith("udp")) > 0);
    // Basic goes out to a camera that asks for nothing else, never to one that offers Digest.
    QCOMPARE(basicSent(server),
             options.auth == Auth::Basic || options.auth == Auth::BasicWithoutCSeq);
    QCOMPARE(CamNet_StopRealPlay(handle), 1);
}

void TestSdkRtspStart::failsWithTheCameraReason_data()
{
    QTest::addColumn<ScriptedRtspServer::Options>("options");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("basic");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("error");
    const int unavailable = CAMNET_ERR_CHANNEL_UNAVAILABLE;
    const int refused = CAMNET_ERR_AUTHENTICATION_FAILED;

    ScriptedRtspServer::Options options = camera();
    options.transports = Transports::UdpOnly;
    QTest::newRow("tcp, TCP refused") << options << "tcp" << false << 1 << unavailable;
    options.transports = Transports::TcpOnly;
    QTest::newRow("udp, UDP refused") << options << "udp" << false << 1 << unavailable;
    options = camera();
    options.playStatus = 454;
    QTest::newRow("tcp, PLAY 454") << options << "tcp" << false << 1 << unavailable;
    options.playStatus = 500;
    QTest::newRow("udp, PLAY 500") << options << "udp" << false << 1 << unavailable;
    QTest::newRow("auto, PLAY 500") << options << "auto" << false << 1 << unavailable;

    options = camera();
    options.password = "another-password";
    QTest::newRow("Digest, wrong password") << options << "tcp" << false << 1 << refused;
    options.auth = Auth::Basic;
    QTest::newRow("Basic allowed, wrong password") << options << "tcp" << true << 1 << refused;
    QTest::newRow("Basic not allowed") << camera(Auth::Basic) << "tcp" << false << 1 << refused;
    QTest::newRow("Basic not allowed, challenge without CSeq")
        << camera(Auth::BasicWithoutCSeq) << "tcp" << false << 1 << refused;
    // Nothing says the password was wrong: the challenge could not be read.
    QTest::newRow("Digest challenge without CSeq")
        << camera(Auth::DigestWithoutCSeq) << "tcp" << false << 1 << int(CAMNET_ERR_PROTOCOL);

    const std::pair<const char *, NotFound> shapes[] = {
        {"404", NotFound::Plain},
        {"404 with a page", NotFound::WithBody},
        {"404 without CSeq", NotFound::WithoutCSeq},
        {"404 without CSeq, with a page", NotFound::WithoutCSeqWithBody},
        {"404, then hung up", NotFound::ThenClose}};
    for (const auto &shape : shapes) {
        options = camera();
        options.notFound = shape.second;
        QTest::newRow(shape.first) << options << "tcp" << false << 2 << unavailable;
    }

    options = camera();
    options.answers = Answers::Garbage;
    QTest::newRow("answers garbage") << options << "tcp" << false << 1 << int(CAMNET_ERR_PROTOCOL);
    options.answers = Answers::Never;
    QTest::newRow("never answers") << options << "tcp" << false << 1 << int(CAMNET_ERR_TIMED_OUT);
}

void TestSdkRtspStart::failsWithTheCameraReason()
{
    QFETCH(ScriptedRtspServer::Options, options);
    QFETCH(QString, transport);
    QFETCH(bool, basic);
    QFETCH(int, channel);
    QFETCH(int, error);
    ScriptedRtspServer server(options);
    QVERIFY(server.port());
    const int32_t id = login(server.port(), transport, basic);
    QVERIFY(id >= 0);

    QElapsedTimer timer;
    timer.start();
    const int32_t handle = realPlay(id, channel);
    const qint64 returnedMs = timer.elapsed();
    const int32_t got = CamNet_GetLastError();
    qInfo("%s: RealPlay returned %d (error %d) after %lld ms; the camera got: %s",
          QTest::currentDataTag(), int(handle), int(got), returnedMs, server.methods().constData());
    if (handle >= 0)
        CamNet_StopRealPlay(handle);
    QCOMPARE(handle, -1);
    QCOMPARE(int(got), error);
    QVERIFY2(returnedMs < deadlineMs, qPrintable(QString::number(returnedMs)));
    // A strict transport is never traded for the other one.
    if (transport != "auto") {
        for (const QString &kind : setups(server).split(' ', Qt::SkipEmptyParts))
            QCOMPARE(kind, transport);
    }
    if (!basic)
        QVERIFY(!basicSent(server));
}

// What makes the keep-alive test mean something: a client that plays and
// then stays quiet loses its session once the timeout has run out.
void TestSdkRtspStart::cameraEndsSessionsLeftAlone()
{
    ScriptedRtspServer::Options options = camera(Auth::None);
    options.sessionTimeout = sessionTimeoutS;
    ScriptedRtspServer server(options);
    QVERIFY(server.port());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    const timeval bound{slow / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(server.port());
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);

    const QByteArray url = "rtsp://127.0.0.1:" + QByteArray::number(server.port()) + "/channels/1";
    const QByteArray setup =
        exchange(fd, "SETUP " + url +
                         "/track1 RTSP/1.0\r\nCSeq: 1\r\n"
                         "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    QVERIFY2(setup.contains(";timeout=3"), setup.constData());
    const int at = setup.indexOf("Session: ") + 9;
    const QByteArray session = setup.mid(at, setup.indexOf(';', at) - at);
    QElapsedTimer timer;
    timer.start();
    const QByteArray play =
        exchange(fd, "PLAY " + url + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + session + "\r\n\r\n");
    QVERIFY2(play.startsWith("RTSP/1.0 200"), play.constData());

    // Packets flow until the camera hangs up.
    char buffer[4096];
    qint64 received = 0;
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        received += n;
    const qint64 closedMs = timer.elapsed();
    ::close(fd);
    QCOMPARE(n, ssize_t(0));
    QVERIFY(received > 0);
    QCOMPARE(server.expiredSessions(), 1);
    QCOMPARE(server.keepAlives(), 0);
    QVERIFY2(closedMs >= sessionTimeoutS * 1000 && closedMs < slow,
             qPrintable(QString::number(closedMs)));
}

void TestSdkRtspStart::keepsTheSessionAlive_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("tcp") << "tcp";
    QTest::newRow("udp") << "udp";
}

void TestSdkRtspStart::keepsTheSessionAlive()
{
    QFETCH(QString, transport);
    ScriptedRtspServer::Options options = camera();
    options.sessionTimeout = sessionTimeoutS;
    ScriptedRtspServer server(options);
    QVERIFY(server.port());
    const int32_t id = login(server.port(), transport);
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 1);
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived > 0, slow);

    // Three keep-alives span more than twice the timeout: without them the
    // session would have ended at least once by then.
    QTRY_VERIFY_WITH_TIMEOUT(server.keepAlives() >= 3 || server.expiredSessions() > 0, slow);
    qint64 playedAt = -1;
    for (const ScriptedRtspServer::Request &r : server.requests()) {
        if (r.method == "PLAY")
            playedAt = r.atMs;
        else if (r.keptAlive)
            qInfo("%s: %s %s on connection %d, %lld ms after PLAY (authorization: %s)",
                  qPrintable(transport), r.method.constData(), r.uri.constData(), r.connection,
                  r.atMs - playedAt, r.authorization.isEmpty() ? "none" : "sent");
    }
    qInfo("%s: the camera got: %s; RTCP packets: %d", qPrintable(transport),
          server.methods().constData(), server.rtcpReceived());
    QCOMPARE(server.expiredSessions(), 0);
    const CamNet_PreviewStats before = stats(handle);
    QCOMPARE(before.reconnects, 0u);
    QCOMPARE(countOf(server, "PLAY"), 1);
    // Still playing, on the same session.
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= before.framesReceived + 15, slow);
    QCOMPARE(server.expiredSessions(), 0);
    QCOMPARE(stats(handle).reconnects, 0u);
    QCOMPARE(CamNet_StopRealPlay(handle), 1);
}

void TestSdkRtspStart::reconnectsWhatFailsOnceStarted()
{
    // Over strict UDP a stream that never comes still started: PLAY was
    // answered. It is then restarted like any stream that stalls.
    ScriptedRtspServer::Options options = camera();
    options.silentUdp = true;
    ScriptedRtspServer silent(options);
    QVERIFY(silent.port());
    const int32_t overUdp = login(silent.port(), "udp");
    QVERIFY(overUdp >= 0);
    const int32_t waiting = realPlay(overUdp, 1);
    QVERIFY2(waiting >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(waiting).reconnects >= 1, slow);
    QCOMPARE(stats(waiting).framesReceived, 0u);
    QVERIFY2(!setups(silent).isEmpty() && !setups(silent).contains("tcp"),
             qPrintable(setups(silent)));
    QCOMPARE(CamNet_StopRealPlay(waiting), 1);

    // A camera that loses power while playing, and one that freezes.
    ScriptedRtspServer server(camera());
    QVERIFY(server.port());
    const int32_t id = login(server.port(), "tcp");
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 1);
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= 10, slow);
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).reconnects >= 1, slow);
    QVERIFY(server.start());
    const uint32_t afterRestart = stats(handle).framesReceived;
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= afterRestart + 10, slow);

    server.freeze(true);
    const uint32_t reconnects = stats(handle).reconnects;
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).reconnects > reconnects, slow);
    server.freeze(false);
    const uint32_t afterThaw = stats(handle).framesReceived;
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= afterThaw + 10, slow);
    QCOMPARE(CamNet_StopRealPlay(handle), 1);
}

QTEST_MAIN(TestSdkRtspStart)
#include "tst_sdkrtspstart.moc"
