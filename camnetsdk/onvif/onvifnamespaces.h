// The namespace URIs the SDK's ONVIF messages are written and read with.
// Elements are always matched by these, never by the prefix a camera picks.
#ifndef ONVIFNAMESPACES_H
#define ONVIFNAMESPACES_H

namespace OnvifNs {

constexpr const char *soap12 = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char *soap11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char *device = "http://www.onvif.org/ver10/device/wsdl";
constexpr const char *media = "http://www.onvif.org/ver10/media/wsdl";
constexpr const char *media2 = "http://www.onvif.org/ver20/media/wsdl";
constexpr const char *thermal = "http://www.onvif.org/ver10/thermal/wsdl";
constexpr const char *schema = "http://www.onvif.org/ver10/schema";
constexpr const char *error = "http://www.onvif.org/ver10/error";
constexpr const char *wsse =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr const char *wsu =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr const char *passwordDigest = "http://docs.oasis-open.org/wss/2004/01/"
                                       "oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
constexpr const char *base64Binary = "http://docs.oasis-open.org/wss/2004/01/"
                                     "oasis-200401-wss-soap-message-security-1.0#Base64Binary";

} // namespace OnvifNs

#endif // ONVIFNAMESPACES_H
