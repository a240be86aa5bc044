// Previews of the real SDK over RTSP, from servers built on GStreamer's RTSP
// server library and configured unlike the simulator (H.265, UDP, Basic): the
// device profile points the stream at them, the simulator answers the login.
// Each codec and transport plays and is drawn, the data callback gets whole
// access units, streams that cannot start fail at once with their reason, a
// password never goes out as Basic unless the profile allows it, a restarted
// server is reconnected to, and a frozen one neither hangs a stop nor
// outlives its restart.
//
// The servers run in child processes of this program (started with
// --serve-rtsp), so that one can be frozen with SIGSTOP or killed like a
// camera losing power.

// First: GLib names members "signals", which Qt's headers make a keyword.
#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include "camnetsdk.h"
#include "camsimprocess.h"
#include "rtsplogins.h"
#include "sdkcalls.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

// Generous: a loaded two-core machine encodes, decodes and runs the simulator.
constexpr int slow = 30000;
// A server that sends nothing for this long is restarted by the SDK; a
// restart seen well within twice that is the SDK noticing, not luck.
constexpr int stalledMs = 5000;

// ---- the server side, in the child process ----

// Set once a switchable server asks only for Basic.
bool onlyBasic = false;

bool hasHeader(GstRTSPMessage *message, GstRTSPHeaderField field)
{
    gchar *value = nullptr;
    return message && gst_rtsp_message_get_header(message, field, &value, 0) == GST_RTSP_OK;
}

// Tells the test of each request that carried Basic credentials. Only
// authorised requests get here, and the right password is authorised: any
// password sent as Basic shows. The server's own check leaves requests within
// a session alone, so a server that asks only for Basic refuses them here.
GstRTSPStatusCode noteRequest(GstRTSPClient *, GstRTSPContext *context, gpointer)
{
    bool basic = false;
    gchar *authorization = nullptr;
    for (int i = 0; gst_rtsp_message_get_header(context->request, GST_RTSP_HDR_AUTHORIZATION,
                                                &authorization, i) == GST_RTSP_OK;
         ++i) {
        if (g_ascii_strncasecmp(authorization, "basic ", 6) == 0) {
            basic = true;
            std::printf("basic-credentials\n");
            std::fflush(stdout);
        }
    }
    if (onlyBasic && !basic && hasHeader(context->request, GST_RTSP_HDR_SESSION))
        return GST_RTSP_STS_UNAUTHORIZED;
    return GST_RTSP_STS_OK;
}

// Tells the test of each refused request of a running session (a
// keep-alive), with the challenge a camera sends.
void noteReply(GstRTSPClient *, GstRTSPContext *context, GstRTSPMessage *reply, gpointer)
{
    if (reply->type != GST_RTSP_MESSAGE_RESPONSE ||
        reply->type_data.response.code != GST_RTSP_STS_UNAUTHORIZED ||
        !hasHeader(context->request, GST_RTSP_HDR_SESSION))
        return;
    if (!hasHeader(reply, GST_RTSP_HDR_WWW_AUTHENTICATE))
        gst_rtsp_message_add_header(reply, GST_RTSP_HDR_WWW_AUTHENTICATE, "Basic realm=\"camera\"");
    std::printf("refused-in-session\n");
    std::fflush(stdout);
}

// Short sessions, so that the client sends keep-alives every two seconds.
void shortenSession(GstRTSPClient *, GstRTSPSession *session, gpointer)
{
    gst_rtsp_session_set_timeout(session, 3);
}

// Tells the test of each connection.
void watchClient(GstRTSPServer *, GstRTSPClient *client, gpointer switchable)
{
    std::printf("client\n");
    std::fflush(stdout);
    for (const char *signal : {"pre-options-request", "pre-describe-request", "pre-setup-request",
                               "pre-play-request", "pre-get-parameter-request"})
        g_signal_connect(client, signal, G_CALLBACK(noteRequest), nullptr);
    g_signal_connect(client, "send-message", G_CALLBACK(noteReply), nullptr);
    if (switchable)
        g_signal_connect(client, "new-session", G_CALLBACK(shortenSession), nullptr);
}

struct Account
{
    GstRTSPAuth *auth;
    const char *password;
};

