#include "rtspserver.h"

#include "rtspauth.h"
#include "rtspfeed.h"

#include <cstdio>

namespace {

// How often the drop fault is looked at, to close the connections that are
// open when it comes on; one that opens while it is on is closed at once.
constexpr guint dropCheckMs = 50;

gboolean closeOne(gpointer client)
{
    gst_rtsp_client_close(GST_RTSP_CLIENT(client));
    return G_SOURCE_REMOVE;
}

// A live pipeline's sinks hold every packet for the processing deadline a
// sink allows itself by default (20 ms), which a camera that sends each frame
// as soon as it is encoded does not do; without it, the picture reaches the
// viewer 20 ms later over RTSP than over HTTP.
void sendAtOnce(GstBin *, GstBin *, GstElement *element, gpointer)
{
    if (GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SINK) &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "processing-deadline"))
        g_object_set(element, "processing-deadline", guint64(0), nullptr);
}

// One connection's deadline for setting up a stream.
struct IdleCheck
{
    RtspServer *server;
    GstRTSPClient *client;
};

void freeIdleCheck(gpointer data)
{
    delete static_cast<IdleCheck *>(data);
}

// A closed client's deadline goes with it, so that no source outlives the
// client it names.
void dropDeadline(GstRTSPClient *, gpointer source)
{
    g_source_destroy(static_cast<GSource *>(source));
}

void unrefSource(gpointer source, GClosure *)
{
    g_source_unref(static_cast<GSource *>(source));
}

// Closes the given client if it is still connected and has no stream set up.
GstRTSPFilterResult closeIfIdle(GstRTSPServer *, GstRTSPClient *client, gpointer target)
{
    if (client != target)
        return GST_RTSP_FILTER_KEEP;
    GList *sessions = gst_rtsp_client_session_filter(client, nullptr, nullptr);
    const bool idle = !sessions;
    g_list_free_full(sessions, g_object_unref);
    if (idle) {
        std::printf("RTSP connection closed: no stream set up in time\n");
        std::fflush(stdout);
    }
    return idle ? GST_RTSP_FILTER_REMOVE : GST_RTSP_FILTER_KEEP;
}

GstRTSPFilterResult removeEvery(GstRTSPServer *, GstRTSPClient *, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

gboolean quitLoop(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop *>(loop));
    return G_SOURCE_REMOVE;
}

} // namespace

bool RtspServer::parseCodec(const QByteArray &name, Codec *codec)
{
    for (Codec c : {Codec::H264, Codec::H265, Codec::Jpeg}) {
        if (name == codecName(c)) {
            *codec = c;
            return true;
        }
    }
    return false;
}

const char *RtspServer::codecName(Codec codec)
{
    switch (codec) {
    case Codec::H264:
        return "h264";
    case Codec::H265:
        return "h265";
    case Codec::Jpeg:
        return "jpeg";
    }
    return "";
}

RtspServer::RtspServer(CamState &state, const Options &options) : m_state(state), m_options(options)
{
}

RtspServer::~RtspServer()
{
    stop();
}

QByteArray RtspServer::launchLine() const
{
    // A calibration tool wants the newest picture: no B-frames and no
    // look-ahead, so each frame leaves the encoder as soon as it is drawn,
    // and a key frame every second, so a client that lost packets recovers.
    // The parser puts the parameter sets in front of each key frame as a
    // whole; the payloader would put them before each of its slices, which
    // splits the frame in two for a client that finds frames by them.
    const QByteArray keyInterval = QByteArray::number(m_options.fps);
    QByteArray encoder;
    switch (m_options.codec) {
    case Codec::H264:
        encoder = "x264enc tune=zerolatency speed-preset=ultrafast bframes=0 rc-lookahead=0 "
                  "key-int-max=" +
                  keyInterval +
                  " ! h264parse config-interval=-1 ! video/x-h264,alignment=au"
                  " ! rtph264pay name=pay0 pt=96 config-interval=0";
        break;
    case Codec::H265:
        encoder = "x265enc tune=zerolatency speed-preset=ultrafast "
                  "option-string=bframes=0:rc-lookahead=0 key-int-max=" +
                  keyInterval +
                  " ! h265parse config-interval=-1 ! video/x-h265,alignment=au"
                  " ! rtph265pay name=pay0 pt=96 config-interval=0";
        break;
    case Codec::Jpeg:
        encoder = "jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26";
        break;
    }
    // The queue gives the encoder a thread of its own, so that a key frame
    // that takes long to encode does not delay the drawing of the next frame
    // and its timestamp. It holds one frame and blocks when full: while the
    // library holds a described stream back until PLAY, drawing stops after a
    // frame instead of going on for nobody.
    return "( appsrc name=src ! queue max-size-buffers=1 max-size-bytes=0 max-size-time=0 "
           "! videoconvert ! video/x-raw,format=I420 ! " +
           encoder + " )";
}

