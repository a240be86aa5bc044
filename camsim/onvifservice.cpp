#include "onvifservice.h"

#include "soapmessage.h"

#include <QRandomGenerator>
#include <QUuid>

#include <cctype>
#include <cstring>

namespace {

using OnvifXml::Fault;
namespace Ns = OnvifXml::Ns;

const char *const soapContentType = "application/soap+xml; charset=utf-8";

QByteArray opaqueToken(const char *kind)
{
    return QByteArray(kind) + "-" +
           QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
}

OnvifService::Reply soapReply(unsigned status, const QByteArray &envelope)
{
    OnvifService::Reply reply;
    reply.http.status = status;
    reply.http.contentType = soapContentType;
    reply.http.body = envelope;
    return reply;
}

OnvifService::Reply ok(const QByteArray &body)
{
    return soapReply(200, OnvifXml::envelope(body));
}

OnvifService::Reply fail(const Fault &f)
{
    return soapReply(f.status, OnvifXml::fault(f));
}

OnvifService::Reply malformed(const SoapMessage &message)
{
    if (message.problem() == SoapMessage::Problem::VersionMismatch)
        return fail({500, "env:VersionMismatch", nullptr, nullptr,
                     QStringLiteral("only SOAP 1.2 envelopes are understood")});
    return fail({400, "env:Sender", "ter:WellFormed", nullptr,
                 QStringLiteral("not a well-formed SOAP envelope")});
}

OnvifService::Reply notSupported(const SoapMessage &message)
{
    return fail({500, "env:Receiver", "ter:ActionNotSupported", nullptr,
                 QStringLiteral("%1 is not implemented here").arg(QString(message.operation()))});
}

OnvifService::Reply noProfile(const QByteArray &token)
{
    return fail({400, "env:Sender", "ter:InvalidArgVal", "ter:NoProfile",
                 QStringLiteral("no profile %1").arg(QString::fromUtf8(token))});
}

OnvifService::Reply badStreamSetup(const QString &why)
{
    return fail({400, "env:Sender", "ter:InvalidArgVal", "ter:InvalidStreamSetup", why});
}

// What anybody may ask without credentials, so that a client can learn the
// camera's clock and services before it signs anything.
bool isPreAuth(const QByteArray &ns, const QByteArray &operation)
{
    static const char *const deviceOps[] = {"GetSystemDateAndTime", "GetServices",
                                            "GetCapabilities",      "GetWsdlUrl",
                                            "GetHostname",          "GetEndpointReference"};
    if (operation == "GetServiceCapabilities")
        return true;
    if (ns != Ns::device)
        return false;
    for (const char *op : deviceOps) {
        if (operation == op)
            return true;
    }
    return false;
}

// The host part of a Host header, brackets kept; empty when it is not a plain
// name or address (so that nothing odd reaches the URIs built from it).
QByteArray hostPart(const QByteArray &header)
{
    QByteArray host = header.trimmed();
    if (host.startsWith('[')) {
        const int close = host.indexOf(']');
        host = close < 0 ? QByteArray() : host.left(close + 1);
    } else if (host.count(':') == 1) {
        host = host.left(host.indexOf(':'));
    }
    for (char c : host) {
        if (!std::isalnum(uchar(c)) && !std::strchr(".-:[]", c))
            return QByteArray();
    }
    return host;
}

const char *refusal(UsernameTokenAuth::Verdict verdict)
{
    switch (verdict) {
    case UsernameTokenAuth::Verdict::Expired:
        return "the token's Created time is outside the camera clock's window";
    case UsernameTokenAuth::Verdict::Replayed:
        return "the token's nonce was used before";
    default:
        return "sender not authorized";
    }
}

} // namespace

bool OnvifService::parseAuthMode(const QByteArray &name, AuthMode *mode)
{
    if (name == "digest")
        *mode = AuthMode::Digest;
    else if (name == "token")
        *mode = AuthMode::Token;
    else if (name == "both")
        *mode = AuthMode::Both;
    else
        return false;
    return true;
}

OnvifService::OnvifService(CamState &state, DigestAuth &digest, const QByteArray &user,
                           const QByteArray &password, const Options &options)
    : m_state(state), m_digest(digest), m_tokens(user, password), m_options(options),
      m_endpoint("urn:uuid:" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces))
{
    // The thermal source comes first, channel 2 of the RTSP server.
    const int channels[] = {2, 1};
    for (int channel : channels)
        m_sources.append({opaqueToken("vs"), opaqueToken("pf"), opaqueToken("vsc"),
                          opaqueToken("vec"),
                          channel == 2 ? options.thermalSize : options.visibleSize, channel});
}

