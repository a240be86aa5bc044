#include "preview/previewsession.h"

#include "api/sdkconfig.h"
#include "preview/childwindow.h"
#include "preview/mjpeg/reframeprobe.h"
#include "preview/picturefit.h"
#include "preview/rtsp/rtspauthguard.h"

#include <gst/gst.h>
#include <gst/rtsp/gstrtspdefs.h>
#include <gst/video/videooverlay.h>

#include <malloc.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// A callback slower than the camera must not make memory grow without end.
constexpr size_t maxPendingFrames = 64;
// A restart right after a failure would spin against a camera that is down.
constexpr uint32_t minReconnectIntervalMs = 50;
// The loop looks at its state this often even when nothing wakes it.
constexpr int idlePollMs = 250;
// The RTSP source notices neither a camera that stops sending over UDP nor
// one frozen behind an open TCP connection (its keep-alives still leave), so
// the loop restarts a stream that has brought nothing for this long; the HTTP
// source gives up after as long by itself.
constexpr auto stalledAfter = std::chrono::seconds(5);
// Before its first frame a stream also needs its requests answered; each of
// them is bounded by the source's own timeout, so this only catches a camera
// that accepted the stream and never sent it.
constexpr auto silentFromStart = std::chrono::seconds(10);
// How long the RTSP source waits for the camera's answer to a request, and
// for the first UDP packet, in microseconds.
constexpr guint64 rtspTimeoutUs = 5000000;
// With the transport left to the SDK, how long UDP may stay silent after
// PLAY before the source sets the stream up again over TCP.
constexpr guint64 rtspUdpSilenceUs = 2000000;
// The jitter buffer's depth. Packets in order pass at once; this is only how
// long the first packet and a gap are waited for before the stream goes on
// without what is missing, so it stays short of one frame interval: a
// calibration wants the newest frame.
constexpr guint rtspLatencyMs = 30;

GstElement *childByName(GstElement *bin, const char *name)
{
    return gst_bin_get_by_name(GST_BIN(bin), name);
}

// A pipeline's buffers, and what building and starting it allocated, come
// from the malloc arenas of its many streaming and decoding threads. Freed,
// they stay in those arenas, and the next pipeline's threads, drawing arenas
// afresh, mostly fill other holes: without giving the free pages back after a
// teardown and once the new stream runs, each camera restart left up to two
// megabytes more resident.
void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

bool isRtspUrl(const std::string &url)
{
    static const char scheme[] = "rtsp://";
    if (url.size() < sizeof scheme - 1)
        return false;
    for (size_t i = 0; i + 1 < sizeof scheme; ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i])
            return false;
    }
    return true;
}

} // namespace

struct PipelineHooks
{
    static GstBusSyncReply onBusMessage(GstBus *, GstMessage *, gpointer self)
    {
        static_cast<PreviewSession *>(self)->wake();
        return GST_BUS_PASS;
    }

    static GstPadProbeReturn onReceived(GstPad *pad, GstPadProbeInfo *info, gpointer self)
    {
        static_cast<PreviewSession *>(self)->frameReceived(GST_PAD_PROBE_INFO_BUFFER(info),
                                                           dataTypeOf(pad));
        return GST_PAD_PROBE_OK;
    }

