#include "onvif/onvifreplies.h"

#include "onvif/onvifnamespaces.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace OnvifReplies {

namespace {

// The response element, when the reply is the one expected.
const xmlNode *response(const SoapDocument &reply, const char *ns, const char *name)
{
    const xmlNode *payload = reply.payload();
    return !reply.isFault() && SoapDocument::is(payload, ns, name) ? payload : nullptr;
}

bool number(const std::string &text, int min, int max, int *value)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    *value = std::stoi(text);
    return *value >= min && *value <= max;
}

int dimension(const std::string &text)
{
    int value = 0;
    return number(text, 1, 100000, &value) ? value : 0;
}

int field(const xmlNode *parent, const char *name, int min, int max, bool *ok)
{
    int value = 0;
    *ok = *ok && number(SoapDocument::text(SoapDocument::child(parent, OnvifNs::schema, name)), min,
                        max, &value);
    return value;
}

// A profile's video source configuration: its source token and bounds.
SourceChoice::Source sourceOf(const xmlNode *configuration)
{
    SourceChoice::Source source;
    source.token =
        SoapDocument::text(SoapDocument::child(configuration, OnvifNs::schema, "SourceToken"));
    const xmlNode *bounds = SoapDocument::child(configuration, OnvifNs::schema, "Bounds");
    source.width = dimension(SoapDocument::attribute(bounds, "width"));
    source.height = dimension(SoapDocument::attribute(bounds, "height"));
    return source;
}

} // namespace

bool systemTime(const SoapDocument &reply, time_t *utc)
{
    const xmlNode *answer = response(reply, OnvifNs::device, "GetSystemDateAndTimeResponse");
    const xmlNode *dateTime =
        SoapDocument::path(SoapDocument::child(answer, OnvifNs::device, "SystemDateAndTime"),
                           OnvifNs::schema, {"UTCDateTime"});
    const xmlNode *date = SoapDocument::child(dateTime, OnvifNs::schema, "Date");
    const xmlNode *time = SoapDocument::child(dateTime, OnvifNs::schema, "Time");
    if (!date || !time)
        return false;
    bool ok = true;
    struct tm parts;
    std::memset(&parts, 0, sizeof parts);
    parts.tm_year = field(date, "Year", 1970, 9999, &ok) - 1900;
    parts.tm_mon = field(date, "Month", 1, 12, &ok) - 1;
    parts.tm_mday = field(date, "Day", 1, 31, &ok);
    parts.tm_hour = field(time, "Hour", 0, 23, &ok);
    parts.tm_min = field(time, "Minute", 0, 59, &ok);
    parts.tm_sec = field(time, "Second", 0, 60, &ok);
    if (!ok)
        return false;
    *utc = timegm(&parts);
    return *utc != time_t(-1);
}

bool services(const SoapDocument &reply, Services *services)
{
    const xmlNode *answer = response(reply, OnvifNs::device, "GetServicesResponse");
    if (!answer)
        return false;
    *services = Services();
    for (const xmlNode *service : SoapDocument::children(answer, OnvifNs::device, "Service")) {
        const std::string ns =
            SoapDocument::text(SoapDocument::child(service, OnvifNs::device, "Namespace"));
        const std::string xaddr =
            SoapDocument::text(SoapDocument::child(service, OnvifNs::device, "XAddr"));
        if (ns == OnvifNs::media)
            services->media = xaddr;
        else if (ns == OnvifNs::media2)
            services->media2 = xaddr;
        else if (ns == OnvifNs::thermal)
            services->thermal = xaddr;
    }
    return true;
}

bool capabilities(const SoapDocument &reply, Services *services)
{
    const xmlNode *answer = response(reply, OnvifNs::device, "GetCapabilitiesResponse");
    const xmlNode *all = SoapDocument::child(answer, OnvifNs::device, "Capabilities");
    if (!all)
        return false;
    *services = Services();
    services->media =
        SoapDocument::text(SoapDocument::path(all, OnvifNs::schema, {"Media", "XAddr"}));
    return true;
}

