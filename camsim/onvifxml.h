#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QVector>

// The XML the simulated camera answers ONVIF calls and WS-Discovery probes
// with: SOAP 1.2 envelopes, faults, and the device, media, media2 and thermal
// replies, as functions of a description of the camera alone.
namespace OnvifXml {

namespace Ns {
constexpr const char *device = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char *media = "http://www.onvif.org/ver10/media/wsdl";
constexpr const char *media2 = "http://www.onvif.org/ver20/media/wsdl";
constexpr const char *thermal = "http://www.onvif.org/ver10/thermal/wsdl";
constexpr const char *schema = "http://www.onvif.org/ver10/schema";
constexpr const char *network = "http://www.onvif.org/ver10/network/wsdl";
constexpr const char *wsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char *wsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char *addressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char *discovery = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
} // namespace Ns

// One video source and the one profile that streams it.
struct Source
{
    QByteArray token;
    QByteArray profileToken;
    QByteArray sourceConfigToken;
    QByteArray encoderConfigToken;
    QSize size;
    int channel; // of camsim's RTSP server
};

struct Camera
{
    QVector<Source> sources;
    QByteArray encoding; // H264, H265 or JPEG
    int fps = 25;
    bool thermal = true; // a Thermal service, naming sources[0]
    bool media2 = true;
    bool tokenAuth = true;
    bool digestAuth = true;
    QByteArray baseUrl; // http://host:port, where the services are
};

struct Fault
{
    unsigned status;        // HTTP
    const char *code;       // env:Sender, env:Receiver, env:VersionMismatch
    const char *subcode;    // ter:..., or null
    const char *subsubcode; // ter:..., or null
    QString reason;
};

QByteArray envelope(const QByteArray &body);
QByteArray fault(const Fault &f);

QByteArray systemDateAndTime(const QDateTime &utc);
QByteArray services(const Camera &camera, bool includeCapability);
QByteArray capabilities(const Camera &camera, bool device, bool media);
QByteArray deviceInformation();
QByteArray scopes(const QList<QByteArray> &items);
QByteArray serviceCapabilities(const Camera &camera, const char *ns);

QByteArray profiles(const Camera &camera);
QByteArray videoSources(const Camera &camera);
QByteArray streamUri(const char *ns, const QByteArray &uri);
// Media2 profiles: all, or the one token names; configurations of the kinds given.
QByteArray profiles2(const Camera &camera, const QByteArray &token, bool videoSource,
                     bool videoEncoder);
QByteArray thermalConfigurations(const Camera &camera);
QByteArray thermalConfiguration();

QByteArray probeMatches(const QByteArray &relatesTo, const QByteArray &endpoint,
                        const QList<QByteArray> &scopeItems, const QByteArray &xaddr,
                        quint64 instanceId, quint64 messageNumber);

} // namespace OnvifXml
