#pragma once

#include "camrequest.h"
#include "camstate.h"
#include "digestauth.h"
#include "onvifxml.h"
#include "usernametokenauth.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSize>

#include <atomic>
#include <cstdint>

class SoapMessage;

// The simulated camera's ONVIF side on its HTTP port: the device service at
// /onvif/device_service and the media, media2 and thermal services it
// advertises, their authentication (HTTP Digest with the camera's own
// challenge, WS-Security UsernameToken against its own clock, or either), and
// the faults a camera answers with. Two video sources, listed thermal first
// under tokens that say nothing of order or modality; their stream URIs name
// camsim's RTSP server on the host the request was addressed to.
class OnvifService
{
public:
    enum class AuthMode
    {
        Digest,
        Token,
        Both,
    };

    struct Options
    {
        AuthMode auth = AuthMode::Both;
        int clockOffset = 0; // seconds the camera's clock is ahead
        bool thermal = true;
        bool media2 = true;
        bool badAddress = false; // addresses name 0.0.0.0
        uint16_t rtspPort = 0;   // 0: no RTSP server runs
        QByteArray encoding = "H264";
        int fps = 25;
        QSize visibleSize{640, 480};
        QSize thermalSize{640, 480};
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray body;
        QByteArray hostHeader;    // as sent; may be empty
        QByteArray authorization; // as sent; may be empty
        QByteArray localHost;     // the address the connection came in on
    };

    struct Reply
    {
        CamRequest::Reply http;
        QByteArray challenge; // WWW-Authenticate, for a 401
        QByteArray service = "-";
        QByteArray operation = "-";
        QByteArray auth = "none";
    };

    static bool parseAuthMode(const QByteArray &name, AuthMode *mode);

    OnvifService(CamState &state, DigestAuth &digest, const QByteArray &user,
                 const QByteArray &password, const Options &options);

    // The HTTP port the services are reached on, once it is bound.
    void setHttpPort(uint16_t port) { m_httpPort = port; }

    Reply answer(const Request &request);

    // The camera's clock: the machine's, off by the offset asked for.
    QDateTime now() const;
    QByteArray endpoint() const { return m_endpoint; }
    QList<QByteArray> scopeItems() const;
    // The device service's address as reached through host (an address, with
    // brackets when IPv6).
    QByteArray deviceXAddr(const QByteArray &host) const;

private:
    enum class Service
    {
        Unknown,
        Device,
        Media,
        Media2,
        Thermal,
    };

    Service serviceAt(const QByteArray &path, Reply *reply) const;
    bool authenticate(const Request &request, const SoapMessage &message, Reply *reply);
    QByteArray hostFor(const Request &request) const;
    OnvifXml::Camera camera(const QByteArray &host) const;
    const OnvifXml::Source *profile(const QByteArray &token) const;
    QByteArray streamUri(const QByteArray &host, const OnvifXml::Source &source) const;
    Reply dispatch(Service service, const SoapMessage &message, const QByteArray &host) const;
    Reply device(const SoapMessage &message, const QByteArray &host) const;
    Reply media(const SoapMessage &message, const QByteArray &host) const;
    Reply media2(const SoapMessage &message, const QByteArray &host) const;
    Reply thermal(const SoapMessage &message, const QByteArray &host) const;

    CamState &m_state;
    DigestAuth &m_digest;
    UsernameTokenAuth m_tokens;
    const Options m_options;
    std::atomic<uint16_t> m_httpPort{0};
    QByteArray m_endpoint;
    QVector<OnvifXml::Source> m_sources;
};
