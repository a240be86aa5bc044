#include "onvifxml.h"

#include <QUuid>

namespace {

using OnvifXml::Camera;
using OnvifXml::Source;

QByteArray el(const char *name, const QByteArray &content)
{
    return QByteArray("<") + name + ">" + content + "</" + name + ">";
}

QByteArray num(int n)
{
    return QByteArray::number(n);
}

QByteArray escape(const QByteArray &text)
{
    return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
}

QByteArray flag(bool on)
{
    return on ? "true" : "false";
}

QByteArray dateTime(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime h = t.time();
    return el("tt:Time", el("tt:Hour", num(h.hour())) + el("tt:Minute", num(h.minute())) +
                             el("tt:Second", num(h.second()))) +
           el("tt:Date", el("tt:Year", num(d.year())) + el("tt:Month", num(d.month())) +
                             el("tt:Day", num(d.day())));
}

QByteArray resolution(const QSize &size)
{
    return el("tt:Resolution",
              el("tt:Width", num(size.width())) + el("tt:Height", num(size.height())));
}

QByteArray sourceConfiguration(const char *element, const Source &s)
{
    return QByteArray("<") + element + " token=\"" + s.sourceConfigToken + "\">" +
           el("tt:Name", "Source " + s.sourceConfigToken) + el("tt:UseCount", "1") +
           el("tt:SourceToken", s.token) + "<tt:Bounds x=\"0\" y=\"0\" width=\"" +
           num(s.size.width()) + "\" height=\"" + num(s.size.height()) + "\"/></" + element + ">";
}

QByteArray encoderConfiguration(const Camera &c, const Source &s)
{
    // Media's encoding enumeration ends at H.264: an H.265 stream is described
    // by Media2 alone.
    if (c.encoding == "H265")
        return QByteArray();
    return "<tt:VideoEncoderConfiguration token=\"" + s.encoderConfigToken + "\">" +
           el("tt:Name", "Encoder " + s.encoderConfigToken) + el("tt:UseCount", "1") +
           el("tt:Encoding", c.encoding) + resolution(s.size) + el("tt:Quality", "5") +
           el("tt:RateControl", el("tt:FrameRateLimit", num(c.fps)) +
                                    el("tt:EncodingInterval", "1") +
                                    el("tt:BitrateLimit", "4096")) +
           el("tt:SessionTimeout", "PT60S") + "</tt:VideoEncoderConfiguration>";
}

QByteArray encoder2Configuration(const Camera &c, const Source &s)
{
    return "<tr2:VideoEncoder token=\"" + s.encoderConfigToken + "\">" +
           el("tt:Name", "Encoder " + s.encoderConfigToken) + el("tt:UseCount", "1") +
           el("tt:Encoding", c.encoding) + resolution(s.size) +
           "<tt:RateControl ConstantBitRate=\"false\">" + el("tt:FrameRateLimit", num(c.fps)) +
           el("tt:BitrateLimit", "4096") + "</tt:RateControl>" + el("tt:Quality", "5") +
           "</tr2:VideoEncoder>";
}

QByteArray service(const Camera &c, const char *ns, const char *path, const QByteArray &caps,
                   int major, int minor)
{
    return el("tds:Service",
              el("tds:Namespace", ns) + el("tds:XAddr", c.baseUrl + path) +
                  (caps.isNull() ? QByteArray() : el("tds:Capabilities", caps)) +
                  el("tds:Version", el("tt:Major", num(major)) + el("tt:Minor", num(minor))));
}

} // namespace

QByteArray OnvifXml::envelope(const QByteArray &body)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
                      "xmlns:ter=\"http://www.onvif.org/ver10/error\" xmlns:tt=\"") +
           Ns::schema + "\" xmlns:tds=\"" + Ns::device + "\" xmlns:trt=\"" + Ns::media +
           "\" xmlns:tr2=\"" + Ns::media2 + "\" xmlns:tth=\"" + Ns::thermal + "\"><env:Body>" +
           body + "</env:Body></env:Envelope>\n";
}

QByteArray OnvifXml::fault(const Fault &f)
{
    QByteArray sub;
    if (f.subsubcode)
        sub = el("env:Subcode", el("env:Value", f.subsubcode));
    if (f.subcode)
        sub = el("env:Subcode", el("env:Value", f.subcode) + sub);
    return envelope(el("env:Fault", el("env:Code", el("env:Value", f.code) + sub) +
                                        el("env:Reason", "<env:Text xml:lang=\"en\">" +
                                                             f.reason.toHtmlEscaped().toUtf8() +
                                                             "</env:Text>")));
}

