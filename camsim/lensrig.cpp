#include "lensrig.h"

#include <cmath>

namespace {

constexpr double centreX = 320.0;
constexpr double centreY = 240.0;
// Thermal focal length over the visible one: the factory scale ratio 72
// against the neutral 64 magnifies the thermal picture by 72 / 64.
constexpr double focalRatio = 64.0 / 72.0;
// The thermal lens sits beside and below the visible one.
constexpr double baselineX = 0.065;
constexpr double baselineY = 0.02;
// Its optical centre is where the factory calibration (horizontal bias 82,
// vertical 112, 1 pixel a step at level 6) lands the overlay exactly.
constexpr double thermalCentreX = centreX + 18.0 * focalRatio;
constexpr double thermalCentreY = centreY - 12.0 * focalRatio;

} // namespace

double LensRig::levelDepth(int level)
{
    // 2 m at level 1 to 50 m at level 10, evenly in log depth.
    return 2.0 * std::pow(25.0, (level - 1) / 9.0);
}

QPointF LensRig::toThermal(const QPointF &visible, double depth)
{
    return planeToThermal(depth).map(visible);
}

QTransform LensRig::planeToThermal(double depth)
{
    const QPointF shift = parallax(depth) * focalRatio;
    return QTransform(focalRatio, 0, 0, focalRatio,
                      thermalCentreX - focalRatio * centreX - shift.x(),
                      thermalCentreY - focalRatio * centreY - shift.y());
}

QTransform LensRig::groundToThermal(double horizon, double lensHeight)
{
    // On the ground 1 / depth grows linearly with the row below the horizon,
    // and so does the parallax: the map stays affine, a shear.
    const double perRowX = focalRatio * baselineX / lensHeight;
    const double perRowY = focalRatio * baselineY / lensHeight;
    return QTransform(focalRatio, 0, -perRowX, focalRatio - perRowY,
                      thermalCentreX - focalRatio * centreX + perRowX * horizon,
                      thermalCentreY - focalRatio * centreY + perRowY * horizon);
}

QPointF LensRig::parallax(double depth)
{
    if (!std::isfinite(depth))
        return QPointF();
    return QPointF(visibleFocal * baselineX / depth, visibleFocal * baselineY / depth);
}
