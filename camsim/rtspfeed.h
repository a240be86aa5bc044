#pragma once

#include "camstate.h"
#include "renderthread.h"

#include <QSize>

#include <chrono>
#include <memory>

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

// The pictures of one RTSP viewer: each viewer has a pipeline of its own, so
// that its encoder starts on a key frame, and this feed hands the channel's
// scene, drawn by the render thread with the calibration as it is at that
// moment, to that pipeline's live appsrc at the frame rate, paced on the
// pipeline's own streaming thread. While the stream is stalled it sends
// nothing and keeps the connection. It lives as long as the media it feeds.
class RtspFeed
{
public:
    // Feeds the appsrc named "src" in media's pipeline; false when there is none.
    static bool attach(GstRTSPMedia *media, CamState &state,
                       const std::shared_ptr<RenderThread> &renderer, int channel,
                       const QSize &size, int fps);
    ~RtspFeed();
    RtspFeed(const RtspFeed &) = delete;
    RtspFeed &operator=(const RtspFeed &) = delete;

private:
    RtspFeed(CamState &state, const std::shared_ptr<RenderThread> &renderer, GstElement *appsrc,
             int channel, const QSize &size, int fps);
    static void onNeedData(GstElement *appsrc, guint length, gpointer self);
    void feed();
    // Whether the pipeline is stopping, so that no wait here holds it up.
    bool flushing() const;
    // Waits until the monotonic clock reaches due; false when stopped first.
    bool waitUntil(std::chrono::steady_clock::time_point due) const;

    CamState &m_state;
    // Shared, since a media may be let go of only after the server is gone.
    const std::shared_ptr<RenderThread> m_renderer;
    GstElement *m_appsrc;
    GstPad *m_pad;
    const int m_channel;
    const QSize m_size;
    const std::chrono::microseconds m_period;
    std::chrono::steady_clock::time_point m_due;
    quint64 m_frame = 0;
};
