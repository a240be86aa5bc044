#include "rtspfeed.h"

#include <QImage>
#include <QString>

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <thread>

namespace {

const char feedKey[] = "camsim-feed";

// Short enough that a pipeline being stopped never waits long for a feed.
constexpr std::chrono::milliseconds step(20);

void releaseImage(gpointer image)
{
    delete static_cast<QImage *>(image);
}

} // namespace

bool RtspFeed::attach(GstRTSPMedia *media, CamState &state,
                      const std::shared_ptr<RenderThread> &renderer, int channel, const QSize &size,
                      int fps)
{
    GstElement *bin = gst_rtsp_media_get_element(media);
    GstElement *appsrc = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
    gst_object_unref(bin);
    if (!appsrc)
        return false;
    auto *feed = new RtspFeed(state, renderer, appsrc, channel, size, fps);
    gst_object_unref(appsrc);
    g_object_set_data_full(G_OBJECT(media), feedKey, feed,
                           [](gpointer p) { delete static_cast<RtspFeed *>(p); });
    return true;
}

RtspFeed::RtspFeed(CamState &state, const std::shared_ptr<RenderThread> &renderer,
                   GstElement *appsrc, int channel, const QSize &size, int fps)
    : m_state(state), m_renderer(renderer), m_appsrc(GST_ELEMENT(gst_object_ref(appsrc))),
      m_pad(gst_element_get_static_pad(appsrc, "src")), m_channel(channel), m_size(size),
      m_period(1000000 / std::max(1, fps)), m_due(std::chrono::steady_clock::now())
{
    GstCaps *caps = gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, size.width(), "height",
        G_TYPE_INT, size.height(), "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    // Live: the running time when a frame is drawn is its timestamp, as with
    // a camera's sensor, and nothing is drawn ahead of the clock.
    g_object_set(appsrc, "caps", caps, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp",
                 TRUE, "max-buffers", guint64(1), nullptr);
    gst_caps_unref(caps);
    g_signal_connect(appsrc, "need-data", G_CALLBACK(&RtspFeed::onNeedData), this);
}

RtspFeed::~RtspFeed()
{
    g_signal_handlers_disconnect_by_data(m_appsrc, this);
    gst_object_unref(m_pad);
    gst_object_unref(m_appsrc);
}

void RtspFeed::onNeedData(GstElement *, guint, gpointer self)
{
    static_cast<RtspFeed *>(self)->feed();
}

void RtspFeed::feed()
{
    if (!waitUntil(m_due))
        return;
    while (m_state.faults().stallStream) {
        if (!waitUntil(std::chrono::steady_clock::now() + step))
            return;
    }
    const auto now = std::chrono::steady_clock::now();
    // After a stall the rate starts over from now instead of catching up
    // with a burst of frames.
    m_due = now - m_due > m_period ? now + m_period : m_due + m_period;
    const QImage drawn = m_renderer->render(m_channel, m_state.view(), ++m_frame, m_size);
    if (drawn.isNull())
        return; // RTSP is stopping; so is this pipeline
    auto *image = new QImage(drawn);
    const gsize bytes = gsize(image->sizeInBytes());
    GstBuffer *buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
                                                    const_cast<uchar *>(image->constBits()), bytes,
                                                    0, bytes, image, &releaseImage);
    GST_BUFFER_DURATION(buffer) = GST_USECOND * guint64(m_period.count());
    m_state.countRequest(QStringLiteral("framesRendered"));
    gst_app_src_push_buffer(GST_APP_SRC(m_appsrc), buffer);
}

bool RtspFeed::flushing() const
{
    GST_OBJECT_LOCK(m_pad);
    const bool flushing = GST_PAD_IS_FLUSHING(m_pad);
    GST_OBJECT_UNLOCK(m_pad);
    return flushing;
}

bool RtspFeed::waitUntil(std::chrono::steady_clock::time_point due) const
{
    for (;;) {
        if (flushing())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, step));
    }
}
