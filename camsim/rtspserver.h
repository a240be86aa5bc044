#pragma once

#include "camstate.h"
#include "renderthread.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <thread>

#include <gst/rtsp-server/rtsp-server.h>

// The simulated camera's RTSP side: rtsp://ADDR:PORT/channels/{1,2} serve the
// same scene as the MJPEG streams, encoded as H.264, H.265 or JPEG, through
// the GStreamer RTSP server library running its own main loop on a thread of
// its own. Digest only, with the camera's account; the stream faults apply as
// on the HTTP side.
class RtspServer
{
public:
    enum class Codec
    {
        H264,
        H265,
        Jpeg,
    };

    struct Options
    {
        QString listen = QStringLiteral("127.0.0.1");
        uint16_t port = 8554; // 0: a free one
        QString user = QStringLiteral("admin");
        QString password = QStringLiteral("camsim12345");
        int fps = 25;
        Codec codec = Codec::H264;
        QSize visibleSize{640, 480}; // channel 1
        QSize thermalSize{640, 480}; // channel 2
        unsigned connectionLimit = 64;
        // Seconds a connection may stay without setting up a stream.
        unsigned idleTimeout = 15;
    };

    // "h264", "h265" or "jpeg"; false for anything else.
    static bool parseCodec(const QByteArray &name, Codec *codec);
    static const char *codecName(Codec codec);

    RtspServer(CamState &state, const Options &options);
    ~RtspServer();
    RtspServer(const RtspServer &) = delete;
    RtspServer &operator=(const RtspServer &) = delete;

    bool start(QString *error);
    // Closes every client connection and ends the main loop; bounded.
    void stop();
    uint16_t boundPort() const { return m_port; }

private:
    QByteArray launchLine() const;
    GstRTSPMediaFactory *factory(int channel);
    void closeClients();
    static void onMediaConfigure(GstRTSPMediaFactory *factory, GstRTSPMedia *media, gpointer self);
    static void onClientConnected(GstRTSPServer *server, GstRTSPClient *client, gpointer self);
    static void onSendMessage(GstRTSPClient *client, GstRTSPContext *ctx, GstRTSPMessage *message,
                              gpointer self);
    static gboolean onTick(gpointer self);
    static gboolean onIdleCheck(gpointer check);

    CamState &m_state;
    Options m_options;
    GMainContext *m_context = nullptr;
    GMainLoop *m_loop = nullptr;
    GstRTSPServer *m_server = nullptr;
    std::thread m_thread;
    std::shared_ptr<RenderThread> m_renderer;
    uint16_t m_port = 0;
};
