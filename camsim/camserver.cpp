#include "camserver.h"

#include "camrequest.h"
#include "digestauth.h"
#include "scenerenderer.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

const char realm[] = "camsim";
const char boundary[] = "camsimframe";
struct RequestContext
{
    QByteArray body;
};

// Serves the first half of a reply and then fails, so that the client sees the
// connection drop in the middle of the body.
struct HalfReply
{
    QByteArray body;
};

ssize_t readHalf(void *cls, uint64_t pos, char *buf, size_t max)
{
    const auto *half = static_cast<HalfReply *>(cls);
    const uint64_t limit = uint64_t(half->body.size()) / 2;
    if (pos >= limit)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    const size_t n = std::min<uint64_t>(max, limit - pos);
    std::memcpy(buf, half->body.constData() + pos, n);
    return ssize_t(n);
}

void freeHalf(void *cls)
{
    delete static_cast<HalfReply *>(cls);
}

// One viewer of a channel: the part being sent and when the next one is due.
struct StreamContext
{
    CamServer *server;
    int channel;
    QByteArray part;
    int sent = 0;
    quint64 frame = 0;
    std::chrono::steady_clock::time_point due;
};

void freeStream(void *cls)
{
    delete static_cast<StreamContext *>(cls);
}

QByteArray streamPart(CamServer::MjpegShape shape, const QByteArray &jpeg, bool first)
{
    using Shape = CamServer::MjpegShape;
    QByteArray part;
    // RFC 2046 counts the CR LF before a boundary as part of that boundary,
    // so a camera may hold it back until the next frame is ready.
    if (shape == Shape::LateCrlf && !first)
        part += "\r\n";
    part += QByteArray("--") + boundary + "\r\nContent-Type: image/jpeg\r\n";
    if (shape != Shape::NoLength)
        part += "Content-Length: " + QByteArray::number(jpeg.size()) + "\r\n";
    part += "\r\n" + jpeg;
    if (shape != Shape::LateCrlf)
        part += "\r\n";
    return part;
}

} // namespace

CamServer::CamServer(CamState &state, const Options &options)
    : m_state(state), m_options(options),
      m_auth(realm, options.user.toUtf8(), options.password.toUtf8(), options.nonceTimeout),
      m_onvif(state, m_auth, options.user.toUtf8(), options.password.toUtf8(), options.onvif)
{
}

CamServer::~CamServer()
{
    stop();
}

