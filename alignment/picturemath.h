// The picture arithmetic that Auto Align's analyses share: gray and gradient
// pictures, warping channel 2 into channel 1 by an OverlayMap, pyramids whose
// levels keep the map exact, and a phase correlation that does not depend on
// earlier calls. Everything is a pure function.
#ifndef PICTUREMATH_H
#define PICTUREMATH_H

#include "overlaymap.h"

#include <opencv2/core.hpp>

#include <vector>

namespace PictureMath {

// A picture of 1, 3 or 4 bytes a pixel (gray, BGR, BGRX) as CV_32F gray;
// empty for anything else.
cv::Mat grayFloat(const cv::Mat &picture);

// Gradient magnitude of a lightly blurred picture, divided by its local mean
// so that strong and weak regions weigh alike. CV_32F. `perChannel` takes
// the colour channels together, so that a false-colour palette whose
// brightness is not monotonic still gives one edge per edge.
cv::Mat normalisedGradient(const cv::Mat &picture, double blurSigma, bool perChannel);

// The 2x3 matrix that warpAffine needs to draw channel 2 into channel 1.
cv::Matx23d affine(const OverlayMap &map);

// Draws `source` (channel 2 coordinates) into a picture of `size` (channel 1
// coordinates), bilinear; outside the source the value is `fill`.
cv::Mat warpToChannel1(const cv::Mat &source, const OverlayMap &map, cv::Size size, double fill);

// 255 where channel 1's pixel takes its value from inside the source picture
// with a margin of `margin` source pixels, and where `sourceValid` (channel 2,
// 255 = usable; empty = all) is set there.
cv::Mat footprint(const OverlayMap &map, cv::Size sourceSize, cv::Size size, double margin,
                  const cv::Mat &sourceValid = cv::Mat());

// The map between two pyramid levels: `f1` and `f2` are the factors (level
// size / full size) of channel 1 and channel 2 per axis, pixel centres kept.
AxisMap axisToLevel(const AxisMap &axis, double f1, double f2);
AxisMap axisFromLevel(const AxisMap &axis, double f1, double f2);
OverlayMap mapToLevel(const OverlayMap &map, cv::Size full1, cv::Size level1, cv::Size full2,
                      cv::Size level2);
OverlayMap mapFromLevel(const OverlayMap &map, cv::Size full1, cv::Size level1, cv::Size full2,
                        cv::Size level2);

// `map` with both scales multiplied by `factor`, keeping where the centre of
// the source picture lands.
OverlayMap scaledAbout(const OverlayMap &map, cv::Size source, double factor);

// The map that stretches a picture of `source` over one of `size`.
OverlayMap stretch(cv::Size source, cv::Size size);

// Halves a picture `levels` times (area average); element 0 is the picture.
std::vector<cv::Mat> pyramid(const cv::Mat &picture, int levels);
// The same for a mask (255 = usable): a level pixel is usable only when all
// the pixels it averages are.
std::vector<cv::Mat> maskPyramid(const cv::Mat &mask, cv::Size size, int levels);

// cv::phaseCorrelate with a Hanning window, on fresh copies of its inputs and
// of its window: OpenCV 4.6 otherwise gave results that depended on earlier
// calls. The shift is where `moved` shows what `reference` shows.
cv::Point2d phaseCorrelate(const cv::Mat &reference, const cv::Mat &moved, double *response);

// Standard deviation of the fine-scale noise, from the response to a
// Laplacian-like kernel that cancels smooth content; `ignore` (255 = skip)
// may be empty.
double noiseSigma(const cv::Mat &gray, const cv::Mat &ignore);

// `ignore` (255 = skip, empty = nothing) as a mask of usable pixels.
cv::Mat usable(const cv::Mat &ignore, cv::Size size);

} // namespace PictureMath

#endif // PICTUREMATH_H
