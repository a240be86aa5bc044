#include "onvif/onvifresolver.h"

#include "camnetsdk.h"
#include "onvif/addresshygiene.h"
#include "onvif/onvifnamespaces.h"
#include "onvif/soapclient.h"
#include "onvif/soapenvelope.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

namespace {

// Where cameras place the device service, the one address known beforehand.
constexpr const char *devicePath = "/onvif/device_service";

// An operation the camera refuses or lacks leaves a way around; a camera
// that cannot be reached or refuses the credentials leaves none.
bool fatal(int32_t error)
{
    return error != CAMNET_ERR_NONE && error != CAMNET_ERR_DEVICE_REFUSED &&
           error != CAMNET_ERR_NOT_SUPPORTED && error != CAMNET_ERR_PROTOCOL;
}

bool printable(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}

// The profile to stream a source from: the camera's first one for it that
// encodes video, which cameras make their main stream.
const OnvifReplies::MediaProfile *profileFor(const std::vector<OnvifReplies::MediaProfile> &all,
                                             const std::string &source)
{
    const OnvifReplies::MediaProfile *found = nullptr;
    for (const OnvifReplies::MediaProfile &profile : all) {
        if (profile.source.token != source)
            continue;
        if (profile.encodes)
            return &profile;
        if (!found)
            found = &profile;
    }
    return found;
}

// The sources the profiles name, once each, in the camera's order.
std::vector<SourceChoice::Source> sourcesOf(const std::vector<OnvifReplies::MediaProfile> &all)
{
    std::vector<SourceChoice::Source> sources;
    for (const OnvifReplies::MediaProfile &profile : all) {
        const std::string &token = profile.source.token;
        if (!token.empty() &&
            std::none_of(sources.begin(), sources.end(),
                         [&](const SourceChoice::Source &s) { return s.token == token; }))
            sources.push_back(profile.source);
    }
    return sources;
}

} // namespace

int32_t OnvifResolver::streamUri(int channel, HttpClient::Deadline deadline, std::string *uri)
{
    if (channel < 1 || channel > 2)
        return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    // A second channel started meanwhile waits for this resolution and uses it.
    std::unique_lock<std::timed_mutex> lock(m_mutex, deadline);
    if (!lock.owns_lock())
        return CAMNET_ERR_TIMED_OUT;
    if (!m_resolved) {
        if (const int32_t error = resolve(deadline))
            return error;
    }
    const int index = channel - 1;
    if (m_errors[index]) {
        if (!m_problems[index].empty())
            std::fprintf(stderr, "%s\n", m_problems[index].c_str());
        return m_errors[index];
    }
    *uri = m_uris[index];
    return CAMNET_ERR_NONE;
}

int32_t OnvifResolver::resolve(HttpClient::Deadline deadline)
{
    SoapClient client("http://" + m_camera.urlHost + ":" + std::to_string(m_camera.port) +
                          devicePath,
                      m_camera.user, m_camera.password);
    if (!client.valid())
        return CAMNET_ERR_OUT_OF_RESOURCES;
    if (const int32_t error = client.readClock(deadline))
        return error;
    OnvifReplies::Services services;
    if (const int32_t error = discover(client, deadline, &services))
        return error;
    Media media;
    if (const int32_t error = readMedia(client, services, deadline, &media))
        return error;
    std::vector<std::string> thermal;
    if (!services.thermal.empty()) {
        if (const int32_t error = readThermal(client, services.thermal, deadline, &thermal))
            return error;
    }

    const SourceChoice choice(media.sources, thermal, m_camera.thermalSource);
    int32_t errors[2] = {};
    std::string uris[2];
    for (int index = 0; index < 2; ++index) {
        const std::string source = choice.token(index + 1);
        m_problems[index] = choice.problem(index + 1);
        if (source.empty()) {
            errors[index] = CAMNET_ERR_CHANNEL_UNAVAILABLE;
            continue;
        }
        errors[index] = askStreamUri(client, media, source, deadline, &uris[index]);
        if (fatal(errors[index]) && errors[index] != CAMNET_ERR_CHANNEL_UNAVAILABLE)
            return errors[index];
    }
    std::copy(errors, errors + 2, m_errors);
    std::copy(uris, uris + 2, m_uris);
    m_resolved = true;
    return CAMNET_ERR_NONE;
}

int32_t OnvifResolver::discover(SoapClient &client, HttpClient::Deadline deadline,
                                OnvifReplies::Services *services)
{
    const std::string device =
        "http://" + m_camera.urlHost + ":" + std::to_string(m_camera.port) + devicePath;
    SoapDocument reply;
    int32_t error =
        client.call(device,
                    {OnvifNs::device, "GetServices",
                     [](SoapEnvelope &e) {
                         e.add(e.operation(), OnvifNs::device, "IncludeCapability", "false");
                     }},
                    deadline, &reply);
    if (fatal(error))
        return error;
    // Cameras of older firmware know only GetCapabilities, and with it no
    // Media2 and no Thermal service.
    if (error || !OnvifReplies::services(reply, services)) {
        error = client.call(
            device,
            {OnvifNs::device, "GetCapabilities",
             [](SoapEnvelope &e) { e.add(e.operation(), OnvifNs::device, "Category", "All"); }},
            deadline, &reply);
        if (fatal(error))
            return error;
        if (error || !OnvifReplies::capabilities(reply, services))
            return CAMNET_ERR_PROTOCOL;
    }
    const std::pair<const char *, std::string *> named[] = {
        {"media service", &services->media},
        {"Media2 service", &services->media2},
        {"Thermal service", &services->thermal}};
    for (const auto &entry : named) {
        std::string usable;
        if (!entry.second->empty() && !cleaned(entry.first, *entry.second, &usable))
            usable.clear();
        *entry.second = usable;
    }
    return services->media.empty() && services->media2.empty() ? CAMNET_ERR_PROTOCOL
                                                               : CAMNET_ERR_NONE;
}

