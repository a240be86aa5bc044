#pragma once

#include "camstate.h"

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QSize>

// Draws the simulated scene as either channel sees it and encodes it as JPEG:
// channel 1 the visible picture (with the thermal overlay when fusion is on),
// channel 2 the thermal picture in false colour. The scene is laid out in a
// 640 x 480 picture, the frame of the calibration and of the alignment error,
// and drawn scaled to whatever size the channel streams.
class SceneRenderer
{
public:
    static constexpr int width = 640;
    static constexpr int height = 480;

    static QImage render(int channel, const CamState::Calibration &calibration, bool fusionOn,
                         quint64 frame, const QSize &size = QSize(width, height));
    static QByteArray jpeg(const QImage &image);

private:
    static void drawVisible(QPainter &p, quint64 frame);
    static void drawThermal(QPainter &p, const CamState::Calibration &calibration, double opacity,
                            quint64 frame);
};
