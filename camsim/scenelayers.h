#pragma once

#include <QPainter>
#include <QRectF>
#include <QTransform>

// The simulated scene, object by object at its depth: a market hall and its
// fence, people and a hot pipe on the main plane, a hedge, a lamp and a sign
// nearer, trees and hills farther, the ground and the sky. Each object is
// described once in the visible lens's 640 x 480 frame and drawn either in
// visible colours or as temperatures (grey levels 0..255, the thermal
// palette's index); the thermal lens sees each plane through its own map.
class SceneLayers
{
public:
    // Everything in front of the sky, as the visible lens sees it.
    static void paintVisible(QPainter &p, const QTransform &layoutToDevice);
    static void paintSky(QPainter &p, const QTransform &layoutToDevice);
    // The drifting cloud of a frame, in front of the sky and behind the rest.
    static void paintCloud(QPainter &p, const QTransform &layoutToDevice, quint64 frame);
    static QRectF cloudBounds(quint64 frame);
    // The whole scene as temperatures in the thermal lens's frame.
    static void paintThermal(QPainter &p, const QTransform &thermalLayoutToDevice);

    // Temperatures above this one are the warm objects that pulse.
    static constexpr int warmFrom = 170;
};
