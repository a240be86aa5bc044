#include "overlaymap.h"

#include <cmath>

namespace {

// Both maps are affine per axis, so the distance varies smoothly and a
// modest grid gives its mean to far better than a hundredth of a pixel.
constexpr int gridSteps = 16;

} // namespace

bool OverlayMap::isValid() const
{
    return std::isfinite(x.scale) && std::isfinite(x.offset) && std::isfinite(y.scale) &&
           std::isfinite(y.offset) && x.scale > 0 && y.scale > 0;
}

double meanDistance(const OverlayMap &actual, const OverlayMap &wanted, const QRectF &region)
{
    double sum = 0;
    for (int i = 0; i < gridSteps; ++i) {
        const double px = region.left() + region.width() * (i + 0.5) / gridSteps;
        const double u = wanted.x.invert(px);
        const double dx = actual.x.apply(u) - px;
        for (int j = 0; j < gridSteps; ++j) {
            const double py = region.top() + region.height() * (j + 0.5) / gridSteps;
            const double v = wanted.y.invert(py);
            sum += std::hypot(dx, actual.y.apply(v) - py);
        }
    }
    return sum / (gridSteps * gridSteps);
}