// From now on only Basic, also for the sessions already running.
gboolean switchToBasic(gpointer data)
{
    const Account *account = static_cast<const Account *>(data);
    GstRTSPToken *token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
    gst_rtsp_auth_set_supported_methods(account->auth, GST_RTSP_AUTH_BASIC);
    gst_rtsp_auth_remove_digest(account->auth, TestSupport::camsimUser);
    gchar *credentials = gst_rtsp_auth_make_basic(TestSupport::camsimUser, account->password);
    gst_rtsp_auth_add_basic(account->auth, credentials, token);
    g_free(credentials);
    gst_rtsp_token_unref(token);
    onlyBasic = true;
    return G_SOURCE_CONTINUE;
}

// --serve-rtsp PORT CODEC AUTH PATTERN PASSWORD: serves /channels/1 on
// 127.0.0.1 for the simulator's user; prints "port N" once it listens.
// CODEC: h264 or h265 (video only), jpeg (audio first, then video: a camera
// with a microphone) or audio (nothing else); AUTH digest, basic or
// switchable (see below).
int serveRtsp(int argc, char **argv)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 5)
        return 2;
    const char *password = argv[4];
    gst_init(nullptr, nullptr);
    const std::string codec = argv[1];
    const bool basic = std::strcmp(argv[2], "basic") == 0;
    const bool audio = codec == "jpeg" || codec == "audio";
    const std::string video = std::string("videotestsrc is-live=true pattern=") + argv[3] +
                              " ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! ";
    std::string launch = "( ";
    if (audio)
        launch += "audiotestsrc is-live=true wave=silence ! "
                  "audio/x-raw,format=S16BE,rate=8000,channels=1 ! rtpL16pay name=pay0 pt=97 ";
    if (codec == "h264")
        launch += video + "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! "
                          "rtph264pay name=pay0 pt=96 config-interval=-1";
    else if (codec == "h265")
        launch += video + "x265enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! "
                          "rtph265pay name=pay0 pt=96 config-interval=-1";
    else if (codec == "jpeg")
        launch += video + "jpegenc ! rtpjpegpay name=pay1 pt=26";
    launch += " )";

    GstRTSPServer *server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, argv[0]);
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_add_role(factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                    G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                    G_TYPE_BOOLEAN, TRUE, nullptr);
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/channels/1", factory);
    g_object_unref(mounts);

    GstRTSPAuth *auth = gst_rtsp_auth_new();
    Account account{auth, password};
    if (basic) {
        switchToBasic(&account);
    } else {
        GstRTSPToken *token =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
        gst_rtsp_auth_add_digest(auth, TestSupport::camsimUser, password, token);
        gst_rtsp_token_unref(token);
    }
    gst_rtsp_server_set_auth(server, auth);
    // Digest until SIGUSR1, Basic only from then on.
    const bool switchable = std::strcmp(argv[2], "switchable") == 0;
    if (switchable)
        g_unix_signal_add(SIGUSR1, switchToBasic, &account);
    g_signal_connect(server, "client-connected", G_CALLBACK(watchClient),
                     switchable ? &account : nullptr);

    if (!gst_rtsp_server_attach(server, nullptr))
        return 1;
    std::printf("port %d\n", gst_rtsp_server_get_bound_port(server));
    std::fflush(stdout);
    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}

// ---- the test side ----

// One RTSP server child; killed, frozen and started again on its port at will.
class RtspServer
{
public:
    RtspServer(const QString &codec, const QString &auth, const QString &pattern = "smpte",
               const QString &password = TestSupport::camsimPassword)
        : m_codec(codec), m_auth(auth), m_pattern(pattern), m_password(password)
    {
        start();
    }
    ~RtspServer() { kill(); }