GstRTSPMediaFactory *RtspServer::factory(int channel)
{
    GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launchLine().constData());
    // One pipeline per client: each starts its encoder on a key frame, so a
    // new client has a picture at once.
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    // Unicast only: multicast would send beyond loopback.
    gst_rtsp_media_factory_set_protocols(
        factory, GstRTSPLowerTrans(GST_RTSP_LOWER_TRANS_TCP | GST_RTSP_LOWER_TRANS_UDP));
    RtspAuth::grantAccess(factory);
    RtspAuth::setChannel(factory, channel);
    g_signal_connect(factory, "media-configure", G_CALLBACK(&RtspServer::onMediaConfigure), this);
    return factory;
}

bool RtspServer::start(QString *error)
{
    // RTP/JPEG headers give a picture's size in steps of 8 pixels, up to 2040.
    for (const QSize &size : {m_options.visibleSize, m_options.thermalSize}) {
        if (m_options.codec == Codec::Jpeg && (size.width() % 8 || size.height() % 8 ||
                                               size.width() > 2040 || size.height() > 2040)) {
            *error = QStringLiteral("RTSP with JPEG carries only sizes in steps of 8 pixels up to "
                                    "2040x2040, not %1x%2")
                         .arg(size.width())
                         .arg(size.height());
            return false;
        }
    }
    GError *gerror = nullptr;
    if (!gst_init_check(nullptr, nullptr, &gerror)) {
        *error =
            QStringLiteral("cannot start GStreamer: %1").arg(QString::fromUtf8(gerror->message));
        g_error_free(gerror);
        return false;
    }
    m_server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(m_server, m_options.listen.toUtf8().constData());
    gst_rtsp_server_set_service(m_server, QByteArray::number(m_options.port).constData());
    // Connections beyond the limit are accepted and closed at once, not left
    // in a short backlog.
    gst_rtsp_server_set_backlog(m_server, int(m_options.connectionLimit));
    GstRTSPAuth *auth =
        RtspAuth::create(m_state, m_options.user.toUtf8(), m_options.password.toUtf8());
    gst_rtsp_server_set_auth(m_server, auth);
    g_object_unref(auth);
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(m_server);
    for (int channel : {1, 2}) {
        gst_rtsp_mount_points_add_factory(
            mounts, QByteArray("/channels/").append(QByteArray::number(channel)).constData(),
            factory(channel));
    }
    g_object_unref(mounts);
    g_signal_connect(m_server, "client-connected", G_CALLBACK(&RtspServer::onClientConnected),
                     this);
    // Clients are served on the server's own loop, not on a thread of the
    // library's pool: closing them (on a drop fault, at a stop) then never
    // races with a request being answered, which reads the connection that
    // closing frees.
    GstRTSPThreadPool *threads = gst_rtsp_server_get_thread_pool(m_server);
    gst_rtsp_thread_pool_set_max_threads(threads, 0);
    g_object_unref(threads);

    m_context = g_main_context_new();
    GSource *listening = gst_rtsp_server_create_source(m_server, nullptr, &gerror);
    if (!listening) {
        *error = QStringLiteral("cannot serve RTSP on %1 port %2: %3")
                     .arg(m_options.listen)
                     .arg(m_options.port)
                     .arg(QString::fromUtf8(gerror->message));
        g_error_free(gerror);
        return false;
    }
    g_source_attach(listening, m_context);
    g_source_unref(listening);
    GSource *tick = g_timeout_source_new(dropCheckMs);
    g_source_set_callback(tick, &RtspServer::onTick, this, nullptr);
    g_source_attach(tick, m_context);
    g_source_unref(tick);
    m_port = uint16_t(gst_rtsp_server_get_bound_port(m_server));

    m_renderer = std::make_shared<RenderThread>();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    return true;
}