bool CamServer::start(QString *error)
{
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr *addr = nullptr;
    unsigned flags =
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    const QByteArray host = m_options.listen.toLatin1();
    if (inet_pton(AF_INET, host.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(m_options.port);
        addr = reinterpret_cast<const sockaddr *>(&v4);
    } else if (inet_pton(AF_INET6, host.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(m_options.port);
        addr = reinterpret_cast<const sockaddr *>(&v6);
        flags |= MHD_USE_IPv6;
    } else {
        *error = QStringLiteral("--listen %1 is not a numeric address").arg(m_options.listen);
        return false;
    }
    // The limit is kept by onAccept, which closes a connection beyond it at
    // once. At its own limit the library stops accepting instead, leaving new
    // clients hanging in the backlog, so its limit only backs ours up.
    m_daemon = MHD_start_daemon(
        flags, m_options.port, &CamServer::onAccept, this, &CamServer::onRequest, this,
        MHD_OPTION_SOCK_ADDR, addr, MHD_OPTION_CONNECTION_LIMIT, m_options.connectionLimit + 16,
        MHD_OPTION_NOTIFY_CONNECTION, &CamServer::onConnection, this, MHD_OPTION_CONNECTION_TIMEOUT,
        m_options.idleTimeout, MHD_OPTION_NOTIFY_COMPLETED, &CamServer::onCompleted, this,
        MHD_OPTION_END);
    if (!m_daemon) {
        *error =
            QStringLiteral("cannot listen on %1 port %2").arg(m_options.listen).arg(m_options.port);
        return false;
    }
    m_onvif.setHttpPort(boundPort());
    return true;
}

void CamServer::stop()
{
    m_stopping = true;
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}

uint16_t CamServer::boundPort() const
{
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

MHD_Result CamServer::onRequest(void *cls, MHD_Connection *connection, const char *url,
                                const char *method, const char *, const char *uploadData,
                                size_t *uploadDataSize, void **context)
{
    auto *self = static_cast<CamServer *>(cls);
    auto *ctx = static_cast<RequestContext *>(*context);
    if (!ctx) {
        ctx = new RequestContext;
        *context = ctx;
        const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        // Answered before any of the body is read: no 100 Continue invites
        // it, and the connection closes after the reply instead of draining
        // what the client announced.
        if (length && std::strtoull(length, nullptr, 10) > maxBodyBytes)
            return self->handle(connection, url, method, QByteArray(), true);
        return MHD_YES;
    }
    if (*uploadDataSize > 0) {
        // A body without a length that grows too large ends the connection:
        // no reply can be queued halfway through a body, and reading the rest
        // only to refuse it is what a flood wants.
        if (size_t(ctx->body.size()) + *uploadDataSize > maxBodyBytes)
            return MHD_NO;
        ctx->body.append(uploadData, int(*uploadDataSize));
        *uploadDataSize = 0;
        return MHD_YES;
    }
    return self->handle(connection, url, method, ctx->body, false);
}

MHD_Result CamServer::onAccept(void *cls, const sockaddr *, socklen_t)
{
    auto *self = static_cast<CamServer *>(cls);
    // Connections are accepted and counted on the listening thread alone, so
    // the count cannot rise between this check and the new connection's start.
    if (self->m_connections.load() < self->m_options.connectionLimit)
        return MHD_YES;
    std::printf("connection refused: %u connections open\n", self->m_options.connectionLimit);
    std::fflush(stdout);
    return MHD_NO;
}

void CamServer::onConnection(void *cls, MHD_Connection *, void **,
                             MHD_ConnectionNotificationCode toe)
{
    auto *self = static_cast<CamServer *>(cls);
    if (toe == MHD_CONNECTION_NOTIFY_STARTED)
        ++self->m_connections;
    else if (toe == MHD_CONNECTION_NOTIFY_CLOSED)
        --self->m_connections;
}

void CamServer::onCompleted(void *, MHD_Connection *, void **context, MHD_RequestTerminationCode)
{
    delete static_cast<RequestContext *>(*context);
    *context = nullptr;
}

MHD_Result CamServer::handle(MHD_Connection *connection, const QByteArray &url,
                             const QByteArray &method, const QByteArray &body, bool tooLarge)
{
    m_state.countRequest(QStringLiteral("total"));
    CamRequest::Request request{
        method, url,
        MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "conditionSize"),
        MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "outputSize"), body};
    CamRequest::Reply reply;
    bool drop = false;
    if (tooLarge) {
        reply.status = MHD_HTTP_CONTENT_TOO_LARGE;
        reply.contentType = "text/plain";
        reply.body = QByteArray("request body exceeds ") +
                     QByteArray::number(qulonglong(maxBodyBytes)) + " bytes\n";
    } else if (url.startsWith("/camsim/")) {
        // The simulator's own resources stay reachable whatever faults are on,
        // so that a test can always switch them off again.
        reply = CamRequest::control(m_state, request);
    } else if (url.startsWith("/onvif/")) {
        return onvif(connection, url, method, body);
    } else {
        MHD_Result queued;
        if (!authenticate(connection, method, url, &queued)) {
            m_state.countRequest(QStringLiteral("unauthorized"));
            std::printf("%s %s -> 401\n", method.constData(), url.constData());
            std::fflush(stdout);
            return queued;
        }
        const CamState::Faults faults = m_state.faults();
        delay(faults.delayMs);
        drop = faults.dropConnection;
        reply = CamRequest::camera(m_state, request);
        if (reply.streamChannel) {
            std::printf("%s %s -> 200 (stream)\n", method.constData(), url.constData());
            std::fflush(stdout);
            return stream(connection, reply.streamChannel);
        }
    }
    std::printf("%s %s -> %u\n", method.constData(), url.constData(), reply.status);
    std::fflush(stdout);
    return send(connection, reply, drop);
}

bool CamServer::authenticate(MHD_Connection *connection, const QByteArray &method,
                             const QByteArray &url, MHD_Result *queued)
{
    const QByteArray authorization =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    DigestAuth::Verdict verdict = DigestAuth::Verdict::Denied;
    if (!m_state.faults().refuseLogin)
        verdict = m_auth.check(method, url, authorization);
    if (verdict == DigestAuth::Verdict::Accepted)
        return true;
    // Each of these costs a real camera one step towards locking the account.
    if (verdict == DigestAuth::Verdict::Denied && !authorization.isEmpty())
        m_state.countRequest(QStringLiteral("badCredentials"));
    static const char denied[] = "authentication required\n";
    MHD_Response *response = MHD_create_response_from_buffer(
        sizeof(denied) - 1, const_cast<char *>(denied), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE,
                            m_auth.challenge(verdict == DigestAuth::Verdict::Stale).constData());
    *queued = MHD_queue_response(connection, MHD_HTTP_UNAUTHORIZED, response);
    MHD_destroy_response(response);
    return false;
}

void CamServer::delay(int ms) const
{
    // Waited out in short steps, so that stopping the server is not held
    // up by a late reply nobody waits for any more.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stopping && std::chrono::steady_clock::now() < due)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

MHD_Result CamServer::onvif(MHD_Connection *connection, const QByteArray &url,
                            const QByteArray &method, const QByteArray &body)
{
    OnvifService::Request request{
        method,
        url,
        body,
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST),
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION),
        QByteArray()};
    // Without a Host header the URIs name the address the client reached.
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    sockaddr_storage local{};
    socklen_t length = sizeof(local);
    char text[INET6_ADDRSTRLEN] = "";
    if (info && getsockname(info->connect_fd, reinterpret_cast<sockaddr *>(&local), &length) == 0) {
        if (local.ss_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 *>(&local)->sin6_addr, text,
                      sizeof(text));
            request.localHost = "[" + QByteArray(text) + "]";
        } else {
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(&local)->sin_addr, text,
                      sizeof(text));
            request.localHost = text;
        }
    }
    const OnvifService::Reply reply = m_onvif.answer(request);
    const CamState::Faults faults = m_state.faults();
    delay(faults.delayMs);
    std::printf("ONVIF %s %s auth=%s -> %u\n", reply.service.constData(),
                reply.operation.constData(), reply.auth.constData(), reply.http.status);
    std::fflush(stdout);
    return send(connection, reply.http, faults.dropConnection, reply.challenge);
}

