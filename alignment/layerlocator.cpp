#include "layerlocator.h"

#include "axismapfit.h"
#include "picturemath.h"
#include "structurecheck.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {

// The coarse search runs on channel 1 shrunk this many times (twice halved).
constexpr int coarseLevel = 2;
constexpr double scaleStep = 0.015;
// The blend assumed before the fit measures it; the coarse search only needs
// the thermal picture to dominate the isolated layer.
constexpr double assumedAlpha = 0.5;

cv::Mat filled(const cv::Mat &picture, const cv::Mat &valid)
{
    cv::Mat result = picture.clone();
    result.setTo(cv::mean(picture, valid), valid == 0);
    return result;
}

struct Coarse
{
    OverlayMap map;
    double peak = 0;
};

// Sweeps the scale about the prediction; at each, phase correlation gives the
// shift of the isolated layer against the warped thermal picture.
Coarse recentre(const cv::Mat &layer, const cv::Mat &layerValid, const cv::Mat &thermal,
                const cv::Mat &thermalValid, const LayerLocator::Input &input)
{
    const auto layers = PictureMath::pyramid(filled(layer, layerValid), coarseLevel);
    const auto thermals = PictureMath::pyramid(filled(thermal, thermalValid), coarseLevel);
    const cv::Mat &small1 = layers.back(), &small2 = thermals.back();
    const cv::Size full1 = layer.size(), full2 = thermal.size();
    const double fill = cv::mean(small2)[0];
    Coarse best;
    best.map = input.predicted;
    best.peak = -1;
    const int steps = int(std::ceil(input.searchScale / scaleStep));
    for (int i = -steps; i <= steps; ++i) {
        const OverlayMap candidate =
            PictureMath::scaledAbout(input.predicted, full2, 1.0 + i * scaleStep);
        OverlayMap level =
            PictureMath::mapToLevel(candidate, full1, small1.size(), full2, small2.size());
        const cv::Mat warped = PictureMath::warpToChannel1(small2, level, small1.size(), fill);
        double peak = 0;
        const cv::Point2d shift = PictureMath::phaseCorrelate(warped, small1, &peak);
        if (peak <= best.peak)
            continue;
        level.x.offset += shift.x;
        level.y.offset += shift.y;
        best.peak = peak;
        best.map = PictureMath::mapFromLevel(level, full1, small1.size(), full2, small2.size());
    }
    return best;
}

bool withinSearch(const OverlayMap &found, const LayerLocator::Input &input)
{
    const QRectF frame(0, 0, input.fusionOn.cols, input.fusionOn.rows);
    const double scaleChange = std::max(std::abs(found.x.scale / input.predicted.x.scale - 1),
                                        std::abs(found.y.scale / input.predicted.y.scale - 1));
    return found.isValid() && scaleChange <= input.searchScale + 0.03 &&
           meanDistance(found, input.predicted, frame) <= input.maximumShift;
}

bool inputUsable(const LayerLocator::Input &input)
{
    const auto fits = [](const cv::Mat &mask, const cv::Mat &picture) {
        return mask.empty() || (mask.size() == picture.size() && mask.type() == CV_8U);
    };
    return !input.fusionOn.empty() && input.fusionOn.size() == input.fusionOff.size() &&
           input.fusionOn.type() == input.fusionOff.type() && !input.channel2.empty() &&
           input.predicted.isValid() && fits(input.ignore1, input.fusionOn) &&
           fits(input.ignore2, input.channel2);
}

} // namespace

namespace {

LayerLocator::Result locateChecked(const LayerLocator::Input &input)
{
    LayerLocator::Result result;
    result.map = input.predicted;
    const cv::Mat on = PictureMath::grayFloat(input.fusionOn);
    const cv::Mat off = PictureMath::grayFloat(input.fusionOff);
    const cv::Mat thermal = PictureMath::grayFloat(input.channel2);
    if (!inputUsable(input) || on.empty() || off.empty() || thermal.empty()) {
        result.refusal = RegistrationRefusal::BadInput;
        return result;
    }
    const StructureCheck::Result structure =
        StructureCheck::check(input.channel2, input.ignore2, StructureCheck::Channel::Thermal);
    result.structure = structure.score;
    if (structure.refusal != RegistrationRefusal::None) {
        result.refusal = structure.refusal;
        return result;
    }
    const cv::Mat valid1 = PictureMath::usable(input.ignore1, on.size());
    const cv::Mat valid2 = PictureMath::usable(input.ignore2, thermal.size());
    const cv::Mat difference = on - off;
    // The layer alone, as far as the assumed blend isolates it.
    const cv::Mat layer = off + difference / assumedAlpha;
    const Coarse coarse = recentre(layer, valid1, thermal, valid2, input);
    result.peak = coarse.peak;

    AxisMapFit::Problem problem;
    problem.target = difference;
    problem.targetValid = valid1;
    problem.source = thermal;
    problem.sourceValid = valid2;
    problem.extra = off;
    problem.start = coarse.map;
    problem.levels = 2;
    const AxisMapFit::Result fit = AxisMapFit::fit(problem);
    result.alpha = fit.gain;
    result.quality = fit.explained;
    if (!fit.converged || !withinSearch(fit.map, input)) {
        result.refusal = fit.converged && fit.gain >= LayerLocator::minimumAlpha
                             ? RegistrationRefusal::NotConverged
                             : RegistrationRefusal::NoLayer;
        return result;
    }
    if (fit.gain < LayerLocator::minimumAlpha || fit.explained < LayerLocator::minimumQuality) {
        result.refusal = RegistrationRefusal::NoLayer;
        return result;
    }
    result.map = fit.map;
    return result;
}

} // namespace

LayerLocator::Result LayerLocator::locate(const Input &input)
{
    try {
        return locateChecked(input);
    } catch (const cv::Exception &) {
        // Pictures OpenCV cannot work on (too small, inconsistent) are bad
        // input, not a crash of the alignment's worker thread.
        Result result;
        result.map = input.predicted;
        result.refusal = RegistrationRefusal::BadInput;
        return result;
    }
}
