// What the SDK reads from a camera's ONVIF replies: its clock, where its
// services are, its media profiles and video sources, which source its
// Thermal service covers, and a stream URI. Each reader checks that the reply
// is the response it expects and takes nothing from elements of other
// namespaces, whatever their prefixes.
#ifndef ONVIFREPLIES_H
#define ONVIFREPLIES_H

#include "onvif/soapdocument.h"
#include "onvif/sourcechoice.h"

#include <ctime>
#include <string>
#include <vector>

namespace OnvifReplies {

// GetSystemDateAndTime: the camera's UTC time; false when it names none.
bool systemTime(const SoapDocument &reply, time_t *utc);

// Service addresses as the camera names them; empty for a service it lacks.
struct Services
{
    std::string media;
    std::string media2;
    std::string thermal;
};

bool services(const SoapDocument &reply, Services *services);
// GetCapabilities knows the media service only.
bool capabilities(const SoapDocument &reply, Services *services);

struct MediaProfile
{
    std::string token;
    SourceChoice::Source source; // its video source; an empty token for none
    bool encodes = false;        // whether it has a video encoder to stream from
};

// GetProfiles of Media2 and of Media (ver10); false when no profile has a
// token.
bool media2Profiles(const SoapDocument &reply, std::vector<MediaProfile> *profiles);
bool mediaProfiles(const SoapDocument &reply, std::vector<MediaProfile> *profiles);
// GetVideoSources of Media (ver10).
bool videoSources(const SoapDocument &reply, std::vector<SourceChoice::Source> *sources);
// The Thermal service's GetConfigurations: the video sources it covers.
bool thermalSources(const SoapDocument &reply, std::vector<std::string> *tokens);
// GetStreamUri of Media2 and of Media (ver10).
bool media2StreamUri(const SoapDocument &reply, std::string *uri);
bool mediaStreamUri(const SoapDocument &reply, std::string *uri);

} // namespace OnvifReplies

#endif // ONVIFREPLIES_H