QDateTime OnvifService::now() const
{
    return QDateTime::currentDateTimeUtc().addSecs(m_options.clockOffset);
}

QList<QByteArray> OnvifService::scopeItems() const
{
    return {"onvif://www.onvif.org/Profile/Streaming", "onvif://www.onvif.org/type/video_encoder",
            "onvif://www.onvif.org/hardware/CAMSIM-DUAL", "onvif://www.onvif.org/name/camsim"};
}

QByteArray OnvifService::deviceXAddr(const QByteArray &host) const
{
    return camera(host).baseUrl + "/onvif/device_service";
}

QByteArray OnvifService::hostFor(const Request &request) const
{
    if (m_options.badAddress)
        return "0.0.0.0";
    const QByteArray host = hostPart(request.hostHeader);
    return host.isEmpty() ? request.localHost : host;
}

OnvifXml::Camera OnvifService::camera(const QByteArray &host) const
{
    OnvifXml::Camera c;
    c.sources = m_sources;
    c.encoding = m_options.encoding;
    c.fps = m_options.fps;
    c.thermal = m_options.thermal;
    c.media2 = m_options.media2;
    c.tokenAuth = m_options.auth != AuthMode::Digest;
    c.digestAuth = m_options.auth != AuthMode::Token;
    c.baseUrl = "http://" + (m_options.badAddress ? QByteArray("0.0.0.0") : host) + ":" +
                QByteArray::number(m_httpPort.load());
    return c;
}

const OnvifXml::Source *OnvifService::profile(const QByteArray &token) const
{
    for (const OnvifXml::Source &s : m_sources) {
        if (s.profileToken == token)
            return &s;
    }
    return nullptr;
}

QByteArray OnvifService::streamUri(const QByteArray &host, const OnvifXml::Source &source) const
{
    return "rtsp://" + host + ":" + QByteArray::number(m_options.rtspPort) + "/channels/" +
           QByteArray::number(source.channel);
}

OnvifService::Service OnvifService::serviceAt(const QByteArray &path, Reply *reply) const
{
    struct Entry
    {
        const char *path;
        Service service;
        const char *name;
        bool offered;
    };
    const Entry entries[] = {
        {"/onvif/device_service", Service::Device, "device", true},
        {"/onvif/media_service", Service::Media, "media", true},
        {"/onvif/media2_service", Service::Media2, "media2", m_options.media2},
        {"/onvif/thermal_service", Service::Thermal, "thermal", m_options.thermal},
    };
    for (const Entry &e : entries) {
        if (path == e.path) {
            reply->service = e.name;
            return e.offered ? e.service : Service::Unknown;
        }
    }
    return Service::Unknown;
}

OnvifService::Reply OnvifService::answer(const Request &request)
{
    m_state.countRequest(QStringLiteral("onvif"));
    Reply named;
    const Service service = serviceAt(request.path, &named);
    const SoapMessage message(request.body);
    if (message.problem() == SoapMessage::Problem::None)
        named.operation = message.operation();
    Reply reply;
    const bool parsed = message.problem() == SoapMessage::Problem::None;
    if (service == Service::Unknown) {
        reply.http = {404, "text/plain", "no such service\n", 0};
    } else if (request.method != "POST") {
        reply.http = {405, "text/plain", "SOAP calls are POSTed\n", 0};
    } else if ((parsed && isPreAuth(message.operationNs(), message.operation())) ||
               (!parsed && m_options.auth == AuthMode::Token) ||
               authenticate(request, message, &reply)) {
        // What is not an envelope is refused only to a client that could sign
        // it: one that means Digest may send an empty body to be challenged.
        const QByteArray auth = reply.auth;
        reply = parsed ? dispatch(service, message, hostFor(request)) : malformed(message);
        reply.auth = auth;
    } else {
        m_state.countRequest(QStringLiteral("unauthorized"));
    }
    reply.service = named.service;
    reply.operation = named.operation;
    return reply;
}