bool media2Profiles(const SoapDocument &reply, std::vector<MediaProfile> *profiles)
{
    const xmlNode *answer = response(reply, OnvifNs::media2, "GetProfilesResponse");
    profiles->clear();
    for (const xmlNode *node : SoapDocument::children(answer, OnvifNs::media2, "Profiles")) {
        MediaProfile profile;
        profile.token = SoapDocument::attribute(node, "token");
        const xmlNode *configurations =
            SoapDocument::child(node, OnvifNs::media2, "Configurations");
        profile.source =
            sourceOf(SoapDocument::child(configurations, OnvifNs::media2, "VideoSource"));
        profile.encodes =
            SoapDocument::child(configurations, OnvifNs::media2, "VideoEncoder") != nullptr;
        if (!profile.token.empty())
            profiles->push_back(profile);
    }
    return !profiles->empty();
}

bool mediaProfiles(const SoapDocument &reply, std::vector<MediaProfile> *profiles)
{
    const xmlNode *answer = response(reply, OnvifNs::media, "GetProfilesResponse");
    profiles->clear();
    for (const xmlNode *node : SoapDocument::children(answer, OnvifNs::media, "Profiles")) {
        MediaProfile profile;
        profile.token = SoapDocument::attribute(node, "token");
        profile.source =
            sourceOf(SoapDocument::child(node, OnvifNs::schema, "VideoSourceConfiguration"));
        profile.encodes =
            SoapDocument::child(node, OnvifNs::schema, "VideoEncoderConfiguration") != nullptr;
        if (!profile.token.empty())
            profiles->push_back(profile);
    }
    return !profiles->empty();
}

bool videoSources(const SoapDocument &reply, std::vector<SourceChoice::Source> *sources)
{
    const xmlNode *answer = response(reply, OnvifNs::media, "GetVideoSourcesResponse");
    if (!answer)
        return false;
    sources->clear();
    for (const xmlNode *node : SoapDocument::children(answer, OnvifNs::media, "VideoSources")) {
        SourceChoice::Source source;
        source.token = SoapDocument::attribute(node, "token");
        const xmlNode *resolution = SoapDocument::child(node, OnvifNs::schema, "Resolution");
        source.width = dimension(
            SoapDocument::text(SoapDocument::child(resolution, OnvifNs::schema, "Width")));
        source.height = dimension(
            SoapDocument::text(SoapDocument::child(resolution, OnvifNs::schema, "Height")));
        if (!source.token.empty())
            sources->push_back(source);
    }
    return true;
}

bool thermalSources(const SoapDocument &reply, std::vector<std::string> *tokens)
{
    const xmlNode *answer = response(reply, OnvifNs::thermal, "GetConfigurationsResponse");
    if (!answer)
        return false;
    tokens->clear();
    // Each Configurations element carries the token of the video source it
    // configures.
    for (const xmlNode *node : SoapDocument::children(answer, OnvifNs::thermal, "Configurations")) {
        const std::string token = SoapDocument::attribute(node, "token");
        if (!token.empty())
            tokens->push_back(token);
    }
    return true;
}

bool media2StreamUri(const SoapDocument &reply, std::string *uri)
{
    const xmlNode *answer = response(reply, OnvifNs::media2, "GetStreamUriResponse");
    *uri = SoapDocument::text(SoapDocument::child(answer, OnvifNs::media2, "Uri"));
    return !uri->empty();
}

bool mediaStreamUri(const SoapDocument &reply, std::string *uri)
{
    const xmlNode *answer = response(reply, OnvifNs::media, "GetStreamUriResponse");
    *uri = SoapDocument::text(SoapDocument::child(
        SoapDocument::child(answer, OnvifNs::media, "MediaUri"), OnvifNs::schema, "Uri"));
    return !uri->empty();
}

} // namespace OnvifReplies
