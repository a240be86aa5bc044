// The arithmetic of Auto Align's loop, apart from any picture: how the
// overlay map answers one step of each calibration value (learnt from probe
// steps and refined after every correction), and which integer values bring
// the map closest to where it must go. Each axis has its own pair of values,
// the bias and the scale ratio, whose response is a full 2 x 2 matrix: a
// camera may scale about the centre or a corner, so a scale step may move the
// offset too, and nothing is assumed about gains or signs.
#ifndef CALIBRATIONSOLVER_H
#define CALIBRATIONSOLVER_H

#include "calibrationxml.h"
#include "overlaymap.h"

#include <QRectF>

class CalibrationSolver
{
public:
    enum Axis
    {
        Horizontal,
        Vertical
    };

    // One axis's values, bias first, and their inclusive ranges.
    struct AxisValues
    {
        int bias = 0;
        int scale = 0;
    };
    struct AxisRanges
    {
        int biasMin = 0, biasMax = 0;
        int scaleMin = 0, scaleMax = 0;
    };

    // Change of the axis map's scale and offset per step of each value.
    struct Response
    {
        double scalePerBias = 0, offsetPerBias = 0;
        double scalePerScale = 0, offsetPerScale = 0;
    };

    struct Proposal
    {
        SettingParams values;
        OverlayMap predicted;     // the map the values should give
        double predictedResidual; // against the target, channel-1 pixels
    };

    CalibrationSolver(const SettingParamsCap &ranges, const QRectF &region);

    static AxisValues axisValues(const SettingParams &p, Axis axis);
    static void setAxisValues(SettingParams *p, Axis axis, AxisValues v);
    static const AxisMap &axisMap(const OverlayMap &m, Axis axis);
    static AxisMap &axisMap(OverlayMap &m, Axis axis);

    // A probe of `steps` of one value (bias when `bias`), from `before` to
    // `after`; sets that column of the response.
    void learnProbe(Axis axis, bool bias, int steps, const AxisMap &before, const AxisMap &after);
    bool knows() const;
    Response response(Axis axis) const { return m_response[axis]; }

    // Refines both axes' responses from a correction that moved the values
    // from `from` to `to` and the measured map from `before` to `after`.
    void learnMove(const SettingParams &from, const SettingParams &to, const OverlayMap &before,
                   const OverlayMap &after);

    // The map the values `to` should give, from the map measured at `from`.
    OverlayMap predict(const SettingParams &from, const OverlayMap &at,
                       const SettingParams &to) const;

    // The integer values within the ranges that bring the map measured at
    // `current` closest to `target`; the distance level is never changed.
    Proposal propose(const SettingParams &current, const OverlayMap &at,
                     const OverlayMap &target) const;

    // How far the overlay moves, in channel-1 pixels, for one bias step of
    // either axis, whichever is less; half of it is what integers allow.
    double smallestStepPx() const;

    double residual(const OverlayMap &at, const OverlayMap &target) const;
    // How far one axis of the overlay lies between two maps, channel-1 pixels.
    double axisMovePx(Axis axis, const OverlayMap &a, const OverlayMap &b) const;

    AxisRanges ranges(Axis axis) const;

private:
    AxisValues bestOnAxis(Axis axis, AxisValues current, const AxisMap &at,
                          const AxisMap &target) const;
    double axisError(Axis axis, const AxisMap &map, const AxisMap &target) const;

    SettingParamsCap m_ranges;
    QRectF m_region;
    Response m_response[2];
    bool m_knownBias[2] = {false, false};
    bool m_knownScale[2] = {false, false};
};

#endif // CALIBRATIONSOLVER_H
