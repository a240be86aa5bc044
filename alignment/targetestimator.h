// Where the overlay must go: channel 2 registered onto channel 1 with fusion
// off, across modalities. Both pictures become normalised gradient
// magnitudes (edges are shared, their sign and strength are not). A scale
// sweep with phase correlation finds the map coarsely, a Gauss-Newton fit of
// the four parameters refines it; then the picture is cut into tiles, each
// tile refines its own shift, and a consensus over all tile pairs finds the
// dominant depth, whose tiles alone give the final fit. When two depths hold
// similar shares of the tiles the answer is refused rather than averaged: a
// region drawn around one of them settles it.
#ifndef TARGETESTIMATOR_H
#define TARGETESTIMATOR_H

#include "overlaymap.h"
#include "registrationrefusal.h"

#include <opencv2/core.hpp>

class TargetEstimator
{
public:
    struct Input
    {
        cv::Mat visible; // channel 1, fusion off
        cv::Mat thermal; // channel 2
        cv::Mat ignore1; // CV_8U beside visible, 255 = skip; may be empty
        cv::Mat ignore2; // CV_8U beside thermal, 255 = skip; may be empty
        // Where the thermal picture is expected; invalid (scale 0) for the
        // picture stretched over channel 1.
        OverlayMap prior{{0, 0}, {0, 0}};
        cv::Rect region; // of channel 1; empty for the whole picture
        double scaleFrom = 0.85, scaleTo = 1.20, scaleStep = 0.015;
    };

    struct Result
    {
        OverlayMap map;
        RegistrationRefusal refusal = RegistrationRefusal::None;
        double peak = 0;          // best phase correlation response of the sweep
        double correlation = 0;   // explained fraction of the whole-picture fit
        int tiles = 0;            // tiles that gave a shift
        int inliers = 0;          // of them, agreeing with the dominant depth
        int rivals = 0;           // agreeing with the strongest other map
        double spread = 0;        // RMS of the inliers' distance to the final map, px
        double rivalDistance = 0; // mean distance between the two maps, px
        double wholeDistance = 0; // between the whole-picture fit and the tiles' map, px
        double bandBias = 0;      // largest mean residual of the tiles in a third of the region
        OverlayMap wholePicture;  // before the tiles had their say
    };

    static constexpr double inlierDistance = 0.8;
    static constexpr double maximumSpread = 0.7;
    // A rival holding this share of the winner's tiles makes the answer
    // ambiguous.
    static constexpr double rivalShare = 0.6;
    // Between the whole-picture fit and the dominant depth's, px.
    static constexpr double maximumWholeDistance = 2.0;
    // Of the dominant depth's tiles in any third of the region, px.
    // A line laid through two depths reached 0.77 px, good scenes 0.6.
    static constexpr double maximumBandBias = 0.75;

    static Result estimate(const Input &input);
};

#endif // TARGETESTIMATOR_H