    quint16 port() const { return m_port; }
    // Started again on the same port, with other authentication.
    bool restartAs(const QString &auth)
    {
        m_auth = auth;
        return start() && m_process.state() == QProcess::Running;
    }
    // Output starts afresh with each start.
    bool start()
    {
        kill();
        m_output.clear();
        m_process.setProgram(QCoreApplication::applicationFilePath());
        m_process.setArguments(
            {"--serve-rtsp", QString::number(m_port), m_codec, m_auth, m_pattern, m_password});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        // The whole line that says where it listens.
        const auto portLine = [this] {
            const int at = m_output.indexOf("port ");
            const int end = at < 0 ? -1 : m_output.indexOf('\n', at);
            return end < 0 ? QByteArray() : m_output.mid(at + 5, end - at - 5);
        };
        QElapsedTimer timer;
        timer.start();
        while (portLine().isEmpty() && timer.elapsed() < slow &&
               m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        m_port = quint16(portLine().toUInt());
        return m_port != 0;
    }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(slow);
    }
    void freeze(bool frozen) { ::kill(pid_t(m_process.processId()), frozen ? SIGSTOP : SIGCONT); }
    // A switchable server asks only for Basic from now on.
    void switchToBasic() { ::kill(pid_t(m_process.processId()), SIGUSR1); }
    // Everything it printed so far.
    QByteArray output()
    {
        m_output += m_process.readAllStandardOutput();
        return m_output;
    }

private:
    const QString m_codec;
    QString m_auth;
    const QString m_pattern;
    const QString m_password;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

// What the data callback saw, per preview handle.
struct CallbackLog
{
    std::mutex mutex;
    std::map<int32_t, int> calls;
    std::map<int32_t, uint32_t> largest;
    std::map<int32_t, pid_t> thread;
    std::map<int32_t, std::set<uint32_t>> types;

    int callsOf(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls[handle];
    }
    pid_t threadOf(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return thread[handle];
    }
    std::set<uint32_t> typesOf(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return types[handle];
    }
    uint32_t largestOf(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return largest[handle];
    }
};

CallbackLog callbackLog;

void onFrame(int32_t handle, uint32_t dataType, uint8_t *, uint32_t size, void *)
{
    std::lock_guard<std::mutex> lock(callbackLog.mutex);
    ++callbackLog.calls[handle];
    callbackLog.types[handle].insert(dataType);
    callbackLog.thread[handle] = gettid();
    callbackLog.largest[handle] = std::max(callbackLog.largest[handle], size);
}

CamNet_PreviewStats stats(int32_t handle)
{
    CamNet_PreviewStats s;
    std::memset(&s, 0, sizeof s);
    CamNet_GetPreviewStats(handle, &s);
    return s;
}

int32_t realPlay(int32_t loginId, int channel, WId window = 0)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.window = uintptr_t(window);
    return CamNet_RealPlay(loginId, &request, onFrame, nullptr);
}

qint64 timedStop(int32_t handle)
{
    QElapsedTimer timer;
    timer.start();
    const int32_t result = CamNet_StopRealPlay(handle);
    return result == 1 ? timer.elapsed() : -1;
}

bool threadAlive(pid_t thread)
{
    return QFileInfo::exists(QStringLiteral("/proc/self/task/%1").arg(thread));
}

// A loopback port that takes connections into its backlog and never
// accepts them: a camera whose RTSP server hangs.
class SilentPort
{
public:
    SilentPort()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), length) == 0 &&
            ::listen(m_fd, 8) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &length) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~SilentPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port() const { return m_port; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

// Answers every RTSP request on one connection with a 200 that is not a
// session description: a web server on the port the profile names.
class NotRtsp
{
public:
    NotRtsp() : m_thread([this] { serve(); }) {}
    ~NotRtsp()
    {
        ::shutdown(m_silent.fd(), SHUT_RDWR);
        m_thread.join();
    }
    quint16 port() const { return m_silent.port(); }

private:
    void serve()
    {
        const int client = ::accept(m_silent.fd(), nullptr, nullptr);
        if (client < 0)
            return;
        QByteArray request;
        char buffer[1024];
        ssize_t n;
        while ((n = ::recv(client, buffer, sizeof buffer, 0)) > 0) {
            request.append(buffer, int(n));
            const int end = request.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            const int at = request.indexOf("CSeq:");
            const QByteArray cseq =
                at < 0 ? "0" : request.mid(at + 5, request.indexOf('\r', at) - at - 5).trimmed();
            const QByteArray reply = "RTSP/1.0 200 OK\r\nCSeq: " + cseq +
                                     "\r\nContent-Type: text/html\r\nContent-Length: 6\r\n\r\n"
                                     "<html>";
            if (::send(client, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL) < 0)
                break;
            request.remove(0, end + 4);
        }
        ::close(client);
    }

    SilentPort m_silent;
    std::thread m_thread;
};

} // namespace