QByteArray OnvifXml::systemDateAndTime(const QDateTime &utc)
{
    return el("tds:GetSystemDateAndTimeResponse",
              el("tds:SystemDateAndTime",
                 el("tt:DateTimeType", "Manual") + el("tt:DaylightSavings", "false") +
                     el("tt:TimeZone", el("tt:TZ", "UTC0")) + el("tt:UTCDateTime", dateTime(utc)) +
                     el("tt:LocalDateTime", dateTime(utc))));
}

QByteArray OnvifXml::services(const Camera &c, bool includeCapability)
{
    auto caps = [&](const char *ns) {
        return includeCapability ? serviceCapabilities(c, ns) : QByteArray();
    };
    QByteArray list = service(c, Ns::device, "/onvif/device_service", caps(Ns::device), 2, 60) +
                      service(c, Ns::media, "/onvif/media_service", caps(Ns::media), 2, 60);
    if (c.media2)
        list += service(c, Ns::media2, "/onvif/media2_service", caps(Ns::media2), 2, 60);
    if (c.thermal)
        list += service(c, Ns::thermal, "/onvif/thermal_service", caps(Ns::thermal), 1, 0);
    return el("tds:GetServicesResponse", list);
}

QByteArray OnvifXml::capabilities(const Camera &c, bool device, bool media)
{
    QByteArray caps;
    if (device)
        caps += el("tt:Device", el("tt:XAddr", c.baseUrl + "/onvif/device_service"));
    if (media)
        caps += el("tt:Media", el("tt:XAddr", c.baseUrl + "/onvif/media_service") +
                                   el("tt:StreamingCapabilities",
                                      el("tt:RTPMulticast", "false") + el("tt:RTP_TCP", "true") +
                                          el("tt:RTP_RTSP_TCP", "true")));
    return el("tds:GetCapabilitiesResponse", el("tds:Capabilities", caps));
}

QByteArray OnvifXml::deviceInformation()
{
    return el("tds:GetDeviceInformationResponse",
              el("tds:Manufacturer", "camsim") + el("tds:Model", "CAMSIM-DUAL") +
                  el("tds:FirmwareVersion", "1.0.0") + el("tds:SerialNumber", "CAMSIM0000000001") +
                  el("tds:HardwareId", "camsim-2ch"));
}

QByteArray OnvifXml::scopes(const QList<QByteArray> &items)
{
    QByteArray list;
    for (const QByteArray &item : items)
        list += el("tds:Scopes", el("tt:ScopeDef", "Fixed") + el("tt:ScopeItem", escape(item)));
    return el("tds:GetScopesResponse", list);
}

QByteArray OnvifXml::serviceCapabilities(const Camera &c, const char *ns)
{
    const QByteArray n(ns);
    if (n == Ns::device)
        return "<tds:Capabilities><tds:Network/><tds:Security UsernameToken=\"" +
               flag(c.tokenAuth) + "\" HttpDigest=\"" + flag(c.digestAuth) +
               "\"/><tds:System/></tds:Capabilities>";
    if (n == Ns::media)
        return "<trt:Capabilities SnapshotUri=\"false\" Rotation=\"false\">"
               "<trt:ProfileCapabilities MaximumNumberOfProfiles=\"" +
               num(c.sources.size()) +
               "\"/><trt:StreamingCapabilities RTPMulticast=\"false\" RTP_TCP=\"true\" "
               "RTP_RTSP_TCP=\"true\"/></trt:Capabilities>";
    if (n == Ns::media2)
        return "<tr2:Capabilities SnapshotUri=\"false\" Rotation=\"false\">"
               "<tr2:ProfileCapabilities MaximumNumberOfProfiles=\"" +
               num(c.sources.size()) +
               "\" ConfigurationsSupported=\"VideoSource VideoEncoder\"/>"
               "<tr2:StreamingCapabilities RTSPStreaming=\"true\" RTPMulticast=\"false\" "
               "RTP_RTSP_TCP=\"true\"/></tr2:Capabilities>";
    return "<tth:Capabilities Radiometry=\"false\"/>";
}

