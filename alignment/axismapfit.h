// Refines an OverlayMap so that channel 2's picture, drawn into channel 1 by
// it, explains channel 1's picture best: a Gauss-Newton least-squares fit of
// the per-axis scales and offsets together with a gain, an offset and an
// optional second regressor, coarse to fine on a pyramid, with Huber weights
// so that a few disagreeing regions (a passing cloud, an object at another
// depth) pull little. With a free gain and offset it maximises the same
// normalised correlation as ECC, but on the four parameters of the map.
#ifndef AXISMAPFIT_H
#define AXISMAPFIT_H

#include "overlaymap.h"

#include <opencv2/core.hpp>

class AxisMapFit
{
public:
    struct Problem
    {
        cv::Mat target;      // CV_32F, channel 1's coordinates
        cv::Mat targetValid; // CV_8U, 255 = use; empty = all
        cv::Mat source;      // CV_32F, channel 2's coordinates
        cv::Mat sourceValid; // CV_8U, 255 = use; empty = all
        cv::Mat extra;       // CV_32F beside target, a second regressor; may be empty
        OverlayMap start;
        bool fitScale = true; // false: offsets only, scales stay as started
        int levels = 2;       // pyramid halvings below full size
        int iterations = 12;  // at most, per level
        // A level samples about this many usable pixels, thinning rows and
        // columns alike: the fit's precision is far below what they hold.
        int densePixels = 60000;
    };

    struct Result
    {
        OverlayMap map;
        double gain = 0;        // of the warped source
        double extraGain = 0;   // of the second regressor
        double explained = 0;   // fraction of the target's variance the model explains
        double correlation = 0; // of the target with the warped source alone
        int pixels = 0;         // used at full size
        bool converged = false;
    };

    static Result fit(const Problem &problem);
};

#endif // AXISMAPFIT_H
