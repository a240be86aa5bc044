#include "scenerenderer.h"

#include <QBuffer>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>

namespace {

void drawLabel(QPainter &p, const QString &text)
{
    QFont font = p.font();
    font.setPixelSize(18);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QPointF(13, 29), text);
    p.setPen(Qt::white);
    p.drawText(QPointF(12, 28), text);
}

} // namespace

QImage SceneRenderer::render(int channel, const CamState::Calibration &calibration, bool fusionOn,
                             quint64 frame, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    // Everything below is laid out in the 640 x 480 frame, so that the overlay
    // sits where the alignment error says, whatever size is streamed.
    p.scale(size.width() / double(width), size.height() / double(height));
    if (channel == 2) {
        // The thermal channel shows its own lens's view, not the calibrated overlay.
        drawThermal(p, CamState::thermalLensView(), 1.0, frame);
    } else {
        drawVisible(p, frame);
        if (fusionOn)
            drawThermal(p, calibration, 0.55, frame);
    }
    drawLabel(p, QStringLiteral("Channel %1 %2  frame %3")
                     .arg(channel)
                     .arg(channel == 2 ? QStringLiteral("thermal") : QStringLiteral("visible"))
                     .arg(frame));
    return image;
}

QByteArray SceneRenderer::jpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return bytes;
}

void SceneRenderer::drawVisible(QPainter &p, quint64 frame)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height * 0.55);
    sky.setColorAt(0, QColor(90, 150, 220));
    sky.setColorAt(1, QColor(190, 220, 245));
    p.fillRect(QRectF(0, 0, width, height * 0.55), sky);
    p.fillRect(QRectF(0, height * 0.55, width, height * 0.45), QColor(95, 140, 70));
    p.fillRect(QRectF(60, 150, 120, 115), QColor(170, 120, 90));
    p.fillRect(QRectF(520, 170, 80, 95), QColor(150, 150, 160));
    // A drifting cloud, so that a frozen stream is visible at a glance.
    const double cloudX = std::fmod(frame * 2.0, width + 160.0) - 80;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 250, 250, 220));
    p.drawEllipse(QPointF(cloudX, 60), 60, 22);
    for (const QPointF &centre : CamState::warmObjects()) {
        p.setBrush(QColor(60, 60, 70));
        p.drawEllipse(centre, 30, 30);
        p.setBrush(QColor(230, 80, 40));
        p.drawEllipse(centre, 8, 8);
    }
    p.restore();
}

void SceneRenderer::drawThermal(QPainter &p, const CamState::Calibration &calibration,
                                double opacity, quint64 frame)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(opacity);
    QLinearGradient cold(0, 0, 0, height);
    cold.setColorAt(0, QColor(10, 0, 40));
    cold.setColorAt(1, QColor(40, 0, 90));
    p.fillRect(QRectF(0, 0, width, height), cold);
    const double sx = calibration.horScale / double(CamState::idealScale);
    const double sy = calibration.verScale / double(CamState::idealScale);
    const double pulse = 1.0 + 0.05 * std::sin(frame * 0.2);
    p.setPen(Qt::NoPen);
    for (const QPointF &object : CamState::warmObjects()) {
        const QPointF centre = CamState::overlayPosition(calibration, object);
        QRadialGradient heat(centre, 34 * pulse);
        heat.setColorAt(0, QColor(255, 255, 220));
        heat.setColorAt(0.35, QColor(255, 200, 0));
        heat.setColorAt(0.7, QColor(230, 40, 0));
        heat.setColorAt(1, QColor(120, 0, 80, 0));
        p.setBrush(heat);
        p.drawEllipse(centre, 34 * sx * pulse, 34 * sy * pulse);
    }
    p.restore();
}
