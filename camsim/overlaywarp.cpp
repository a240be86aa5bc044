#include "overlaywarp.h"

#include "lensrig.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int gridColumns = 8;
constexpr int gridRows = 6;
constexpr int candidatesPerAxis = 4;

double gridX(int i)
{
    return (i + 0.5) * 640.0 / gridColumns;
}

double gridY(int j)
{
    return (j + 0.5) * 480.0 / gridRows;
}

} // namespace

double OverlayWarp::scaleFactor(int scale) const
{
    return 1.0 + m_mapping.scaleGain * (scale - 64);
}

double OverlayWarp::shift(int bias) const
{
    return m_mapping.shiftGain * (bias - 100);
}

QTransform OverlayWarp::transform(const CamState::Calibration &c) const
{
    const double kx = scaleFactor(c.horScale);
    const double ky = scaleFactor(c.verScale);
    const QPointF pivot = m_mapping.cornerPivot ? QPointF(0, 0) : QPointF(320, 240);
    const QPointF compensation = LensRig::parallax(LensRig::levelDepth(c.distanceLevel));
    return QTransform(kx, 0, 0, ky, pivot.x() * (1 - kx) + shift(c.horShift) + compensation.x(),
                      pivot.y() * (1 - ky) + shift(c.verShift) + compensation.y());
}

double OverlayWarp::error(const CamState::Calibration &c) const
{
    const QTransform toThermal = LensRig::planeToThermal(LensRig::mainDepth());
    const QTransform overlay = toThermal * transform(c);
    double sum = 0;
    for (int j = 0; j < gridRows; ++j) {
        for (int i = 0; i < gridColumns; ++i) {
            const QPointF seen(gridX(i), gridY(j));
            const QPointF drawn = overlay.map(seen);
            sum += std::hypot(drawn.x() - seen.x(), drawn.y() - seen.y());
        }
    }
    return sum / (gridColumns * gridRows);
}

QVector<OverlayWarp::AxisCandidate> OverlayWarp::bestOnAxis(bool vertical, int level,
                                                            const CamState::Range &scales,
                                                            const CamState::Range &biases,
                                                            int currentBias) const
{
    // Each axis of the warp is affine in its own coordinate alone, so the
    // squared error over the grid's coordinates on one axis ranks the pairs.
    const QTransform toThermal = LensRig::planeToThermal(LensRig::mainDepth());
    const double pivot = m_mapping.cornerPivot ? 0 : (vertical ? 240 : 320);
    const QPointF compensation = LensRig::parallax(LensRig::levelDepth(level));
    const double p = vertical ? compensation.y() : compensation.x();
    const int count = vertical ? gridRows : gridColumns;
    QVector<AxisCandidate> found;
    for (int scale = scales.min; scale <= scales.max; ++scale) {
        const double k = scaleFactor(scale);
        QVector<double> residual;
        double mean = 0;
        for (int i = 0; i < count; ++i) {
            const QPointF seen = vertical ? QPointF(320, gridY(i)) : QPointF(gridX(i), 240);
            const QPointF thermal = toThermal.map(seen);
            const double u = vertical ? thermal.y() : thermal.x();
            const double c = vertical ? seen.y() : seen.x();
            residual.append(pivot + k * (u - pivot) + p - c);
            mean += residual.last() / count;
        }
        int tries[2] = {currentBias, currentBias};
        if (m_mapping.shiftGain != 0) {
            const double ideal = 100 - mean / m_mapping.shiftGain;
            tries[0] = int(std::clamp(std::floor(ideal), double(biases.min), double(biases.max)));
            tries[1] = int(std::clamp(std::ceil(ideal), double(biases.min), double(biases.max)));
        }
        for (int bias : tries) {
            double squares = 0;
            for (double r : residual)
                squares += (r + shift(bias)) * (r + shift(bias));
            found.append({scale, bias, squares});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const AxisCandidate &a, const AxisCandidate &b) { return a.squares < b.squares; });
    found.resize(std::min(int(found.size()), candidatesPerAxis));
    return found;
}

CamState::Calibration OverlayWarp::best(const CamState::Calibration &current,
                                        const CamState::Caps &caps, double *floor) const
{
    const int level = current.distanceLevel;
    const QVector<AxisCandidate> across =
        bestOnAxis(false, level, caps.horScale, caps.horShift, current.horShift);
    const QVector<AxisCandidate> down =
        bestOnAxis(true, level, caps.verScale, caps.verShift, current.verShift);
    CamState::Calibration best = current;
    *floor = error(current);
    for (const AxisCandidate &h : across) {
        for (const AxisCandidate &v : down) {
            const CamState::Calibration c{level, h.scale, v.scale, h.bias, v.bias};
            const double e = error(c);
            if (e < *floor) {
                *floor = e;
                best = c;
            }
        }
    }
    return best;
}
