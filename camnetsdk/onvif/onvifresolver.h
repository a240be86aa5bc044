// The RTSP URI of each channel of a login whose profile says streamUrl=onvif,
// as the camera itself names it over ONVIF: its clock, its services, its
// media profiles and video sources, the source its Thermal service covers,
// and a stream URI for the source of each channel. Resolved once per login,
// for both channels at once, within the deadline of the call that needs it.
#ifndef ONVIFRESOLVER_H
#define ONVIFRESOLVER_H

#include "http/httpclient.h"
#include "onvif/onvifreplies.h"
#include "profile/deviceprofile.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class SoapClient;

class OnvifResolver
{
public:
    struct Camera
    {
        std::string urlHost; // as typed, in URL form (see hostForUrl)
        uint16_t port;       // of its device service
        std::string user;
        std::string password;
        DeviceProfile::RtspTransport transport;
        std::string thermalSource; // the profile's onvifThermalSource
    };

    explicit OnvifResolver(const Camera &camera) : m_camera(camera) {}

    // CAMNET_ERR_NONE with uri set, or why the channel cannot be streamed.
    int32_t streamUri(int channel, HttpClient::Deadline deadline, std::string *uri);

private:
    struct Media
    {
        bool media2 = false;
        std::string address;
        std::vector<OnvifReplies::MediaProfile> profiles;
        std::vector<SourceChoice::Source> sources;
    };

    int32_t resolve(HttpClient::Deadline deadline);
    int32_t discover(SoapClient &client, HttpClient::Deadline deadline,
                     OnvifReplies::Services *services);
    int32_t readMedia(SoapClient &client, const OnvifReplies::Services &services,
                      HttpClient::Deadline deadline, Media *media);
    int32_t readThermal(SoapClient &client, const std::string &address,
                        HttpClient::Deadline deadline, std::vector<std::string> *tokens);
    int32_t askStreamUri(SoapClient &client, const Media &media, const std::string &source,
                         HttpClient::Deadline deadline, std::string *uri);
    // address fit for use, with one line on standard error when it was
    // changed; false when it is no address at all.
    bool cleaned(const char *what, const std::string &address, std::string *usable) const;

    Camera m_camera;
    std::timed_mutex m_mutex;
    bool m_resolved = false;
    int32_t m_errors[2] = {};
    std::string m_uris[2];
    std::string m_problems[2];
};

#endif // ONVIFRESOLVER_H
