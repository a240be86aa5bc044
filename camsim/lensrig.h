#pragma once

#include <QPointF>
#include <QTransform>

// The simulated camera's two lenses as pinhole models with parallel axes: the
// visible lens at the origin, the thermal lens a baseline beside it with a
// wider field of view, an optical centre off the frame centre and its own
// sensor. Both pictures are described in the 640 x 480 layout frame; a plane of
// the scene facing the camera, and the ground, reach the thermal frame by an
// affine map, so that each can be drawn once per lens through a transform.
class LensRig
{
public:
    // The level whose plane carries most of the scene.
    static constexpr int mainLevel = 6;

    // The depth in metres that distance level 1..10 compensates; grows with the level.
    static double levelDepth(int level);
    static double mainDepth() { return levelDepth(mainLevel); }

    // Where the thermal lens sees a point that the visible lens sees at
    // `visible`, on a plane facing the camera at `depth` metres.
    static QPointF toThermal(const QPointF &visible, double depth);
    // The same as a map from the visible frame to the thermal frame.
    static QTransform planeToThermal(double depth);
    // For the ground: a plane below the lenses, seen up to the horizon row.
    static QTransform groundToThermal(double horizonY, double lensHeight);

    // The parallax at `depth`, in pixels of the visible frame: how far the
    // magnified thermal picture of that plane lies from the visible one.
    static QPointF parallax(double depth);

    // Visible focal length in layout pixels, and the row of the horizon.
    static constexpr double visibleFocal = 690.0;
    static constexpr double horizonY = 195.0;
};