void RtspServer::stop()
{
    if (!m_server)
        return;
    if (m_loop) {
        // Clients are closed on the loop's own thread, which owns their
        // connections; closing one stops its pipeline, and with it the feed.
        GSource *last = g_idle_source_new();
        g_source_set_priority(last, G_PRIORITY_HIGH);
        g_source_set_callback(
            last,
            [](gpointer self) -> gboolean {
                auto *server = static_cast<RtspServer *>(self);
                server->closeClients();
                quitLoop(server->m_loop);
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(last, m_context);
        g_source_unref(last);
        m_thread.join();
        g_main_loop_unref(m_loop);
        m_loop = nullptr;
    }
    g_object_unref(m_server);
    m_server = nullptr;
    if (m_context) {
        g_main_context_unref(m_context);
        m_context = nullptr;
    }
    // Waits for the threads the library started for the pipelines.
    gst_rtsp_thread_pool_cleanup();
    if (m_renderer)
        m_renderer->stop();
}

void RtspServer::closeClients()
{
    g_list_free(gst_rtsp_server_client_filter(m_server, &removeEvery, nullptr));
}

void RtspServer::onMediaConfigure(GstRTSPMediaFactory *factory, GstRTSPMedia *media, gpointer self)
{
    auto *server = static_cast<RtspServer *>(self);
    const int channel = RtspAuth::channel(factory);
    const QSize size = channel == 2 ? server->m_options.thermalSize : server->m_options.visibleSize;
    server->m_state.countRequest(QStringLiteral("rtspStreams"));
    // The media's sinks join its pipeline only when a client sets it up.
    GstElement *element = gst_rtsp_media_get_element(media);
    if (GstObject *pipeline = gst_object_get_parent(GST_OBJECT(element))) {
        g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(&sendAtOnce), nullptr);
        gst_object_unref(pipeline);
    }
    gst_object_unref(element);
    if (!RtspFeed::attach(media, server->m_state, server->m_renderer, channel, size,
                          server->m_options.fps))
        std::fprintf(stderr, "camsim: RTSP pipeline of channel %d has no picture source\n",
                     channel);
}

void RtspServer::onClientConnected(GstRTSPServer *, GstRTSPClient *client, gpointer self)
{
    auto *server = static_cast<RtspServer *>(self);
    g_signal_connect(client, "send-message", G_CALLBACK(&RtspServer::onSendMessage), server);
    // The new client is not counted among the server's clients yet.
    GList *clients = gst_rtsp_server_client_filter(server->m_server, nullptr, nullptr);
    const unsigned open = g_list_length(clients);
    g_list_free_full(clients, g_object_unref);
    const bool tooMany = open >= server->m_options.connectionLimit;
    if (tooMany) {
        std::printf("RTSP connection refused: %u connections open\n", open);
        std::fflush(stdout);
    }
    // A connection that never sets a stream up would hold one of the
    // connections the limit allows for good.
    GSource *deadline = g_timeout_source_new_seconds(server->m_options.idleTimeout);
    g_source_set_callback(deadline, &RtspServer::onIdleCheck, new IdleCheck{server, client},
                          &freeIdleCheck);
    g_signal_connect_data(client, "closed", G_CALLBACK(&dropDeadline), g_source_ref(deadline),
                          &unrefSource, GConnectFlags(0));
    g_source_attach(deadline, server->m_context);
    g_source_unref(deadline);
    if (tooMany || server->m_state.faults().dropConnection) {
        // The library attaches the client to the loop only after this
        // signal; the close runs before its first request is read.
        GSource *close = g_idle_source_new();
        g_source_set_priority(close, G_PRIORITY_HIGH);
        g_source_set_callback(close, &closeOne, g_object_ref(client), g_object_unref);
        g_source_attach(close, server->m_context);
        g_source_unref(close);
    }
}

void RtspServer::onSendMessage(GstRTSPClient *, GstRTSPContext *ctx, GstRTSPMessage *message,
                               gpointer)
{
    if (!ctx || !ctx->request || gst_rtsp_message_get_type(message) != GST_RTSP_MESSAGE_RESPONSE)
        return;
    GstRTSPMethod method = GST_RTSP_INVALID;
    const gchar *uri = nullptr;
    gst_rtsp_message_parse_request(ctx->request, &method, &uri, nullptr);
    GstRTSPStatusCode code = GST_RTSP_STS_INVALID;
    gst_rtsp_message_parse_response(message, &code, nullptr, nullptr);
    std::printf("RTSP %s %s -> %d\n", gst_rtsp_method_as_text(method), uri ? uri : "?", int(code));
    std::fflush(stdout);
}

gboolean RtspServer::onIdleCheck(gpointer data)
{
    auto *check = static_cast<IdleCheck *>(data);
    g_list_free(
        gst_rtsp_server_client_filter(check->server->m_server, &closeIfIdle, check->client));
    return G_SOURCE_REMOVE;
}

gboolean RtspServer::onTick(gpointer self)
{
    auto *server = static_cast<RtspServer *>(self);
    if (server->m_state.faults().dropConnection)
        server->closeClients();
    return G_SOURCE_CONTINUE;
}