class TestSdkRtsp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void playsEachCodecAndTransport_data();
    void playsEachCodecAndTransport();
    void streamsThatCannotStartFailAtOnce();
    void passwordGoesAsBasicOnlyWhereAllowed();
    void reconnectsToRestartedServer_data();
    void reconnectsToRestartedServer();
    void frozenServerHangsNothing();

private:
    // Logs in to the simulator with a profile whose stream is rtsp://
    // on rtspPort; -1 when the login failed.
    int32_t login(quint16 rtspPort, const char *transport, bool basic = false,
                  const char *password = TestSupport::camsimPassword);

    std::unique_ptr<TestSupport::RtspLogins> m_logins;
};

void TestSdkRtsp::initTestCase()
{
    QVERIFY(CamNet_Init());
    CamNet_SetConnectTime(1000, 1);
    CamNet_SetReconnect(300, 1);
    m_logins.reset(new TestSupport::RtspLogins);
    QVERIFY(m_logins->camsimPort());
}

void TestSdkRtsp::cleanup()
{
    // Ends every preview, also of a test that failed half-way.
    m_logins->logoutAll();
}

int32_t TestSdkRtsp::login(quint16 rtspPort, const char *transport, bool basic,
                           const char *password)
{
    return m_logins->login(rtspPort, QString::fromLatin1(transport), basic, password);
}

void TestSdkRtsp::playsEachCodecAndTransport_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("window");
    // Snow does not compress: every coded frame spans many RTP packets.
    QTest::newRow("H.265 over UDP") << "h265"
                                    << "udp" << false;
    QTest::newRow("H.264 over TCP, drawn") << "h264"
                                           << "tcp" << true;
    QTest::newRow("JPEG over TCP, with audio") << "jpeg"
                                               << "tcp" << false;
}

