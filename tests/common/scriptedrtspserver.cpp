// First: GLib names members "signals", which Qt's headers make a keyword.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include "scriptedrtspserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace TestSupport {

namespace {

using Clock = std::chrono::steady_clock;

const QByteArray realm = "scripted camera";
// JPEG, so that every frame decodes on its own from whichever packet a
// client's stream begins with.
const char pipelineDescription[] =
    "videotestsrc is-live=true pattern=ball ! "
    "video/x-raw,format=I420,width=320,height=240,framerate=15/1 ! jpegenc quality=70 ! "
    "rtpjpegpay pt=26 mtu=1400 ! appsink name=out sync=false max-buffers=256 drop=true";
const QByteArray sdpTemplate = "v=0\r\n"
                               "o=- 1 1 IN IP4 127.0.0.1\r\n"
                               "s=Scripted camera\r\n"
                               "c=IN IP4 127.0.0.1\r\n"
                               "t=0 0\r\n"
                               "a=control:*\r\n"
                               "m=video 0 RTP/AVP 26\r\n"
                               "a=rtpmap:26 JPEG/90000\r\n"
                               "a=control:track1\r\n";
const QByteArray garbage = QByteArray("\x16\x03\x01\x00\xa5\x01\xff garbage \xfe\r\n\r\n", 22);
// Packets waiting for the server's thread; more only while it is frozen.
constexpr size_t maxQueuedPackets = 512;
// What a client that stopped reading gets queued on its connection at most.
constexpr int maxQueuedBytes = 4 << 20;
// A request header longer than this is no RTSP.
constexpr int maxHeaderBytes = 64 * 1024;
constexpr int idlePollMs = 100;

struct Message
{
    QByteArray method;
    QByteArray uri;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first == name)
                return h.second;
        }
        return QByteArray();
    }
    bool has(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first == name)
                return true;
        }
        return false;
    }
};

struct Connection
{
    int fd = -1;
    int number = 0;
    QByteArray in;
    QByteArray out;
    bool closing = false; // closed once everything queued has gone out
    QByteArray session;
    bool playing = false;
    bool udp = false;
    int rtpChannel = 0;
    quint16 clientRtpPort = 0;
    Clock::time_point lastRequest;
};

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 454:
        return "Session Not Found";
    case 455:
        return "Method Not Valid in This State";
    case 461:
        return "Unsupported Transport";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Refused";
    }
}

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

// The parameters of a Digest authorization: name=value or name="value", by commas.
QList<QPair<QByteArray, QByteArray>> digestParameters(const QByteArray &text)
{
    QList<QPair<QByteArray, QByteArray>> result;
    int at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ','))
            ++at;
        const int equals = text.indexOf('=', at);
        if (equals < 0)
            break;
        const QByteArray name = text.mid(at, equals - at).trimmed().toLower();
        at = equals + 1;
        QByteArray value;
        if (at < text.size() && text[at] == '"') {
            const int end = text.indexOf('"', at + 1);
            value = text.mid(at + 1, end < 0 ? -1 : end - at - 1);
            at = end < 0 ? text.size() : end + 1;
        } else {
            const int end = text.indexOf(',', at);
            value = text.mid(at, end < 0 ? -1 : end - at).trimmed();
            at = end < 0 ? text.size() : end;
        }
        result.append({name, value});
    }
    return result;
}

// The path of an absolute RTSP URI: "/channels/1/track1".
QByteArray pathOf(const QByteArray &uri)
{
    const int scheme = uri.indexOf("://");
    if (scheme < 0)
        return uri;
    const int slash = uri.indexOf('/', scheme + 3);
    return slash < 0 ? QByteArray("/") : uri.mid(slash);
}

// "a-b" after name= in a transport option; false when absent.
bool portPair(const QByteArray &option, const QByteArray &name, int *first)
{
    for (const QByteArray &part : option.split(';')) {
        if (part.startsWith(name + "=")) {
            bool ok = false;
            *first = part.mid(name.size() + 1).split('-').first().toInt(&ok);
            return ok;
        }
    }
    return false;
}