    static GstPadProbeReturn onDecoded(GstPad *pad, GstPadProbeInfo *info, gpointer self)
    {
        static_cast<PreviewSession *>(self)->m_pictures.keep(pad, GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
    }

    static GstPadProbeReturn onDrawn(GstPad *, GstPadProbeInfo *, gpointer self)
    {
        ++static_cast<PreviewSession *>(self)->m_framesDrawn;
        return GST_PAD_PROBE_OK;
    }

    // Only the video of a camera that also offers audio or metadata is set up.
    static gboolean onSelectStream(GstElement *, guint, GstCaps *caps, gpointer)
    {
        const GstStructure *s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        const gchar *media = s ? gst_structure_get_string(s, "media") : nullptr;
        return media && std::strcmp(media, "video") == 0;
    }

    // What the callback is told it gets: the decoder's input is a JPEG
    // picture or an H.264 or H.265 access unit.
    static uint32_t dataTypeOf(GstPad *pad)
    {
        GstCaps *caps = gst_pad_get_current_caps(pad);
        const GstStructure *format = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        const bool coded = format && (gst_structure_has_name(format, "video/x-h264") ||
                                      gst_structure_has_name(format, "video/x-h265"));
        if (caps)
            gst_caps_unref(caps);
        return coded ? CAMNET_DATA_ACCESS_UNIT : CAMNET_DATA_FRAME;
    }

    // A decoder takes one whole access unit per buffer, whatever depayloader
    // and parser the codec needed before it: that is a received frame.
    static void onDecodingElement(GstBin *, GstBin *, GstElement *element, gpointer self)
    {
        GstElementFactory *factory = gst_element_get_factory(element);
        const gchar *klass =
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                    : nullptr;
        if (!klass || !std::strstr(klass, "Decoder"))
            return;
        // Frame threads would each hold a frame back; slices cost no delay.
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "thread-type"))
            gst_util_set_object_arg(G_OBJECT(element), "thread-type", "slice");
        if (GstPad *in = gst_element_get_static_pad(element, "sink")) {
            gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, &PipelineHooks::onReceived, self,
                              nullptr);
            gst_object_unref(in);
        }
    }
};

PreviewSession::PreviewSession(Target target)
    : m_target(std::move(target)), m_rtsp(isRtspUrl(m_target.url)), m_status(stalledAfter),
      m_startDecided(!m_rtsp)
{
}

PreviewSession::~PreviewSession()
{
    if (m_thread.joinable()) {
        // The thread may hold the last reference itself.
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            requestStop();
            m_thread.join();
        }
    }
    teardownPipeline();
    m_window.reset();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

int32_t PreviewSession::start()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return CAMNET_ERR_OUT_OF_RESOURCES;
    m_window = ChildWindow::create(m_target.window);
    if (m_window) {
        m_childId = m_window->id();
        m_displayName = m_window->displayName();
    }
    m_pipeline = buildPipeline();
    if (!m_pipeline)
        return CAMNET_ERR_NOT_SUPPORTED;
    try {
        m_thread = std::thread([self = shared_from_this()] { self->run(); });
    } catch (const std::system_error &) {
        return CAMNET_ERR_OUT_OF_RESOURCES;
    }
    return CAMNET_ERR_NONE;
}

GstElement *PreviewSession::buildPipeline()
{
    // Parsed, not linked by hand: demuxer and source pads appear only once
    // data flows.
    const std::string description =
        (m_rtsp ? rtspSourceDescription() : httpSourceDescription()) + " ! " + drawingDescription();
    GError *error = nullptr;
    GstElement *pipeline = nullptr;
    {
        RtspAuthGuard guard(m_target.rtspBasicAuth);
        pipeline = gst_parse_launch(description.c_str(), &error);
        if (pipeline && !error && m_rtsp) {
            GstElement *source = childByName(pipeline, "src");
            const bool guarded = guard.attach(source, this);
            gst_object_unref(source);
            // Without the guard the source would answer a Basic challenge,
            // and nothing would tell when the camera accepted PLAY.
            if (!guarded) {
                gst_object_unref(pipeline);
                return nullptr;
            }
        }
    }
    if (error) {
        g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        return nullptr;
    }
    if (!pipeline)
        return nullptr;

    if (m_rtsp)
        setUpRtspSource(pipeline);
    else
        setUpHttpSource(pipeline);
    setUpDrawing(pipeline);
    setUpCapture(pipeline);

    GstBus *bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &PipelineHooks::onBusMessage, this, nullptr);
    gst_object_unref(bus);
    return pipeline;
}

std::string PreviewSession::httpSourceDescription() const
{
    // Frames queue as JPEG, so that the ones dropped were never decoded.
    return "souphttpsrc name=src is-live=true timeout=5 ! "
           "multipartdemux single-stream=true ! "
           "queue name=frames max-size-buffers=2 max-size-bytes=0 "
           "max-size-time=0 leaky=downstream ! "
           "jpegdec name=decoded";
}

std::string PreviewSession::rtspSourceDescription() const
{
    // Coded frames depend on the ones before them, so frames are dropped
    // only once decoded. The jitter buffer drops what is older than its
    // depth instead of holding it.
    return "rtspsrc name=src drop-on-latency=true do-retransmission=false ! "
           "decodebin name=decoder ! "
           "queue name=decoded max-size-buffers=2 max-size-bytes=0 "
           "max-size-time=0 leaky=downstream";
}

