// Where the thermal picture lands in channel 1: a scale and an offset per
// axis, taking a pixel (u, v) of channel 2's picture to the pixel (x, y) of
// channel 1's picture where it is drawn. Both the camera's present overlay
// and the place the overlay must go are such maps, so their difference is
// what Auto Align measures and removes.
#ifndef OVERLAYMAP_H
#define OVERLAYMAP_H

#include <QRectF>

struct AxisMap
{
    double scale = 1.0;
    double offset = 0.0;

    double apply(double u) const { return scale * u + offset; }
    double invert(double x) const { return (x - offset) / scale; }
};

struct OverlayMap
{
    AxisMap x;
    AxisMap y;

    bool isValid() const;
};

// Mean distance, in channel-1 pixels, between where `actual` and `wanted`
// put the thermal pixels that `wanted` places on a grid over `region` (a
// rectangle of channel 1). Both maps must be valid.
double meanDistance(const OverlayMap &actual, const OverlayMap &wanted, const QRectF &region);

#endif // OVERLAYMAP_H