// A non-blocking socket bound to 127.0.0.1:port; -1 when that failed.
int boundSocket(int type, quint16 port)
{
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 localPort(int fd)
{
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

} // namespace

class ScriptedRtspServer::Private
{
public:
    explicit Private(const Options &o)
        : options(o), nonce(md5Hex(QByteArray::number(QRandomGenerator::global()->generate())))
    {
    }

    bool start();
    void stop();
    void wake();

    // ---- on the server's thread ----
    void run();
    void takeFreeze();
    void acceptClients();
    void readFrom(Connection &c);
    bool takeMessage(Connection &c);
    void answer(Connection &c, const Message &m);
    bool record(Connection &c, const Message &m);
    bool authorised(const Message &m) const;
    void reply(Connection &c, const Message &m, int status, const QByteArray &headers = "",
               const QByteArray &body = "", bool withCSeq = true);
    void refuseUnknownPath(Connection &c, const Message &m);
    void describe(Connection &c, const Message &m);
    void setUp(Connection &c, const Message &m);
    void play(Connection &c, const Message &m);
    void sendPackets();
    void writeTo(Connection &c);
    void expireSessions();
    void readUdp(int fd);

    // On a streaming thread of the pipeline.
    static GstFlowReturn onSample(GstAppSink *sink, gpointer self);

    const Options options;
    const QByteArray nonce;
    quint16 port = 0;
    int listenFd = -1;
    int rtpFd = -1;
    int rtcpFd = -1;
    int wakeFd = -1;
    GstElement *pipeline = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::list<Connection> clients;
    int nextSessionId = 1;
    QElapsedTimer sinceStart;

    std::mutex freezeMutex;
    std::condition_variable freezeTaken;
    bool frozenWanted = false;
    bool frozen = false;

    std::mutex packetMutex;
    std::deque<QByteArray> packets;

    mutable std::mutex recordMutex;
    QVector<Request> requests;
    int keepAlives = 0;
    int playsAnswered = 0;
    int expiredSessions = 0;
    int connections = 0;
    qint64 tcpPackets = 0;
    qint64 udpPackets = 0;
    int rtcpReceived = 0;
};

bool ScriptedRtspServer::Private::start()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    if (!sinceStart.isValid())
        sinceStart.start();
    listenFd = boundSocket(SOCK_STREAM, port ? port : options.port);
    if (listenFd < 0 || ::listen(listenFd, 16) != 0)
        return false;
    port = localPort(listenFd);
    // RTP on an even port and RTCP on the next, as clients expect.
    for (int attempt = 0; attempt < 20 && rtcpFd < 0; ++attempt) {
        if (rtpFd >= 0)
            ::close(rtpFd);
        rtpFd = boundSocket(SOCK_DGRAM, 0);
        const quint16 rtpPort = rtpFd < 0 ? 0 : localPort(rtpFd);
        if (rtpPort && rtpPort % 2 == 0)
            rtcpFd = boundSocket(SOCK_DGRAM, quint16(rtpPort + 1));
    }
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    GError *error = nullptr;
    pipeline = gst_parse_launch(pipelineDescription, &error);
    if (error || !pipeline || rtcpFd < 0 || wakeFd < 0) {
        if (error)
            g_error_free(error);
        stop();
        return false;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &Private::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    stopping = false;
    thread = std::thread([this] { run(); });
    return true;
}

void ScriptedRtspServer::Private::stop()
{
    if (thread.joinable()) {
        stopping = true;
        wake();
        thread.join();
    }
    // After the thread: its connections are closed by now.
    if (pipeline) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        pipeline = nullptr;
    }
    for (int *fd : {&listenFd, &rtpFd, &rtcpFd, &wakeFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    {
        std::lock_guard<std::mutex> lock(freezeMutex);
        frozenWanted = false;
    }
    std::lock_guard<std::mutex> lock(packetMutex);
    packets.clear();
}

void ScriptedRtspServer::Private::wake()
{
    const uint64_t one = 1;
    // A full counter already means "wake up".
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
}

GstFlowReturn ScriptedRtspServer::Private::onSample(GstAppSink *sink, gpointer self)
{
    auto *d = static_cast<Private *>(self);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstMapInfo map;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const QByteArray packet(reinterpret_cast<const char *>(map.data), int(map.size));
        gst_buffer_unmap(buffer, &map);
        std::lock_guard<std::mutex> lock(d->packetMutex);
        if (d->packets.size() < maxQueuedPackets)
            d->packets.push_back(packet);
    }
    gst_sample_unref(sample);
    d->wake();
    return GST_FLOW_OK;
}

void ScriptedRtspServer::Private::run()
{
    while (!stopping) {
        std::vector<pollfd> fds = {{wakeFd, POLLIN, 0}};
        if (!frozen) {
            fds.push_back({listenFd, POLLIN, 0});
            fds.push_back({rtpFd, POLLIN, 0});
            fds.push_back({rtcpFd, POLLIN, 0});
            for (const Connection &c : clients)
                fds.push_back({c.fd, short(POLLIN | (c.out.isEmpty() ? 0 : POLLOUT)), 0});
        }
        ::poll(fds.data(), nfds_t(fds.size()), idlePollMs);
        uint64_t count;
        while (::read(wakeFd, &count, sizeof count) > 0) {
        }
        takeFreeze();
        if (frozen) {
            // A frozen camera's encoder output goes nowhere.
            std::lock_guard<std::mutex> lock(packetMutex);
            packets.clear();
            continue;
        }
        acceptClients();
        readUdp(rtpFd);
        readUdp(rtcpFd);
        for (Connection &c : clients)
            readFrom(c);
        sendPackets();
        expireSessions();
        for (auto it = clients.begin(); it != clients.end();) {
            writeTo(*it);
            if (it->fd < 0) {
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Connection &c : clients)
        ::close(c.fd);
    clients.clear();
    frozen = false;
}

void ScriptedRtspServer::Private::takeFreeze()
{
    std::lock_guard<std::mutex> lock(freezeMutex);
    if (frozen == frozenWanted)
        return;
    frozen = frozenWanted;
    freezeTaken.notify_all();
}

void ScriptedRtspServer::Private::acceptClients()
{
    int fd;
    while ((fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
        Connection c;
        c.fd = fd;
        {
            std::lock_guard<std::mutex> lock(recordMutex);
            c.number = ++connections;
        }
        clients.push_back(c);
    }
}

void ScriptedRtspServer::Private::readUdp(int fd)
{
    char buffer[2048];
    while (::recv(fd, buffer, sizeof buffer, 0) >= 0) {
        if (fd == rtcpFd) {
            std::lock_guard<std::mutex> lock(recordMutex);
            ++rtcpReceived;
        }
    }
}

void ScriptedRtspServer::Private::readFrom(Connection &c)
{
    if (c.fd < 0 || c.closing)
        return;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(c.fd, buffer, sizeof buffer, 0)) > 0)
        c.in.append(buffer, int(n));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
        ::close(c.fd);
        c.fd = -1;
        return;
    }
    while (c.fd >= 0 && !c.closing && takeMessage(c)) {
    }
}

// Takes one request or interleaved packet off the connection's input; false
// when it holds no whole one.
bool ScriptedRtspServer::Private::takeMessage(Connection &c)
{
    if (c.in.startsWith('$')) {
        if (c.in.size() < 4)
            return false;
        const int length = (uchar(c.in[2]) << 8) | uchar(c.in[3]);
        if (c.in.size() < 4 + length)
            return false;
        if (uchar(c.in[1]) % 2 == 1) {
            std::lock_guard<std::mutex> lock(recordMutex);
            ++rtcpReceived;
        }
        c.in.remove(0, 4 + length);
        return true;
    }
    const int end = c.in.indexOf("\r\n\r\n");
    if (end < 0) {
        if (c.in.size() > maxHeaderBytes)
            c.closing = true;
        return false;
    }
    const QList<QByteArray> lines = c.in.left(end).split('\n');
    Message m;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    m.method = requestLine.value(0);
    m.uri = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            m.headers.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    const int bodyLength = m.header("content-length").toInt();
    if (c.in.size() < end + 4 + bodyLength)
        return false;
    c.in.remove(0, end + 4 + bodyLength);
    answer(c, m);
    return true;
}

// Notes the request and keeps its session alive; false when it is not to be
// answered properly.
bool ScriptedRtspServer::Private::record(Connection &c, const Message &m)
{
    const QByteArray session = m.header("session").split(';').first().trimmed();
    const bool ours = !c.session.isEmpty() && session == c.session;
    if (ours)
        c.lastRequest = Clock::now();
    const bool keptAlive =
        ours && c.playing &&
        (m.method == "GET_PARAMETER" || m.method == "SET_PARAMETER" || m.method == "OPTIONS");
    std::lock_guard<std::mutex> lock(recordMutex);
    requests.append({sinceStart.elapsed(), c.number, m.method, m.uri, m.header("transport"),
                     m.header("authorization"), m.has("cseq"), keptAlive});
    if (keptAlive)
        ++keepAlives;
    return options.answers == Answers::Normal;
}

void ScriptedRtspServer::Private::answer(Connection &c, const Message &m)
{
    if (!record(c, m)) {
        if (options.answers == Answers::Garbage)
            c.out += garbage;
        return;
    }
    const bool guarded = m.method == "DESCRIBE" || m.method == "SETUP" || m.method == "PLAY";
    if (guarded && !authorised(m)) {
        const bool basic = options.auth == Auth::Basic || options.auth == Auth::BasicWithoutCSeq;
        const QByteArray challenge =
            basic ? "Basic realm=\"" + realm + "\""
                  : "Digest realm=\"" + realm + "\", nonce=\"" + nonce + "\"";
        reply(c, m, 401, "WWW-Authenticate: " + challenge + "\r\n", "",
              options.auth != Auth::BasicWithoutCSeq && options.auth != Auth::DigestWithoutCSeq);
        return;
    }
    const QByteArray path = pathOf(m.uri);
    if (guarded && path != options.path && !path.startsWith(options.path + "/")) {
        refuseUnknownPath(c, m);
        return;
    }
    if (m.method == "OPTIONS") {
        reply(c, m, 200,
              "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER\r\n");
    } else if (m.method == "DESCRIBE") {
        describe(c, m);
    } else if (m.method == "SETUP") {
        setUp(c, m);
    } else if (m.method == "PLAY") {
        play(c, m);
    } else if (m.method == "GET_PARAMETER" || m.method == "SET_PARAMETER") {
        reply(c, m, 200, c.session.isEmpty() ? "" : "Session: " + c.session + "\r\n");
    } else if (m.method == "TEARDOWN") {
        c.playing = false;
        c.session.clear();
        reply(c, m, 200);
    } else {
        reply(c, m, 501);
    }
}

bool ScriptedRtspServer::Private::authorised(const Message &m) const
{
    const QByteArray given = m.header("authorization");
    switch (options.auth) {
    case Auth::None:
        return true;
    case Auth::Basic:
    case Auth::BasicWithoutCSeq:
        return given.left(6).toLower() == "basic " &&
               given.mid(6).trimmed() == (options.user + ":" + options.password).toBase64();
    case Auth::Digest:
    case Auth::DigestWithoutCSeq:
        break;
    }
    if (given.left(7).toLower() != "digest ")
        return false;
    QByteArray user, givenRealm, givenNonce, uri, response;
    for (const auto &p : digestParameters(given.mid(7))) {
        if (p.first == "username")
            user = p.second;
        else if (p.first == "realm")
            givenRealm = p.second;
        else if (p.first == "nonce")
            givenNonce = p.second;
        else if (p.first == "uri")
            uri = p.second;
        else if (p.first == "response")
            response = p.second;
    }
    const QByteArray ha1 = md5Hex(options.user + ":" + realm + ":" + options.password);
    const QByteArray ha2 = md5Hex(m.method + ":" + uri);
    return user == options.user && givenRealm == realm && givenNonce == nonce &&
           response.toLower() == md5Hex(ha1 + ":" + nonce + ":" + ha2);
}

void ScriptedRtspServer::Private::reply(Connection &c, const Message &m, int status,
                                        const QByteArray &headers, const QByteArray &body,
                                        bool withCSeq)
{
    QByteArray text = "RTSP/1.0 " + QByteArray::number(status) + " " + reasonOf(status) + "\r\n";
    if (withCSeq && m.has("cseq"))
        text += "CSeq: " + m.header("cseq") + "\r\n";
    text += headers;
    if (!body.isEmpty())
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    c.out += text + "\r\n" + body;
}

void ScriptedRtspServer::Private::refuseUnknownPath(Connection &c, const Message &m)
{
    const QByteArray page = "<html><body>404 Not Found</body></html>\n";
    switch (options.notFound) {
    case NotFound::Plain:
        reply(c, m, 404);
        break;
    case NotFound::WithBody:
        reply(c, m, 404, "Content-Type: text/html\r\n", page);
        break;
    case NotFound::WithoutCSeq:
        reply(c, m, 404, "", "", false);
        break;
    case NotFound::WithoutCSeqWithBody:
        reply(c, m, 404, "Content-Type: text/html\r\n", page, false);
        break;
    case NotFound::ThenClose:
        reply(c, m, 404, "Connection: close\r\n");
        c.closing = true;
        break;
    }
}

void ScriptedRtspServer::Private::describe(Connection &c, const Message &m)
{
    const QByteArray base = m.uri.endsWith('/') ? m.uri : m.uri + "/";
    reply(c, m, 200, "Content-Type: application/sdp\r\nContent-Base: " + base + "\r\n",
          sdpTemplate);
}

void ScriptedRtspServer::Private::setUp(Connection &c, const Message &m)
{
    // The first of the offered transports that this server takes.
    QByteArray chosen;
    bool udp = false;
    for (const QByteArray &option : m.header("transport").split(',')) {
        const QByteArray o = option.trimmed();
        const bool tcp = o.startsWith("RTP/AVP/TCP");
        const bool unicastUdp = !tcp && o.startsWith("RTP/AVP") && !o.contains("multicast") &&
                                o.contains("client_port=");
        if ((tcp && options.transports != Transports::UdpOnly) ||
            (unicastUdp && options.transports != Transports::TcpOnly)) {
            chosen = o;
            udp = unicastUdp;
            break;
        }
    }
    if (chosen.isEmpty()) {
        reply(c, m, 461);
        return;
    }
    if (c.session.isEmpty())
        c.session = QByteArray::number(0x5c000000 + nextSessionId++, 16);
    QByteArray transport;
    int first = 0;
    if (udp) {
        portPair(chosen, "client_port", &first);
        c.clientRtpPort = quint16(first);
        transport = "RTP/AVP;unicast;client_port=" + QByteArray::number(first) + "-" +
                    QByteArray::number(first + 1) +
                    ";server_port=" + QByteArray::number(localPort(rtpFd)) + "-" +
                    QByteArray::number(localPort(rtcpFd));
    } else {
        portPair(chosen, "interleaved", &first);
        c.rtpChannel = first;
        transport = "RTP/AVP/TCP;unicast;interleaved=" + QByteArray::number(first) + "-" +
                    QByteArray::number(first + 1);
    }
    c.udp = udp;
    c.lastRequest = Clock::now();
    const QByteArray timeout =
        options.sessionTimeout > 0 ? ";timeout=" + QByteArray::number(options.sessionTimeout) : "";
    reply(c, m, 200, "Transport: " + transport + "\r\nSession: " + c.session + timeout + "\r\n");
}

void ScriptedRtspServer::Private::play(Connection &c, const Message &m)
{
    const QByteArray session = m.header("session").split(';').first().trimmed();
    if (c.session.isEmpty() || session != c.session) {
        reply(c, m, 454);
        return;
    }
    const QByteArray sessionHeader = "Session: " + c.session + "\r\n";
    if (options.playStatus < 200 || options.playStatus >= 300) {
        reply(c, m, options.playStatus, sessionHeader);
        return;
    }
    reply(c, m, options.playStatus, sessionHeader + "Range: npt=0.000-\r\n");
    c.playing = true;
    std::lock_guard<std::mutex> lock(recordMutex);
    ++playsAnswered;
}

void ScriptedRtspServer::Private::sendPackets()
{
    std::deque<QByteArray> ready;
    {
        std::lock_guard<std::mutex> lock(packetMutex);
        ready.swap(packets);
    }
    qint64 tcp = 0;
    qint64 udp = 0;
    for (Connection &c : clients) {
        if (!c.playing || c.fd < 0 || c.closing || (c.udp && options.silentUdp))
            continue;
        for (const QByteArray &packet : ready) {
            if (c.udp) {
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                to.sin_port = htons(c.clientRtpPort);
                if (::sendto(rtpFd, packet.constData(), size_t(packet.size()), 0,
                             reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0)
                    ++udp;
            } else if (c.out.size() < maxQueuedBytes) {
                const char header[4] = {'$', char(c.rtpChannel), char(packet.size() >> 8),
                                        char(packet.size() & 0xff)};
                c.out.append(header, 4).append(packet);
                ++tcp;
            }
        }
    }
    std::lock_guard<std::mutex> lock(recordMutex);
    tcpPackets += tcp;
    udpPackets += udp;
}

void ScriptedRtspServer::Private::writeTo(Connection &c)
{
    if (c.fd < 0)
        return;
    while (!c.out.isEmpty()) {
        const ssize_t n = ::send(c.fd, c.out.constData(), size_t(c.out.size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            c.closing = true;
            c.out.clear();
            break;
        }
        c.out.remove(0, int(n));
    }
    if (c.closing) {
        ::close(c.fd);
        c.fd = -1;
    }
}

void ScriptedRtspServer::Private::expireSessions()
{
    if (options.sessionTimeout <= 0)
        return;
    const Clock::time_point now = Clock::now();
    for (Connection &c : clients) {
        if (c.fd < 0 || c.session.isEmpty() ||
            now - c.lastRequest < std::chrono::seconds(options.sessionTimeout))
            continue;
        // The session ends with its connection, and with it the stream.
        c.session.clear();
        c.playing = false;
        c.out.clear();
        c.closing = true;
        std::lock_guard<std::mutex> lock(recordMutex);
        ++expiredSessions;
    }
}

ScriptedRtspServer::ScriptedRtspServer(const Options &options) : d(new Private(options))
{
    start();
}

ScriptedRtspServer::~ScriptedRtspServer()
{
    d->stop();
}

quint16 ScriptedRtspServer::port() const
{
    return d->listenFd >= 0 ? d->port : 0;
}

bool ScriptedRtspServer::start()
{
    d->stop();
    return d->start();
}

void ScriptedRtspServer::kill()
{
    d->stop();
}

void ScriptedRtspServer::freeze(bool frozen)
{
    if (!d->thread.joinable())
        return;
    std::unique_lock<std::mutex> lock(d->freezeMutex);
    d->frozenWanted = frozen;
    d->wake();
    d->freezeTaken.wait_for(lock, std::chrono::seconds(5),
                            [this] { return d->frozen == d->frozenWanted; });
}

QVector<ScriptedRtspServer::Request> ScriptedRtspServer::requests() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->requests;
}

QByteArray ScriptedRtspServer::methods() const
{
    QList<QByteArray> names;
    for (const Request &r : requests())
        names.append(r.method);
    return names.join(' ');
}

int ScriptedRtspServer::keepAlives() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->keepAlives;
}

int ScriptedRtspServer::playsAnswered() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->playsAnswered;
}

int ScriptedRtspServer::expiredSessions() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->expiredSessions;
}

int ScriptedRtspServer::connections() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->connections;
}

qint64 ScriptedRtspServer::packetsSent(bool udp) const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return udp ? d->udpPackets : d->tcpPackets;
}

int ScriptedRtspServer::rtcpReceived() const
{
    std::lock_guard<std::mutex> lock(d->recordMutex);
    return d->rtcpReceived;
}

} // namespace TestSupport