int32_t OnvifResolver::readMedia(SoapClient &client, const OnvifReplies::Services &services,
                                 HttpClient::Deadline deadline, Media *media)
{
    SoapDocument reply;
    if (!services.media2.empty()) {
        const int32_t error = client.call(
            services.media2,
            {OnvifNs::media2, "GetProfiles",
             [](SoapEnvelope &e) { e.add(e.operation(), OnvifNs::media2, "Type", "All"); }},
            deadline, &reply);
        if (fatal(error))
            return error;
        if (!error && OnvifReplies::media2Profiles(reply, &media->profiles)) {
            media->media2 = true;
            media->address = services.media2;
            media->sources = sourcesOf(media->profiles);
            return CAMNET_ERR_NONE;
        }
    }
    if (services.media.empty())
        return CAMNET_ERR_PROTOCOL;
    media->address = services.media;
    int32_t error =
        client.call(media->address, {OnvifNs::media, "GetProfiles", nullptr}, deadline, &reply);
    if (fatal(error))
        return error;
    if (error || !OnvifReplies::mediaProfiles(reply, &media->profiles))
        return CAMNET_ERR_PROTOCOL;
    error =
        client.call(media->address, {OnvifNs::media, "GetVideoSources", nullptr}, deadline, &reply);
    if (fatal(error))
        return error;
    // The sources list has them all, also one no profile streams yet.
    if (error || !OnvifReplies::videoSources(reply, &media->sources))
        media->sources = sourcesOf(media->profiles);
    return CAMNET_ERR_NONE;
}

int32_t OnvifResolver::readThermal(SoapClient &client, const std::string &address,
                                   HttpClient::Deadline deadline, std::vector<std::string> *tokens)
{
    SoapDocument reply;
    const int32_t error =
        client.call(address, {OnvifNs::thermal, "GetConfigurations", nullptr}, deadline, &reply);
    if (fatal(error))
        return error;
    // A Thermal service that cannot say which source it covers is no help,
    // but no reason to fail either: the profile may name the source.
    if (error || !OnvifReplies::thermalSources(reply, tokens))
        tokens->clear();
    return CAMNET_ERR_NONE;
}

int32_t OnvifResolver::askStreamUri(SoapClient &client, const Media &media,
                                    const std::string &source, HttpClient::Deadline deadline,
                                    std::string *uri)
{
    const OnvifReplies::MediaProfile *profile = profileFor(media.profiles, source);
    if (!profile)
        return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    const bool tcp = m_camera.transport == DeviceProfile::RtspTransport::Tcp;
    const std::string token = profile->token;
    SoapDocument reply;
    int32_t error = CAMNET_ERR_NONE;
    if (media.media2) {
        error = client.call(media.address,
                            {OnvifNs::media2, "GetStreamUri",
                             [&](SoapEnvelope &e) {
                                 e.add(e.operation(), OnvifNs::media2, "Protocol",
                                       tcp ? "RTSP" : "RtspUnicast");
                                 e.add(e.operation(), OnvifNs::media2, "ProfileToken", token);
                             }},
                            deadline, &reply);
    } else {
        error =
            client.call(media.address,
                        {OnvifNs::media, "GetStreamUri",
                         [&](SoapEnvelope &e) {
                             xmlNode *setup = e.add(e.operation(), OnvifNs::media, "StreamSetup");
                             e.add(setup, OnvifNs::schema, "Stream", "RTP-Unicast");
                             xmlNode *transport = e.add(setup, OnvifNs::schema, "Transport");
                             e.add(transport, OnvifNs::schema, "Protocol", tcp ? "RTSP" : "UDP");
                             e.add(e.operation(), OnvifNs::media, "ProfileToken", token);
                         }},
                        deadline, &reply);
    }
    if (fatal(error))
        return error;
    // The camera will not name a stream of this source.
    if (error)
        return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    std::string named;
    const bool read = media.media2 ? OnvifReplies::media2StreamUri(reply, &named)
                                   : OnvifReplies::mediaStreamUri(reply, &named);
    if (!read || strncasecmp(named.c_str(), "rtsp://", 7) != 0 || !cleaned("stream", named, uri))
        return CAMNET_ERR_PROTOCOL;
    return CAMNET_ERR_NONE;
}

bool OnvifResolver::cleaned(const char *what, const std::string &address, std::string *usable) const
{
    std::string change;
    if (!printable(address) || !AddressHygiene(m_camera.urlHost).clean(address, usable, &change))
        return false;
    if (!change.empty())
        std::fprintf(stderr, "camnetsdk: ONVIF: the camera names its %s %s\n", what,
                     change.c_str());
    return true;
}
