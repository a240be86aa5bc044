#pragma once

#include "camstate.h"

#include <QByteArray>
#include <QImage>
#include <QPointF>

// Draws the simulated scene as either channel sees it and encodes it as JPEG:
// channel 1 the visible picture (with the thermal overlay when fusion is on),
// channel 2 the thermal picture in false colour.
class SceneRenderer
{
public:
    static constexpr int width = 640;
    static constexpr int height = 480;

    static QImage render(int channel, const CamState::Calibration &calibration, bool fusionOn,
                         quint64 frame);
    static QByteArray jpeg(const QImage &image);

private:
    static void drawVisible(QImage &image, quint64 frame);
    static void drawThermal(QImage &image, const CamState::Calibration &calibration, double opacity,
                            quint64 frame);
};