QByteArray OnvifXml::profiles(const Camera &c)
{
    QByteArray list;
    for (const Source &s : c.sources)
        list += "<trt:Profiles token=\"" + s.profileToken + "\" fixed=\"true\">" +
                el("tt:Name", "Stream " + s.profileToken) +
                sourceConfiguration("tt:VideoSourceConfiguration", s) + encoderConfiguration(c, s) +
                "</trt:Profiles>";
    return el("trt:GetProfilesResponse", list);
}

QByteArray OnvifXml::videoSources(const Camera &c)
{
    QByteArray list;
    for (const Source &s : c.sources)
        list += "<trt:VideoSources token=\"" + s.token + "\">" + el("tt:Framerate", num(c.fps)) +
                resolution(s.size) + "</trt:VideoSources>";
    return el("trt:GetVideoSourcesResponse", list);
}

QByteArray OnvifXml::streamUri(const char *ns, const QByteArray &uri)
{
    if (QByteArray(ns) == Ns::media2)
        return el("tr2:GetStreamUriResponse", el("tr2:Uri", escape(uri)));
    return el("trt:GetStreamUriResponse",
              el("trt:MediaUri", el("tt:Uri", escape(uri)) + el("tt:InvalidAfterConnect", "false") +
                                     el("tt:InvalidAfterReboot", "false") +
                                     el("tt:Timeout", "PT0S")));
}

QByteArray OnvifXml::profiles2(const Camera &c, const QByteArray &token, bool videoSource,
                               bool videoEncoder)
{
    QByteArray list;
    for (const Source &s : c.sources) {
        if (!token.isNull() && token != s.profileToken)
            continue;
        QByteArray configurations;
        if (videoSource)
            configurations += sourceConfiguration("tr2:VideoSource", s);
        if (videoEncoder)
            configurations += encoder2Configuration(c, s);
        list +=
            "<tr2:Profiles token=\"" + s.profileToken + "\" fixed=\"true\">" +
            el("tr2:Name", "Stream " + s.profileToken) +
            (configurations.isEmpty() ? QByteArray() : el("tr2:Configurations", configurations)) +
            "</tr2:Profiles>";
    }
    return el("tr2:GetProfilesResponse", list);
}

QByteArray OnvifXml::thermalConfiguration()
{
    return el("tth:Configuration", "<tth:ColorPalette token=\"palette0\" Type=\"WhiteHot\">" +
                                       el("tth:Name", "White hot") + "</tth:ColorPalette>" +
                                       el("tth:Polarity", "WhiteHot"));
}

QByteArray OnvifXml::thermalConfigurations(const Camera &c)
{
    return el("tth:GetConfigurationsResponse",
              "<tth:Configurations token=\"" + c.sources.value(0).token + "\">" +
                  thermalConfiguration() + "</tth:Configurations>");
}

QByteArray OnvifXml::probeMatches(const QByteArray &relatesTo, const QByteArray &endpoint,
                                  const QList<QByteArray> &scopeItems, const QByteArray &xaddr,
                                  quint64 instanceId, quint64 messageNumber)
{
    const QByteArray messageId = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray header = el("wsa:MessageID", "urn:uuid:" + messageId) +
                              el("wsa:RelatesTo", escape(relatesTo)) +
                              el("wsa:To", QByteArray(Ns::addressing) + "/role/anonymous") +
                              el("wsa:Action", QByteArray(Ns::discovery) + "/ProbeMatches") +
                              "<wsd:AppSequence InstanceId=\"" + QByteArray::number(instanceId) +
                              "\" MessageNumber=\"" + QByteArray::number(messageNumber) + "\"/>";
    const QByteArray match = el("wsa:EndpointReference", el("wsa:Address", endpoint)) +
                             el("wsd:Types", "dn:NetworkVideoTransmitter tds:Device") +
                             el("wsd:Scopes", escape(scopeItems.join(' '))) +
                             el("wsd:XAddrs", escape(xaddr)) + el("wsd:MetadataVersion", "1");
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
                      "xmlns:wsa=\"") +
           Ns::addressing + "\" xmlns:wsd=\"" + Ns::discovery + "\" xmlns:dn=\"" + Ns::network +
           "\" xmlns:tds=\"" + Ns::device + "\">" + el("env:Header", header) +
           el("env:Body", el("wsd:ProbeMatches", el("wsd:ProbeMatch", match))) +
           "</env:Envelope>\n";
}
