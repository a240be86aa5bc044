#pragma once

#include "camrequest.h"
#include "camstate.h"
#include "digestauth.h"
#include "onvifservice.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <sys/socket.h>
#include <sys/types.h>

#include <microhttpd.h>

// The simulated camera's HTTP transport: connections and their limits, Digest
// authentication, request bodies and their bound, the delay and drop faults,
// and MJPEG streaming; what each request is answered comes from CamRequest.
class CamServer
{
public:
    // How the parts of an MJPEG stream are framed; cameras differ here.
    enum class MjpegShape
    {
        Standard, // Content-Length, and the CR LF right after the JPEG
        NoLength, // no Content-Length: only the next boundary ends a part
        LateCrlf, // the CR LF after the JPEG goes out with the next boundary
    };

    struct Options
    {
        QString listen = QStringLiteral("127.0.0.1");
        uint16_t port = 8000;
        QString user = QStringLiteral("admin");
        QString password = QStringLiteral("camsim12345");
        unsigned nonceTimeout = 300;
        int fps = 25;
        unsigned connectionLimit = 64;
        unsigned idleTimeout = 15; // seconds
        MjpegShape mjpegShape = MjpegShape::Standard;
        QSize visibleSize{640, 480}; // channel 1
        QSize thermalSize{640, 480}; // channel 2
        OnvifService::Options onvif;
    };

    static constexpr size_t maxBodyBytes = 64 * 1024;

    CamServer(CamState &state, const Options &options);
    ~CamServer();
    CamServer(const CamServer &) = delete;
    CamServer &operator=(const CamServer &) = delete;

    bool start(QString *error);
    void stop();
    uint16_t boundPort() const;
    const OnvifService &onvif() const { return m_onvif; }

private:
    static MHD_Result onRequest(void *cls, MHD_Connection *connection, const char *url,
                                const char *method, const char *version, const char *uploadData,
                                size_t *uploadDataSize, void **context);
    static void onCompleted(void *cls, MHD_Connection *connection, void **context,
                            MHD_RequestTerminationCode toe);
    static MHD_Result onAccept(void *cls, const sockaddr *addr, socklen_t addrlen);
    static void onConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode toe);

    MHD_Result handle(MHD_Connection *connection, const QByteArray &url, const QByteArray &method,
                      const QByteArray &body, bool tooLarge);
    bool authenticate(MHD_Connection *connection, const QByteArray &method, const QByteArray &url,
                      MHD_Result *queued);
    MHD_Result onvif(MHD_Connection *connection, const QByteArray &url, const QByteArray &method,
                     const QByteArray &body);
    void delay(int ms) const;
    MHD_Result stream(MHD_Connection *connection, int channel);
    static ssize_t readStream(void *cls, uint64_t pos, char *buf, size_t max);
    MHD_Result send(MHD_Connection *connection, const CamRequest::Reply &reply, bool dropHalfway,
                    const QByteArray &challenge = QByteArray());

    CamState &m_state;
    Options m_options;
    MHD_Daemon *m_daemon = nullptr;
    std::atomic<bool> m_stopping{false};
    std::atomic<unsigned> m_connections{0};
    DigestAuth m_auth;
    OnvifService m_onvif;
};