bool OnvifService::authenticate(const Request &request, const SoapMessage &message, Reply *reply)
{
    const bool tokens = m_options.auth != AuthMode::Digest;
    const bool digests = m_options.auth != AuthMode::Token;
    const bool refuseAll = m_state.faults().refuseLogin;
    const Fault notAuthorized{400, "env:Sender", "ter:NotAuthorized", nullptr,
                              QStringLiteral("sender not authorized")};
    if (tokens && !message.headerText(Ns::wsse, "UsernameToken").isNull()) {
        const UsernameTokenAuth::Token token{
            message.headerText(Ns::wsse, "Username"),
            message.headerText(Ns::wsse, "Password"),
            message.headerAttribute(Ns::wsse, "Password", "Type"),
            message.headerText(Ns::wsse, "Nonce"),
            message.headerAttribute(Ns::wsse, "Nonce", "EncodingType"),
            message.headerText(Ns::wsu, "Created")};
        const auto verdict =
            refuseAll ? UsernameTokenAuth::Verdict::Denied : m_tokens.check(token, now());
        if (verdict == UsernameTokenAuth::Verdict::Accepted) {
            reply->auth = "token";
            return true;
        }
        if (verdict == UsernameTokenAuth::Verdict::Denied)
            m_state.countRequest(QStringLiteral("badCredentials"));
        *reply = fail({400, "env:Sender", "ter:NotAuthorized", nullptr,
                       QString::fromLatin1(refusal(verdict))});
        return false;
    }
    if (!digests) {
        *reply = fail(notAuthorized);
        return false;
    }
    DigestAuth::Verdict verdict = DigestAuth::Verdict::Denied;
    if (!refuseAll && !request.authorization.isEmpty())
        verdict = m_digest.check(request.method, request.path, request.authorization);
    if (verdict == DigestAuth::Verdict::Accepted) {
        reply->auth = "digest";
        return true;
    }
    if (verdict == DigestAuth::Verdict::Denied && !request.authorization.isEmpty())
        m_state.countRequest(QStringLiteral("badCredentials"));
    // Without credentials a client is taken to want Digest, so it is
    // challenged rather than refused.
    *reply = fail(notAuthorized);
    reply->http.status = 401;
    reply->challenge = m_digest.challenge(verdict == DigestAuth::Verdict::Stale);
    return false;
}

OnvifService::Reply OnvifService::dispatch(Service service, const SoapMessage &message,
                                           const QByteArray &host) const
{
    switch (service) {
    case Service::Device:
        return device(message, host);
    case Service::Media:
        return media(message, host);
    case Service::Media2:
        return media2(message, host);
    default:
        return thermal(message, host);
    }
}

OnvifService::Reply OnvifService::device(const SoapMessage &message, const QByteArray &host) const
{
    const QByteArray op = message.operation();
    const OnvifXml::Camera c = camera(host);
    if (message.operationNs() != Ns::device)
        return notSupported(message);
    if (op == "GetSystemDateAndTime")
        return ok(OnvifXml::systemDateAndTime(now()));
    if (op == "GetServices") {
        const QByteArray include = message.bodyText(Ns::device, "IncludeCapability");
        return ok(OnvifXml::services(c, include == "true" || include == "1"));
    }
    if (op == "GetCapabilities") {
        bool device = false, media = false;
        QList<QByteArray> categories = message.bodyTexts(Ns::device, "Category");
        if (categories.isEmpty())
            categories.append("All");
        for (const QByteArray &category : categories) {
            device = device || category == "All" || category == "Device";
            media = media || category == "All" || category == "Media";
            if (category != "All" && category != "Device" && category != "Media")
                return fail({500, "env:Receiver", "ter:ActionNotSupported", "ter:NoSuchService",
                             QStringLiteral("no %1 service").arg(QString(category))});
        }
        return ok(OnvifXml::capabilities(c, device, media));
    }
    if (op == "GetDeviceInformation")
        return ok(OnvifXml::deviceInformation());
    if (op == "GetScopes")
        return ok(OnvifXml::scopes(scopeItems()));
    if (op == "GetServiceCapabilities")
        return ok(QByteArray("<tds:GetServiceCapabilitiesResponse>") +
                  OnvifXml::serviceCapabilities(c, Ns::device) +
                  "</tds:GetServiceCapabilitiesResponse>");
    return notSupported(message);
}