void TestSdkRtsp::playsEachCodecAndTransport()
{
    QFETCH(QString, codec);
    QFETCH(QString, transport);
    QFETCH(bool, window);
    // Solid red where the picture is looked at, snow where packets are counted.
    RtspServer server(codec, "digest", window ? "red" : "snow");
    QVERIFY(server.port());
    const int32_t id = login(server.port(), qPrintable(transport));
    QVERIFY(id >= 0);

    QWidget widget;
    if (window) {
        widget.setAttribute(Qt::WA_NativeWindow);
        widget.setWindowFlag(Qt::FramelessWindowHint);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, Qt::blue);
        widget.setPalette(palette);
        widget.setAutoFillBackground(true);
        widget.setGeometry(0, 0, 320, 240);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
    }

    QElapsedTimer timer;
    timer.start();
    const int32_t handle = realPlay(id, 1, window ? widget.winId() : 0);
    const qint64 returnedMs = timer.elapsed();
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    while (stats(handle).framesDrawn == 0 && timer.elapsed() < slow)
        QTest::qWait(5);
    qInfo("%s: RealPlay returned after %lld ms, first frame drawn after %lld ms",
          QTest::currentDataTag(), returnedMs, timer.elapsed());

    const CamNet_PreviewStats first = stats(handle);
    QVERIFY(first.framesDrawn > 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= first.framesReceived + 25 &&
                                 stats(handle).framesDrawn >= first.framesDrawn + 25,
                             slow);
    const CamNet_PreviewStats later = stats(handle);
    QVERIFY(later.framesDrawn <= later.framesReceived);
    QCOMPARE(later.reconnects, 0u);
    // One call per access unit: no more calls than frames, and frames larger
    // than any one RTP packet arrive whole.
    QTRY_VERIFY_WITH_TIMEOUT(callbackLog.callsOf(handle) >= 25, slow);
    QVERIFY(uint32_t(callbackLog.callsOf(handle)) <= stats(handle).framesReceived);
    const uint32_t dataType = codec == "jpeg" ? CAMNET_DATA_FRAME : CAMNET_DATA_ACCESS_UNIT;
    QCOMPARE(callbackLog.typesOf(handle), std::set<uint32_t>{dataType});
    if (!window)
        QVERIFY2(callbackLog.largestOf(handle) > 1500,
                 qPrintable(QString::number(callbackLog.largestOf(handle))));

    if (window) {
        const auto pictureIsRed = [&] {
            const QImage image =
                QGuiApplication::primaryScreen()->grabWindow(widget.winId()).toImage();
            for (const QPoint &p : {QPoint(20, 20), QPoint(160, 120), QPoint(300, 220)}) {
                const QColor c(image.pixel(p));
                if (!(c.red() > 200 && c.green() < 60 && c.blue() < 60))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(pictureIsRed(), slow);
    }

    const qint64 stopMs = timedStop(handle);
    qInfo("%s: StopRealPlay: %lld ms", QTest::currentDataTag(), stopMs);
    QVERIFY(stopMs >= 0 && stopMs < 500);
}

void TestSdkRtsp::streamsThatCannotStartFailAtOnce()
{
    RtspServer server("h264", "digest");
    QVERIFY(server.port());

    const int32_t id = login(server.port(), "tcp");
    QVERIFY(id >= 0);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(realPlay(id, 2), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // A camera whose stream account differs from its web account.
    RtspServer other("h264", "digest", "smpte", "another-password");
    QVERIFY(other.port());
    const int32_t refused = login(other.port(), "tcp");
    QVERIFY(refused >= 0);
    timer.restart();
    QCOMPARE(realPlay(refused, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_AUTHENTICATION_FAILED));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // A description without video, and an answer that is no description.
    RtspServer audioOnly("audio", "digest");
    QVERIFY(audioOnly.port());
    const int32_t noVideo = login(audioOnly.port(), "tcp");
    QVERIFY(noVideo >= 0);
    QCOMPARE(realPlay(noVideo, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
    NotRtsp notRtsp;
    const int32_t webServer = login(notRtsp.port(), "tcp");
    QVERIFY(webServer >= 0);
    QCOMPARE(realPlay(webServer, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_PROTOCOL));

    SilentPort silent;
    QVERIFY(silent.port());
    const int32_t hung = login(silent.port(), "tcp");
    QVERIFY(hung >= 0);
    timer.restart();
    QCOMPARE(realPlay(hung, 1), -1);
    const qint64 hungMs = timer.elapsed();
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_TIMED_OUT));
    qInfo("RealPlay against a server that never answers: %lld ms", hungMs);
    // The call's deadline: one connect of 1 s plus the request timeout of 5 s.
    QVERIFY2(hungMs < 6500, qPrintable(QString::number(hungMs)));

    server.kill();
    timer.restart();
    QCOMPARE(realPlay(id, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CONNECTION_FAILED));
    QVERIFY(timer.elapsed() < 2000);
}

void TestSdkRtsp::passwordGoesAsBasicOnlyWhereAllowed()
{
    RtspServer server("h264", "basic");
    QVERIFY(server.port());
    const int32_t forbidden = login(server.port(), "tcp", false);
    QVERIFY(forbidden >= 0);
    QCOMPARE(realPlay(forbidden, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_AUTHENTICATION_FAILED));
    QTRY_VERIFY_WITH_TIMEOUT(server.output().contains("client"), slow);
    QVERIFY(!server.output().contains("basic-credentials"));

    const int32_t allowed = login(server.port(), "tcp", true);
    QVERIFY(allowed >= 0);
    const int32_t plays = realPlay(allowed, 1);
    QVERIFY2(plays >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(plays).framesDrawn > 0, slow);
    QTRY_VERIFY_WITH_TIMEOUT(server.output().contains("basic-credentials"), slow);
    QVERIFY(timedStop(plays) >= 0);

    // A camera that asked for Digest when the preview started and only for
    // Basic once it came back: the stream's own source is kept from
    // answering it, not only the probe.
    QVERIFY(server.restartAs("digest"));
    const int32_t id = login(server.port(), "tcp", false);
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 1);
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived > 0, slow);
    const uint32_t reconnects = stats(handle).reconnects;
    QVERIFY(server.restartAs("basic"));
    // Each attempt is refused, and the preview keeps trying.
    QTRY_VERIFY_WITH_TIMEOUT(
        server.output().contains("basic-credentials") ||
            (stats(handle).reconnects >= reconnects + 3 && server.output().count("client") >= 3),
        slow);
    QVERIFY(!server.output().contains("basic-credentials"));
    QVERIFY(timedStop(handle) >= 0);

    // Nor when it asks for Basic in the middle of a session over UDP, where
    // the source answers the keep-alives' challenges by itself.
    RtspServer switching("h264", "switchable");
    QVERIFY(switching.port());
    const int32_t udp = login(switching.port(), "udp", false);
    QVERIFY(udp >= 0);
    const int32_t running = realPlay(udp, 1);
    QVERIFY2(running >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(running).framesReceived > 0, slow);
    switching.switchToBasic();
    QTRY_VERIFY_WITH_TIMEOUT(switching.output().contains("basic-credentials") ||
                                 switching.output().count("refused-in-session") >= 2,
                             slow);
    QVERIFY(!switching.output().contains("basic-credentials"));
    QVERIFY(timedStop(running) >= 0);
}

