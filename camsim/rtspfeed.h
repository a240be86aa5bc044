#pragma once

#include "camstate.h"

#include <QSize>

#include <chrono>

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

// The pictures of one RTSP viewer: each viewer has a pipeline of its own, so
// that its encoder starts on a key frame, and this feed draws the channel's
// scene into that pipeline's live appsrc at the frame rate, on the pipeline's
// own streaming thread, with the calibration as it is at that moment. While
// the stream is stalled it sends nothing and keeps the connection. It lives
// as long as the media it feeds.
class RtspFeed
{
public:
    // Feeds the appsrc named "src" in media's pipeline; false when there is none.
    static bool attach(GstRTSPMedia *media, CamState &state, int channel, const QSize &size,
                       int fps);
    ~RtspFeed();
    RtspFeed(const RtspFeed &) = delete;
    RtspFeed &operator=(const RtspFeed &) = delete;

private:
    RtspFeed(CamState &state, GstElement *appsrc, int channel, const QSize &size, int fps);
    static void onNeedData(GstElement *appsrc, guint length, gpointer self);
    void feed();
    // Whether the pipeline is stopping, so that no wait here holds it up.
    bool flushing() const;
    // Waits until the monotonic clock reaches due; false when stopped first.
    bool waitUntil(std::chrono::steady_clock::time_point due) const;

    CamState &m_state;
    GstElement *m_appsrc;
    GstPad *m_pad;
    const int m_channel;
    const QSize m_size;
    const std::chrono::microseconds m_period;
    std::chrono::steady_clock::time_point m_due;
    quint64 m_frame = 0;
};
