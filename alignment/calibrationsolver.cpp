#include "calibrationsolver.h"

#include <algorithm>
#include <cmath>

namespace {

// Samples per axis of the region, for the error of one axis's map.
constexpr int axisSamples = 32;
// A response matrix this close to singular tells the two values apart no
// better than measurement noise does.
constexpr double singularDeterminant = 1e-12;

int clampTo(int v, int lo, int hi)
{
    return std::min(std::max(v, lo), hi);
}

} // namespace

CalibrationSolver::CalibrationSolver(const SettingParamsCap &ranges, const QRectF &region)
    : m_ranges(ranges), m_region(region)
{
}

CalibrationSolver::AxisValues CalibrationSolver::axisValues(const SettingParams &p, Axis axis)
{
    return axis == Horizontal ? AxisValues{p.horShift, p.horScale}
                              : AxisValues{p.verShift, p.verScale};
}

void CalibrationSolver::setAxisValues(SettingParams *p, Axis axis, AxisValues v)
{
    if (axis == Horizontal) {
        p->horShift = v.bias;
        p->horScale = v.scale;
    } else {
        p->verShift = v.bias;
        p->verScale = v.scale;
    }
}

const AxisMap &CalibrationSolver::axisMap(const OverlayMap &m, Axis axis)
{
    return axis == Horizontal ? m.x : m.y;
}

AxisMap &CalibrationSolver::axisMap(OverlayMap &m, Axis axis)
{
    return axis == Horizontal ? m.x : m.y;
}

CalibrationSolver::AxisRanges CalibrationSolver::ranges(Axis axis) const
{
    const ParamRange &bias = axis == Horizontal ? m_ranges.horShift : m_ranges.verShift;
    const ParamRange &scale = axis == Horizontal ? m_ranges.horScale : m_ranges.verScale;
    return {bias.min.toInt(), bias.max.toInt(), scale.min.toInt(), scale.max.toInt()};
}

void CalibrationSolver::learnProbe(Axis axis, bool bias, int steps, const AxisMap &before,
                                   const AxisMap &after)
{
    Response &r = m_response[axis];
    const double ds = (after.scale - before.scale) / steps;
    const double dt = (after.offset - before.offset) / steps;
    if (bias) {
        r.scalePerBias = ds;
        r.offsetPerBias = dt;
        m_knownBias[axis] = true;
    } else {
        r.scalePerScale = ds;
        r.offsetPerScale = dt;
        m_knownScale[axis] = true;
    }
}

bool CalibrationSolver::knows() const
{
    return m_knownBias[0] && m_knownBias[1] && m_knownScale[0] && m_knownScale[1];
}

void CalibrationSolver::learnMove(const SettingParams &from, const SettingParams &to,
                                  const OverlayMap &before, const OverlayMap &after)
{
    // Broyden's update: the smallest change of the matrix that explains the
    // move just measured, so that what the probes taught is kept elsewhere.
    for (Axis axis : {Horizontal, Vertical}) {
        const AxisValues a = axisValues(from, axis), b = axisValues(to, axis);
        const double db = b.bias - a.bias, dk = b.scale - a.scale;
        const double norm = db * db + dk * dk;
        if (norm == 0)
            continue;
        Response &r = m_response[axis];
        const AxisMap &m0 = axisMap(before, axis), &m1 = axisMap(after, axis);
        const double es = (m1.scale - m0.scale) - (r.scalePerBias * db + r.scalePerScale * dk);
        const double et = (m1.offset - m0.offset) - (r.offsetPerBias * db + r.offsetPerScale * dk);
        r.scalePerBias += es * db / norm;
        r.scalePerScale += es * dk / norm;
        r.offsetPerBias += et * db / norm;
        r.offsetPerScale += et * dk / norm;
    }
}

OverlayMap CalibrationSolver::predict(const SettingParams &from, const OverlayMap &at,
                                      const SettingParams &to) const
{
    OverlayMap out = at;
    for (Axis axis : {Horizontal, Vertical}) {
        const AxisValues a = axisValues(from, axis), b = axisValues(to, axis);
        const double db = b.bias - a.bias, dk = b.scale - a.scale;
        const Response &r = m_response[axis];
        AxisMap &m = axisMap(out, axis);
        m.scale += r.scalePerBias * db + r.scalePerScale * dk;
        m.offset += r.offsetPerBias * db + r.offsetPerScale * dk;
    }
    return out;
}

