#pragma once

#include "camstate.h"

#include <QPointF>
#include <QTransform>

// The camera's fusion warp: where the fused overlay draws a point of the
// thermal picture under a calibration, per axis
//   x = pivot + k (u - pivot) + shift + parallax compensation of the level,
// with k and shift set by the scale and bias values through the mapping, and
// how far that lies from where the visible picture shows the same point.
class OverlayWarp
{
public:
    explicit OverlayWarp(const CamState::Mapping &mapping) : m_mapping(mapping) {}

    // Thermal layout frame to visible layout frame.
    QTransform transform(const CamState::Calibration &c) const;
    // Mean distance in pixels over a grid of points on the main plane.
    double error(const CamState::Calibration &c) const;
    // The integer values within `caps` at the level of `current` that give the
    // smallest error, and that error.
    CamState::Calibration best(const CamState::Calibration &current, const CamState::Caps &caps,
                               double *floor) const;

private:
    struct AxisCandidate
    {
        int scale;
        int bias;
        double squares;
    };
    QVector<AxisCandidate> bestOnAxis(bool vertical, int level, const CamState::Range &scales,
                                      const CamState::Range &biases, int currentBias) const;
    double scaleFactor(int scale) const;
    double shift(int bias) const;

    CamState::Mapping m_mapping;
};