std::string PreviewSession::drawingDescription() const
{
    // The picture is scaled to the window in the decoder's own YUV and only
    // then converted for the X server: converting a 1920x1080 frame before
    // shrinking it into a preview of about 600x400 cost twice the decoding.
    // The filter holds the size PictureFit picks; the sink paints the borders.
    // The sink's own event handling would select keys and pointer motion on
    // the child, which then swallows the keys typed with the pointer over the
    // video; the SDK thread forwards exposures and resizes to it instead.
    if (!m_window)
        return "videoscale ! videoconvert ! fakesink name=sink sync=false";
    return "videoscale name=scale add-borders=false ! videoconvert ! capsfilter name=fit ! "
           "ximagesink name=sink sync=false handle-events=false";
}

void PreviewSession::setUpHttpSource(GstElement *pipeline)
{
    GstElement *source = childByName(pipeline, "src");
    g_object_set(source, "location", m_target.url.c_str(), "user-id", m_target.user.c_str(),
                 "user-pw", m_target.password.c_str(), nullptr);
    ReframeProbe::attach(source);
    gst_object_unref(source);

    GstElement *queue = childByName(pipeline, "frames");
    GstPad *queueIn = gst_element_get_static_pad(queue, "sink");
    gst_pad_add_probe(queueIn, GST_PAD_PROBE_TYPE_BUFFER, &PipelineHooks::onReceived, this,
                      nullptr);
    gst_object_unref(queueIn);
    gst_object_unref(queue);
}

void PreviewSession::setUpRtspSource(GstElement *pipeline)
{
    GstElement *source = childByName(pipeline, "src");
    // The credentials answer Digest; Basic only where the guard lets it.
    g_object_set(source, "location", m_target.url.c_str(), "user-id", m_target.user.c_str(),
                 "user-pw", m_target.password.c_str(), "latency", rtspLatencyMs, "timeout",
                 rtspTimeoutUs, "tcp-timeout", rtspTimeoutUs, nullptr);
    using Transport = DeviceProfile::RtspTransport;
    const Transport transport = m_target.rtspTransport;
    gst_util_set_object_arg(G_OBJECT(source), "protocols",
                            transport == Transport::Udp    ? "udp"
                            : transport == Transport::Auto ? "udp+tcp"
                                                           : "tcp");
    // The source itself moves to TCP when UDP is refused or stays silent.
    if (transport == Transport::Auto)
        g_object_set(source, "timeout", rtspUdpSilenceUs, nullptr);
    g_signal_connect(source, "select-stream", G_CALLBACK(&PipelineHooks::onSelectStream), this);
    gst_object_unref(source);

    GstElement *decoder = childByName(pipeline, "decoder");
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(&PipelineHooks::onDecodingElement),
                     this);
    gst_object_unref(decoder);
}

void PreviewSession::setUpDrawing(GstElement *pipeline)
{
    GstElement *sink = childByName(pipeline, "sink");
    GstPad *sinkIn = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(sinkIn, GST_PAD_PROBE_TYPE_BUFFER, &PipelineHooks::onDrawn, this, nullptr);
    gst_object_unref(sinkIn);
    if (m_window) {
        g_object_set(sink, "display", m_displayName.c_str(), nullptr);
        gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), guintptr(m_childId));
        GstElement *scaler = childByName(pipeline, "scale");
        GstElement *filter = childByName(pipeline, "fit");
        m_fit = std::make_unique<PictureFit>(scaler, filter, sink);
        gst_object_unref(filter);
        gst_object_unref(scaler);
    }
    m_sink = sink;
}