double CalibrationSolver::axisError(Axis axis, const AxisMap &map, const AxisMap &target) const
{
    const double lo = axis == Horizontal ? m_region.left() : m_region.top();
    const double span = axis == Horizontal ? m_region.width() : m_region.height();
    double sum = 0;
    for (int i = 0; i < axisSamples; ++i) {
        const double p = lo + span * (i + 0.5) / axisSamples;
        const double d = map.apply(target.invert(p)) - p;
        sum += d * d;
    }
    return std::sqrt(sum / axisSamples);
}

CalibrationSolver::AxisValues CalibrationSolver::bestOnAxis(Axis axis, AxisValues current,
                                                            const AxisMap &at,
                                                            const AxisMap &target) const
{
    const Response &r = m_response[axis];
    const double wantScale = target.scale - at.scale;
    const double wantOffset = target.offset - at.offset;
    double db = 0, dk = 0;
    const double det = r.scalePerBias * r.offsetPerScale - r.scalePerScale * r.offsetPerBias;
    if (std::abs(det) > singularDeterminant) {
        db = (wantScale * r.offsetPerScale - r.scalePerScale * wantOffset) / det;
        dk = (r.scalePerBias * wantOffset - wantScale * r.offsetPerBias) / det;
    } else if (r.offsetPerBias != 0) {
        db = wantOffset / r.offsetPerBias;
    }
    const AxisRanges range = ranges(axis);
    // Not finite means the response is unusable: stay where we are.
    if (!std::isfinite(db) || !std::isfinite(dk))
        return current;
    const double b0 = std::clamp(current.bias + db, double(range.biasMin), double(range.biasMax));
    const double k0 =
        std::clamp(current.scale + dk, double(range.scaleMin), double(range.scaleMax));
    // The integers around the continuous answer; rounding each alone can
    // miss the best pair when a scale step also moves the offset.
    AxisValues best = current;
    double bestError = -1;
    int bestMove = 0;
    for (int bi = int(std::floor(b0)) - 1; bi <= int(std::ceil(b0)) + 1; ++bi) {
        for (int ki = int(std::floor(k0)) - 1; ki <= int(std::ceil(k0)) + 1; ++ki) {
            const AxisValues v{clampTo(bi, range.biasMin, range.biasMax),
                               clampTo(ki, range.scaleMin, range.scaleMax)};
            AxisMap m = at;
            const double vb = v.bias - current.bias, vk = v.scale - current.scale;
            m.scale += r.scalePerBias * vb + r.scalePerScale * vk;
            m.offset += r.offsetPerBias * vb + r.offsetPerScale * vk;
            if (!(m.scale > 0))
                continue;
            const double e = axisError(axis, m, target);
            const int move = std::abs(v.bias - current.bias) + std::abs(v.scale - current.scale);
            // Ties keep the values that move least, so that noise cannot
            // make the loop wander between equal settings.
            if (bestError < 0 || e < bestError - 1e-9 ||
                (e < bestError + 1e-9 && move < bestMove)) {
                bestMove = move;
                best = v;
                bestError = e;
            }
        }
    }
    return best;
}

CalibrationSolver::Proposal CalibrationSolver::propose(const SettingParams &current,
                                                       const OverlayMap &at,
                                                       const OverlayMap &target) const
{
    Proposal p;
    p.values = current;
    for (Axis axis : {Horizontal, Vertical}) {
        const AxisValues v =
            bestOnAxis(axis, axisValues(current, axis), axisMap(at, axis), axisMap(target, axis));
        setAxisValues(&p.values, axis, v);
    }
    p.predicted = predict(current, at, p.values);
    p.predictedResidual = residual(p.predicted, target);
    return p;
}

double CalibrationSolver::smallestStepPx() const
{
    return std::min(std::abs(m_response[Horizontal].offsetPerBias),
                    std::abs(m_response[Vertical].offsetPerBias));
}

double CalibrationSolver::residual(const OverlayMap &at, const OverlayMap &target) const
{
    return meanDistance(at, target, m_region);
}

double CalibrationSolver::axisMovePx(Axis axis, const OverlayMap &a, const OverlayMap &b) const
{
    return axisError(axis, axisMap(a, axis), axisMap(b, axis));
}
