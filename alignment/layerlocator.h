// Where the camera draws the thermal layer in channel 1 now. With fusion on,
// channel 1 is alpha * W(channel 2) + (1 - alpha) * visible, so the
// difference to a fusion-off picture is the thermal picture, warped by the
// camera's present calibration, minus the visible one: a same-modality
// registration. A scale sweep with phase correlation re-centres the
// prediction; a Gauss-Newton fit of the four map parameters (with the alpha
// and the visible picture's share as free coefficients) makes it sub-pixel.
#ifndef LAYERLOCATOR_H
#define LAYERLOCATOR_H

#include "overlaymap.h"
#include "registrationrefusal.h"

#include <opencv2/core.hpp>

class LayerLocator
{
public:
    struct Input
    {
        cv::Mat fusionOn;  // channel 1, fusion on
        cv::Mat fusionOff; // channel 1, fusion off, same size and type
        cv::Mat channel2;  // the thermal picture the camera fuses
        cv::Mat ignore1;   // CV_8U beside channel 1, 255 = skip; may be empty
        cv::Mat ignore2;   // CV_8U beside channel 2, 255 = skip; may be empty
        OverlayMap predicted;
        // How far the prediction may be off: channel-1 pixels and relative scale.
        double searchScale = 0.12;
        double maximumShift = 64;
    };

    struct Result
    {
        OverlayMap map;
        RegistrationRefusal refusal = RegistrationRefusal::None;
        double quality = 0;   // fraction of the fusion difference the layer explains
        double alpha = 0;     // the blend the fit found
        double peak = 0;      // phase correlation's response at the coarse stage
        double structure = 0; // channel 2's StructureCheck score
    };

    // Below these the difference is not the thermal layer.
    static constexpr double minimumQuality = 0.25;
    static constexpr double minimumAlpha = 0.05;

    static Result locate(const Input &input);
};

#endif // LAYERLOCATOR_H
