#include "structurecheck.h"

#include "picturemath.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

// Mean and deviation below which a channel shows nothing (black, no signal).
constexpr double blackLevel = 12.0;
constexpr double flatDeviation = 2.0;
// OSD text is drawn near white; this much of it and its anti-aliased rim is
// left out.
constexpr int whiteLevel = 230;
constexpr int textRim = 4;
constexpr int shrink = 4;

cv::Mat withoutText(const cv::Mat &picture, const cv::Mat &ignore)
{
    cv::Mat white;
    if (picture.channels() == 1) {
        white = picture >= whiteLevel;
    } else {
        cv::Mat least;
        std::vector<cv::Mat> planes;
        cv::split(picture, planes);
        least = cv::min(planes[0], cv::min(planes[1], planes[2]));
        white = least >= whiteLevel;
    }
    cv::dilate(
        white, white,
        cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * textRim + 1, 2 * textRim + 1)));
    cv::Mat skip = white;
    if (!ignore.empty())
        skip |= ignore;
    return skip;
}

double coarseGradientRms(const cv::Mat &gray, const cv::Mat &skip)
{
    const cv::Size small(std::max(1, gray.cols / shrink), std::max(1, gray.rows / shrink));
    cv::Mat coarse, gx, gy, skipFloat, skipCoarse;
    cv::resize(gray, coarse, small, 0, 0, cv::INTER_AREA);
    cv::Sobel(coarse, gx, CV_32F, 1, 0, 3, 1.0 / 8);
    cv::Sobel(coarse, gy, CV_32F, 0, 1, 3, 1.0 / 8);
    skip.convertTo(skipFloat, CV_32F, 1.0 / 255);
    cv::resize(skipFloat, skipCoarse, small, 0, 0, cv::INTER_AREA);
    // A coarse pixel next to a skipped one sees its edge through the kernel.
    cv::Mat use = skipCoarse == 0;
    cv::erode(use, use, cv::Mat());
    if (cv::countNonZero(use) < 16)
        return 0;
    cv::Mat energy = gx.mul(gx) + gy.mul(gy);
    return std::sqrt(cv::mean(energy, use)[0]);
}

} // namespace

StructureCheck::Result StructureCheck::check(const cv::Mat &picture, const cv::Mat &ignore,
                                             Channel channel)
{
    Result result;
    const cv::Mat gray = PictureMath::grayFloat(picture);
    if (gray.empty() || (!ignore.empty() && ignore.size() != picture.size())) {
        result.refusal = RegistrationRefusal::BadInput;
        return result;
    }
    const cv::Mat skip = withoutText(picture, ignore);
    cv::Scalar mean, deviation;
    cv::meanStdDev(gray, mean, deviation, skip == 0);
    result.mean = mean[0];
    result.deviation = deviation[0];
    if ((result.mean < blackLevel && result.deviation < flatDeviation) || result.deviation < 0.5) {
        result.refusal = RegistrationRefusal::MissingPicture;
        return result;
    }
    result.noise = PictureMath::noiseSigma(gray, skip);
    // The kernel's RMS response to white noise of deviation s is 0.61 s;
    // shrinking averages shrink^2 pixels; half a gray level stands for the
    // quantisation a clean picture still has.
    const double coarseNoise = 0.61 * result.noise / shrink + 0.5;
    result.score = coarseGradientRms(gray, skip) / coarseNoise;
    if (result.score < minimumScore)
        result.refusal = channel == Channel::Thermal ? RegistrationRefusal::FeaturelessThermal
                                                     : RegistrationRefusal::FeaturelessVisible;
    return result;
}

StructureCheck::Result StructureCheck::checkLive(const cv::Mat &earlier, const cv::Mat &later,
                                                 const cv::Mat &ignore, Channel channel)
{
    Result result = check(later, ignore, channel);
    if (result.refusal != RegistrationRefusal::None)
        return result;
    if (earlier.size() == later.size() && earlier.type() == later.type()) {
        cv::Mat difference;
        cv::absdiff(earlier, later, difference);
        if (cv::countNonZero(difference.reshape(1)) == 0)
            result.refusal = RegistrationRefusal::FrozenStream;
    }
    return result;
}
