// Which of a camera's video sources is which channel: channel 2 is the
// thermal source, named by the camera's Thermal service or, on a camera
// without one, by the device profile; channel 1 is the one other source. A
// camera with one source and no word on it has it as channel 1. Anything
// else is never guessed from the order the camera lists its sources in: the
// channel is unavailable and the listing tells the technician what to name.
#ifndef SOURCECHOICE_H
#define SOURCECHOICE_H

#include <string>
#include <vector>

class SourceChoice
{
public:
    struct Source
    {
        std::string token;
        int width = 0; // 0: not known
        int height = 0;
    };

    // sources in the camera's order; thermal: the source tokens the Thermal
    // service names (none without the service); configured: the profile's
    // onvifThermalSource, used only when the Thermal service names none.
    SourceChoice(const std::vector<Source> &sources, const std::vector<std::string> &thermal,
                 const std::string &configured);

    // The source token of channel 1 or 2; empty when the channel has none.
    std::string token(int channel) const;
    // Why a channel has no source, one line for standard error listing the
    // camera's sources and tokens; empty when it has one or the camera has
    // no second source for it to be.
    std::string problem(int channel) const;

private:
    std::string listing(const std::vector<Source> &sources) const;

    std::string m_tokens[2];
    std::string m_problems[2];
};

#endif // SOURCECHOICE_H
