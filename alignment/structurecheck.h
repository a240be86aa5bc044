// Tells whether a picture has enough structure to be registered at all, so
// that Auto Align refuses a featureless thermal picture, a black or missing
// channel or a frozen stream instead of fitting a map to noise. The score is
// the gradient energy of a coarse (4x smaller) picture relative to what the
// picture's own fine-scale noise would give there: noise averages away when
// the picture shrinks, edges do not. White OSD text and the caller's ignored
// pixels are left out, so a counter alone does not pass for structure.
#ifndef STRUCTURECHECK_H
#define STRUCTURECHECK_H

#include "registrationrefusal.h"

#include <opencv2/core.hpp>

class StructureCheck
{
public:
    enum class Channel
    {
        Visible,
        Thermal
    };

    struct Result
    {
        RegistrationRefusal refusal = RegistrationRefusal::None;
        double score = 0; // coarse gradient RMS over what noise alone would give
        double noise = 0; // fine-scale noise, gray levels
        double mean = 0;
        double deviation = 0;
    };

    // Scores below this were noise and OSD only in every picture tried.
    static constexpr double minimumScore = 4.0;

    // `ignore`: CV_8U, 255 = skip; may be empty.
    static Result check(const cv::Mat &picture, const cv::Mat &ignore, Channel channel);
    // As check(), and refuses `later` when it is byte for byte `earlier`: a
    // live stream always differs at least in its noise.
    static Result checkLive(const cv::Mat &earlier, const cv::Mat &later, const cv::Mat &ignore,
                            Channel channel);
};

#endif // STRUCTURECHECK_H