void PreviewSession::setUpCapture(GstElement *pipeline)
{
    // Right behind the decoder, before anything scales the picture for the
    // window: the decoder's output over HTTP, the decoded queue's input over
    // RTSP, where decodebin's pad appears only once data flows.
    GstElement *decoded = childByName(pipeline, "decoded");
    GstPad *pad = gst_element_get_static_pad(decoded, m_rtsp ? "sink" : "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &PipelineHooks::onDecoded, this, nullptr);
    gst_object_unref(pad);
    gst_object_unref(decoded);
}

void PreviewSession::play()
{
    if (!m_pipeline)
        return;
    m_watchedFrames = m_framesReceived;
    m_lastProgress = Clock::now();
    // The new pipeline's session is not set up yet.
    m_keepAliveEvery = std::chrono::milliseconds(0);
    m_streaming = false;
    gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
}

void PreviewSession::teardownPipeline()
{
    if (!m_pipeline)
        return;
    // Once in NULL no streaming thread runs, so no probe or bus hook fires again.
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    GstBus *bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    m_fit.reset();
    if (m_sink)
        gst_object_unref(m_sink);
    m_sink = nullptr;
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;

    std::deque<PendingFrame> frames;
    {
        std::lock_guard<std::mutex> lock(m_framesMutex);
        frames.swap(m_pendingFrames);
    }
    for (const PendingFrame &frame : frames)
        gst_buffer_unref(frame.buffer);
    releaseFreedMemory();
}

void PreviewSession::wake()
{
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost if this fails.
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void PreviewSession::frameReceived(GstBuffer *buffer, uint32_t dataType)
{
    ++m_framesReceived;
    if (!m_target.callback || !buffer)
        return;
    {
        std::lock_guard<std::mutex> lock(m_framesMutex);
        if (m_pendingFrames.size() >= maxPendingFrames)
            return;
        m_pendingFrames.push_back({gst_buffer_ref(buffer), dataType});
    }
    wake();
}

void PreviewSession::run()
{
    play();
    updateStatus(false);
    while (!m_stopRequested) {
        int timeout = idlePollMs;
        if (!m_pipeline && m_restartPending) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_restartDue - Clock::now())
                    .count();
            timeout = int(std::max<long long>(0, std::min<long long>(left, idlePollMs)));
        }
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0},
                         {m_window ? m_window->connectionFd() : -1, POLLIN, 0}};
        ::poll(fds, m_window ? 2 : 1, timeout);
        uint64_t count;
        while (::read(m_wakeFd, &count, sizeof count) > 0) {
        }
        if (m_stopRequested)
            break;
        bool exposed = false;
        if (m_window) {
            const ChildWindow::Changes changes = m_window->processEvents();
            exposed = changes.resized || changes.exposed;
            if (exposed)
                redraw(changes.resized);
        }
        handleBusMessages();
        checkStalled();
        keepSessionAlive();
        deliverFrames();
        if (!m_stopRequested && !m_pipeline && m_restartPending && Clock::now() >= m_restartDue) {
            m_restartPending = false;
            // Drawing into a window that no longer exists would only fail again.
            if (m_window && m_window->parentGone())
                m_window.reset();
            m_pipeline = buildPipeline();
            ++m_reconnects;
            m_status.reconnecting(m_reconnects);
            if (m_pipeline) {
                play();
            } else {
                m_restartPending = true;
                m_restartDue =
                    Clock::now() + std::chrono::milliseconds(std::max(
                                       minReconnectIntervalMs, SdkConfig::reconnect().intervalMs));
            }
        }
        updateStatus(exposed);
    }
    shutDown();
}

