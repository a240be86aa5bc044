#include "onvif/sourcechoice.h"

#include <algorithm>

namespace {

bool contains(const std::vector<std::string> &tokens, const std::string &token)
{
    return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
}

} // namespace

SourceChoice::SourceChoice(const std::vector<Source> &sources,
                           const std::vector<std::string> &thermal, const std::string &configured)
{
    std::vector<std::string> named;
    for (const Source &source : sources) {
        if (contains(thermal, source.token))
            named.push_back(source.token);
    }
    const std::string list = listing(sources);
    std::string why;
    if (named.size() > 1) {
        why =
            "the camera's Thermal service names " + std::to_string(named.size()) + " video sources";
    } else if (named.empty() && !configured.empty()) {
        const bool known = std::any_of(sources.begin(), sources.end(),
                                       [&](const Source &s) { return s.token == configured; });
        if (known)
            named.push_back(configured);
        else
            why = "onvifThermalSource=" + configured + " names none of the camera's video sources";
    }
    if (!why.empty()) {
        m_problems[0] = m_problems[1] = "camnetsdk: ONVIF: " + why + "; " + list;
        return;
    }

    std::vector<std::string> others;
    for (const Source &source : sources) {
        if (named.empty() || source.token != named[0])
            others.push_back(source.token);
    }
    if (!named.empty())
        m_tokens[1] = named[0];
    if (others.size() == 1) {
        m_tokens[0] = others[0];
    } else if (others.size() > 1) {
        const std::string ask =
            named.empty() ? "which video source is thermal is not known (the camera has no "
                            "Thermal service); name its token with onvifThermalSource in the "
                            "device profile; "
                          : "which video source is visible is not known; ";
        m_problems[0] = "camnetsdk: ONVIF: " + ask + list;
        if (named.empty())
            m_problems[1] = m_problems[0];
    }
}

std::string SourceChoice::token(int channel) const
{
    return channel == 1 || channel == 2 ? m_tokens[channel - 1] : std::string();
}

std::string SourceChoice::problem(int channel) const
{
    return channel == 1 || channel == 2 ? m_problems[channel - 1] : std::string();
}

std::string SourceChoice::listing(const std::vector<Source> &sources) const
{
    std::string text = "the camera's video sources:";
    if (sources.empty())
        text += " none";
    for (size_t i = 0; i < sources.size(); ++i) {
        const Source &source = sources[i];
        std::string token = source.token;
        // A camera's token goes onto a terminal; control bytes must not.
        std::replace_if(
            token.begin(), token.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }, '?');
        text += (i ? ", " : " ") + std::string("token \"") + token + "\"";
        if (source.width > 0 && source.height > 0)
            text += " (" + std::to_string(source.width) + "x" + std::to_string(source.height) + ")";
    }
    return text;
}