OnvifService::Reply OnvifService::media(const SoapMessage &message, const QByteArray &host) const
{
    const QByteArray op = message.operation();
    if (message.operationNs() != Ns::media)
        return notSupported(message);
    if (op == "GetProfiles")
        return ok(OnvifXml::profiles(camera(host)));
    if (op == "GetVideoSources")
        return ok(OnvifXml::videoSources(camera(host)));
    if (op == "GetServiceCapabilities")
        return ok(QByteArray("<trt:GetServiceCapabilitiesResponse>") +
                  OnvifXml::serviceCapabilities(camera(host), Ns::media) +
                  "</trt:GetServiceCapabilitiesResponse>");
    if (op != "GetStreamUri")
        return notSupported(message);
    const QByteArray token = message.bodyText(Ns::media, "ProfileToken");
    const OnvifXml::Source *source = profile(token);
    if (!source)
        return noProfile(token);
    const QByteArray stream = message.bodyText(Ns::schema, "Stream");
    const QByteArray protocol = message.bodyText(Ns::schema, "Protocol");
    if (stream != "RTP-Unicast")
        return badStreamSetup(QStringLiteral("only RTP-Unicast streams are served"));
    if (protocol != "RTSP" && protocol != "UDP" && protocol != "TCP")
        return badStreamSetup(QStringLiteral("RTSP over UDP or TCP only, not over HTTP"));
    if (!m_options.rtspPort)
        return fail({500, "env:Receiver", "ter:ActionNotSupported", nullptr,
                     QStringLiteral("camsim runs without RTSP (start it with --rtsp-codec)")});
    return ok(OnvifXml::streamUri(Ns::media, streamUri(host, *source)));
}

OnvifService::Reply OnvifService::media2(const SoapMessage &message, const QByteArray &host) const
{
    const QByteArray op = message.operation();
    if (message.operationNs() != Ns::media2)
        return notSupported(message);
    if (op == "GetServiceCapabilities")
        return ok(QByteArray("<tr2:GetServiceCapabilitiesResponse>") +
                  OnvifXml::serviceCapabilities(camera(host), Ns::media2) +
                  "</tr2:GetServiceCapabilitiesResponse>");
    if (op == "GetProfiles") {
        const QByteArray token = message.bodyText(Ns::media2, "Token");
        if (!token.isNull() && !profile(token))
            return noProfile(token);
        const QList<QByteArray> types = message.bodyTexts(Ns::media2, "Type");
        const bool all = types.contains("All");
        return ok(OnvifXml::profiles2(camera(host), token, all || types.contains("VideoSource"),
                                      all || types.contains("VideoEncoder")));
    }
    if (op != "GetStreamUri")
        return notSupported(message);
    const QByteArray token = message.bodyText(Ns::media2, "ProfileToken");
    const OnvifXml::Source *source = profile(token);
    if (!source)
        return noProfile(token);
    const QByteArray protocol = message.bodyText(Ns::media2, "Protocol");
    if (protocol != "RtspUnicast" && protocol != "RTSP")
        return badStreamSetup(QStringLiteral("RtspUnicast or RTSP only"));
    if (!m_options.rtspPort)
        return fail({500, "env:Receiver", "ter:ActionNotSupported", nullptr,
                     QStringLiteral("camsim runs without RTSP (start it with --rtsp-codec)")});
    return ok(OnvifXml::streamUri(Ns::media2, streamUri(host, *source)));
}

OnvifService::Reply OnvifService::thermal(const SoapMessage &message, const QByteArray &host) const
{
    const QByteArray op = message.operation();
    if (message.operationNs() != Ns::thermal)
        return notSupported(message);
    if (op == "GetConfigurations")
        return ok(OnvifXml::thermalConfigurations(camera(host)));
    if (op == "GetServiceCapabilities")
        return ok(QByteArray("<tth:GetServiceCapabilitiesResponse>") +
                  OnvifXml::serviceCapabilities(camera(host), Ns::thermal) +
                  "</tth:GetServiceCapabilitiesResponse>");
    if (op != "GetConfiguration")
        return notSupported(message);
    const QByteArray token = message.bodyText(Ns::thermal, "VideoSourceToken");
    if (token != m_sources[0].token)
        return fail(
            {400, "env:Sender", "ter:InvalidArgVal", "ter:NoThermalForSource",
             QStringLiteral("no thermal settings for source %1").arg(QString::fromUtf8(token))});
    return ok("<tth:GetConfigurationResponse>" + OnvifXml::thermalConfiguration() +
              "</tth:GetConfigurationResponse>");
}