void PreviewSession::handleBusMessages()
{
    if (!m_pipeline)
        return;
    GstBus *bus = gst_element_get_bus(m_pipeline);
    bool ended = false;
    int32_t why = CAMNET_ERR_NONE;
    while (GstMessage *message = gst_bus_pop(bus)) {
        // The camera hanging up shows as end-of-stream, not as an error.
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            ended = true;
            why = why ? why : CAMNET_ERR_CONNECTION_FAILED;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError *error = nullptr;
            gchar *debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            if (!ended || why == CAMNET_ERR_CONNECTION_FAILED)
                why = startErrorOf(error, debug);
            ended = true;
            g_clear_error(&error);
            g_free(debug);
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    if (!ended)
        return;
    // A stream that never played is not reconnected: RealPlay reports why.
    if (decideStart(why))
        teardownPipeline();
    else
        endStream();
}

void PreviewSession::checkStalled()
{
    if (!m_pipeline)
        return;
    const uint32_t received = m_framesReceived;
    const Clock::time_point now = Clock::now();
    if (received != m_watchedFrames) {
        m_watchedFrames = received;
        m_lastProgress = now;
        // What setting the stream up took and gave back is free by now.
        if (!m_streaming)
            releaseFreedMemory();
        m_streaming = true;
    } else if (m_rtsp && now - m_lastProgress >= (m_streaming ? stalledAfter : silentFromStart)) {
        endStream();
    }
}

void PreviewSession::rtspAnswered(int method, int status)
{
    const bool accepted = status >= 200 && status < 300;
    if (method == GST_RTSP_PLAY && accepted) {
        decideStart(CAMNET_ERR_NONE);
        return;
    }
    if (status == 0)
        return;
    std::lock_guard<std::mutex> lock(m_startMutex);
    // A challenge answered by the next request is no refusal.
    m_refusedStatus = accepted ? 0 : status;
}

void PreviewSession::rtspSessionSetUp(bool overTcp, unsigned timeoutSeconds)
{
    {
        std::lock_guard<std::mutex> lock(m_startMutex);
        m_sessionOverTcp = overTcp;
        m_sessionTimeout = timeoutSeconds;
        m_sessionChanged = true;
    }
    wake();
}

bool PreviewSession::mayFallBackToTcp() const
{
    return m_target.rtspTransport == DeviceProfile::RtspTransport::Auto;
}

void PreviewSession::keepSessionAlive()
{
    if (!m_rtsp || !m_pipeline)
        return;
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(m_startMutex);
        if (m_sessionChanged) {
            m_sessionChanged = false;
            // Half the session's life leaves room for a slow answer; over
            // UDP the source keeps the session alive itself.
            m_keepAliveEvery = m_sessionOverTcp ? std::chrono::milliseconds(m_sessionTimeout * 500)
                                                : std::chrono::milliseconds(0);
            m_keepAliveDue = now + m_keepAliveEvery;
        }
    }
    if (m_keepAliveEvery.count() <= 0 || now < m_keepAliveDue)
        return;
    m_keepAliveDue = now + m_keepAliveEvery;
    // An empty GET_PARAMETER is RTSP's own ping; the source sends it in
    // turn with its other requests, authenticated like them, and its answer
    // is of no interest.
    GstElement *source = childByName(m_pipeline, "src");
    if (!source)
        return;
    gchar *none[] = {nullptr};
    GstPromise *promise = gst_promise_new();
    gboolean queued = FALSE;
    g_signal_emit_by_name(source, "get-parameters", none, nullptr, promise, &queued);
    gst_promise_unref(promise);
    gst_object_unref(source);
}

const char *PreviewSession::presetAuthorization() const
{
    return m_target.presetAuthorization.empty() ? nullptr : m_target.presetAuthorization.c_str();
}

bool PreviewSession::decideStart(int32_t error)
{
    {
        std::lock_guard<std::mutex> lock(m_startMutex);
        if (m_startDecided)
            return false;
        m_startDecided = true;
        m_startError = error;
    }
    m_startChanged.notify_all();
    return true;
}

int32_t PreviewSession::startErrorOf(const GError *error, const char *debug)
{
    int refused;
    {
        std::lock_guard<std::mutex> lock(m_startMutex);
        refused = m_refusedStatus;
    }
    // The camera's own answer first: a refused transport, SETUP or PLAY
    // means the channel cannot be streamed this way.
    if (refused == 401 || refused == 403)
        return CAMNET_ERR_AUTHENTICATION_FAILED;
    if (refused >= 300)
        return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    if (error && error->domain == GST_RESOURCE_ERROR) {
        if (error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED)
            return CAMNET_ERR_AUTHENTICATION_FAILED;
        if (error->code == GST_RESOURCE_ERROR_NOT_FOUND)
            return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    }
    // Otherwise only the source's words tell a silent camera from one whose
    // answer could not be read.
    const std::string text = std::string(error ? error->message : "") + " " + (debug ? debug : "");
    if (text.find("Timeout") != std::string::npos || text.find("timed out") != std::string::npos)
        return CAMNET_ERR_TIMED_OUT;
    if (text.find("Could not connect") != std::string::npos)
        return CAMNET_ERR_CONNECTION_FAILED;
    return CAMNET_ERR_PROTOCOL;
}

int32_t PreviewSession::waitUntilPlaying(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_startMutex);
    if (!m_startChanged.wait_until(lock, deadline, [this] { return m_startDecided; })) {
        m_startDecided = true;
        m_startError = CAMNET_ERR_TIMED_OUT;
    }
    return m_startError;
}