MHD_Result CamServer::stream(MHD_Connection *connection, int channel)
{
    auto *ctx =
        new StreamContext{this, channel, QByteArray(), 0, 0, std::chrono::steady_clock::now()};
    MHD_Response *response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 64 * 1024, &CamServer::readStream, ctx, &freeStream);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(
        response, MHD_HTTP_HEADER_CONTENT_TYPE,
        QByteArray("multipart/x-mixed-replace;boundary=").append(boundary).constData());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

ssize_t CamServer::readStream(void *cls, uint64_t, char *buf, size_t max)
{
    auto *ctx = static_cast<StreamContext *>(cls);
    CamServer *self = ctx->server;
    if (self->m_stopping)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    if (ctx->sent >= ctx->part.size()) {
        // Frames are drawn here, on the viewer's own thread, so nothing is
        // rendered while nobody watches.
        const auto now = std::chrono::steady_clock::now();
        if (now < ctx->due)
            std::this_thread::sleep_for(ctx->due - now);
        if (self->m_state.faults().stallStream) {
            // Thread per connection: returning nothing after a pause waits without spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return 0;
        }
        ctx->due = std::max(ctx->due, now) +
                   std::chrono::microseconds(1000000 / std::max(1, self->m_options.fps));
        const QSize size =
            ctx->channel == 2 ? self->m_options.thermalSize : self->m_options.visibleSize;
        const QByteArray jpeg = SceneRenderer::jpeg(
            SceneRenderer::render(ctx->channel, self->m_state.view(), ++ctx->frame, size));
        ctx->part = streamPart(self->m_options.mjpegShape, jpeg, ctx->frame == 1);
        ctx->sent = 0;
        self->m_state.countRequest(QStringLiteral("framesRendered"));
    }
    const size_t n = std::min(max, size_t(ctx->part.size() - ctx->sent));
    std::memcpy(buf, ctx->part.constData() + ctx->sent, n);
    ctx->sent += int(n);
    return ssize_t(n);
}

MHD_Result CamServer::send(MHD_Connection *connection, const CamRequest::Reply &reply,
                           bool dropHalfway, const QByteArray &challenge)
{
    MHD_Response *response;
    if (dropHalfway && reply.body.size() > 1) {
        auto *half = new HalfReply{reply.body};
        response = MHD_create_response_from_callback(uint64_t(reply.body.size()), 4096, &readHalf,
                                                     half, &freeHalf);
    } else {
        response = MHD_create_response_from_buffer(size_t(reply.body.size()),
                                                   const_cast<char *>(reply.body.constData()),
                                                   MHD_RESPMEM_MUST_COPY);
    }
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.constData());
    if (!challenge.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, challenge.constData());
    const MHD_Result result = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return result;
}