void TestSdkRtsp::reconnectsToRestartedServer_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("TCP") << "tcp";
    QTest::newRow("UDP") << "udp";
}

void TestSdkRtsp::reconnectsToRestartedServer()
{
    QFETCH(QString, transport);
    RtspServer server("h264", "digest");
    QVERIFY(server.port());
    const int32_t id = login(server.port(), qPrintable(transport));
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 1);
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= 10, slow);

    server.kill();
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).reconnects >= 1, slow);
    qInfo("%s: server gone, first restart after %lld ms", qPrintable(transport), timer.elapsed());
    QVERIFY(timer.elapsed() < 2 * stalledMs);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).reconnects >= 2, slow);
    const uint32_t whileDown = stats(handle).framesReceived;

    QVERIFY(server.start());
    QTRY_VERIFY_WITH_TIMEOUT(
        stats(handle).framesReceived >= whileDown + 10 && stats(handle).framesDrawn > 0, slow);
    qInfo("%s: reconnects across the restart: %u", qPrintable(transport), stats(handle).reconnects);
    const qint64 stopMs = timedStop(handle);
    QVERIFY(stopMs >= 0 && stopMs < 500);
}

void TestSdkRtsp::frozenServerHangsNothing()
{
    RtspServer server("h264", "digest");
    QVERIFY(server.port());
    const int32_t overTcp = login(server.port(), "tcp");
    const int32_t overUdp = login(server.port(), "udp");
    QVERIFY(overTcp >= 0 && overUdp >= 0);
    const int32_t stoppedAtOnce = realPlay(overTcp, 1);
    const int32_t waitedFor = realPlay(overUdp, 1);
    QVERIFY(stoppedAtOnce >= 0 && waitedFor >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        callbackLog.callsOf(stoppedAtOnce) > 0 && callbackLog.callsOf(waitedFor) > 0, slow);
    const pid_t threads[] = {callbackLog.threadOf(stoppedAtOnce), callbackLog.threadOf(waitedFor)};

    // Stopped while its stream hangs on the frozen server.
    server.freeze(true);
    const qint64 atOnceMs = timedStop(stoppedAtOnce);
    qInfo("StopRealPlay right after the server froze: %lld ms", atOnceMs);
    QVERIFY(atOnceMs >= 0 && atOnceMs < 500);

    // Noticed without help, and stopped while trying to come back.
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(stats(waitedFor).reconnects >= 1, slow);
    qInfo("frozen server noticed after %lld ms", timer.elapsed());
    QVERIFY(timer.elapsed() < 2 * stalledMs);
    const qint64 waitedMs = timedStop(waitedFor);
    qInfo("StopRealPlay while reconnecting to the frozen server: %lld ms", waitedMs);
    QVERIFY(waitedMs >= 0 && waitedMs < 500);

    // Whatever the stops left running ends once the server does, and does
    // not take the process with it.
    server.freeze(false);
    server.kill();
    for (const pid_t thread : threads)
        QTRY_VERIFY_WITH_TIMEOUT(!threadAlive(thread), slow);
}

int main(int argc, char *argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--serve-rtsp") == 0)
        return serveRtsp(argc - 2, argv + 2);
    QApplication app(argc, argv);
    TestSdkRtsp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sdkrtsp.moc"