void PreviewSession::endStream()
{
    teardownPipeline();
    m_status.ended(m_framesDrawn);
    const SdkConfig::ReconnectPolicy policy = SdkConfig::reconnect();
    m_restartPending = policy.enabled;
    m_restartDue = Clock::now() +
                   std::chrono::milliseconds(std::max(minReconnectIntervalMs, policy.intervalMs));
}

void PreviewSession::deliverFrames()
{
    std::deque<PendingFrame> frames;
    {
        std::lock_guard<std::mutex> lock(m_framesMutex);
        frames.swap(m_pendingFrames);
    }
    for (const PendingFrame &frame : frames) {
        GstMapInfo map;
        if (gst_buffer_map(frame.buffer, &map, GST_MAP_READ)) {
            if (callbackMayBegin())
                m_target.callback(m_target.handle, frame.dataType, map.data, uint32_t(map.size),
                                  m_target.context);
            gst_buffer_unmap(frame.buffer, &map);
        }
        gst_buffer_unref(frame.buffer);
    }
}

bool PreviewSession::callbackMayBegin()
{
    // Decided under the stop's own lock, with nothing left to do but the
    // call: a callback is either under way when the stop is requested, and
    // then waited for within the stop's bound, or it never begins.
    std::lock_guard<std::mutex> lock(m_stopMutex);
    return !m_stopRequested;
}

void PreviewSession::redraw(bool resized)
{
    if (!m_sink)
        return;
    // The sink reads the window's size again and redraws its last frame.
    gst_video_overlay_expose(GST_VIDEO_OVERLAY(m_sink));
    if (!resized)
        return;
    if (m_fit)
        m_fit->windowResized();
    // Lets the scaler negotiate frames of the new size.
    GstPad *pad = gst_element_get_static_pad(m_sink, "sink");
    gst_pad_push_event(pad, gst_event_new_reconfigure());
    gst_object_unref(pad);
}

void PreviewSession::updateStatus(bool exposed)
{
    if (!m_window)
        return;
    const uint32_t drawn = m_framesDrawn;
    m_status.framesDrawn(drawn);
    const std::string text = m_status.text();
    if (text.empty()) {
        m_window->clearStatus();
        return;
    }
    if (text == m_window->status() && !exposed)
        return;
    m_window->showStatus(text);
    // The sink draws on a connection of its own: a frame that came meanwhile
    // may lie under the text, and the sink draws it again.
    if (m_framesDrawn != drawn) {
        m_status.framesDrawn(m_framesDrawn);
        m_window->clearStatus();
        redraw(false);
    }
}

void PreviewSession::shutDown()
{
    teardownPipeline();
    m_pictures.clear();
    m_window.reset();
    {
        std::lock_guard<std::mutex> lock(m_doneMutex);
        m_done = true;
    }
    m_doneChanged.notify_all();
}

void PreviewSession::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stopRequested = true;
    }
    if (m_wakeFd >= 0)
        wake();
}

void PreviewSession::finishStop(Clock::time_point deadline)
{
    requestStop();
    std::unique_lock<std::mutex> lock(m_doneMutex);
    if (m_stopFinished || !m_thread.joinable())
        return;
    m_stopFinished = true;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Stopped from its own callback: tear down here, the loop then ends.
        lock.unlock();
        shutDown();
        return;
    }
    const bool done = m_doneChanged.wait_until(lock, deadline, [this] { return m_done; });
    lock.unlock();
    if (done) {
        m_thread.join();
        return;
    }
    // The thread is stuck inside GStreamer; it finishes on its own, holding
    // a reference, but the window must not outlive this call.
    m_thread.detach();
    if (m_childId)
        ChildWindow::destroyFromElsewhere(m_displayName, m_target.window, m_childId);
}

CamNet_PreviewStats PreviewSession::stats() const
{
    CamNet_PreviewStats stats{};
    // Drawn first: a frame counted as drawn has been counted as received
    // before, so the two read together never show more drawn than received.
    stats.framesDrawn = m_framesDrawn;
    stats.framesReceived = m_framesReceived;
    stats.reconnects = m_reconnects;
    return stats;
}
