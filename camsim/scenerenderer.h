#pragma once

#include "camstate.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

// Draws the simulated scene as either channel sees it and encodes it as JPEG:
// channel 1 the visible lens's picture (with fusion on, the thermal picture of
// the same frame warped by the calibration and blended over it), channel 2
// the thermal lens's picture in false colour. Both are laid out in a 640 x 480
// frame, the frame of the calibration and of the alignment error, and drawn
// scaled to whatever size the channel streams. What does not change from frame
// to frame is drawn once per size and kept.
class SceneRenderer
{
public:
    static constexpr int width = 640;
    static constexpr int height = 480;

    static QImage render(int channel, const CamState::View &view, quint64 frame,
                         const QSize &size = QSize(width, height));
    static QByteArray jpeg(const QImage &image);

    // The thermal lens's picture of a frame at its sensor's resolution, in
    // false colour, without the on-screen text; the same for both channels.
    static QImage thermalSensorFrame(const CamState::View &view, quint64 frame);
    // The sensor's resolution for a thermal stream of `streamed` size.
    static QSize thermalSensorSize(const QSize &streamed);

private:
    static QImage visibleFrame(const QSize &size, quint64 frame);
    static void blendOverlay(QImage &visible, const CamState::View &view, quint64 frame);
};
