#include "scenerenderer.h"

#include "overlaywarp.h"
#include "scenelayers.h"

#include <QBuffer>
#include <QFont>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>

namespace {

// How much of the fused picture is the thermal overlay: most of it, and
// nearly all where it is hot, so that warm objects stand out as they do on a camera.
constexpr double overlayOpacity = 0.6;
constexpr double hotOpacity = 0.95;
constexpr int warmFrom = 150;
constexpr int hotFrom = 180;
// The thermal sensor's resolution against its stream's.
constexpr double sensorShare = 0.4;
// The one temperature of a scene at thermal crossover.
constexpr int crossoverTemperature = 96;

// The visible picture without the cloud: the sky alone, everything in front
// of it alone, and both together.
struct VisibleLayers
{
    QImage sky;
    QImage front;
    QImage composed;
};

// Temperatures as the thermal sensor sees them, blurred by its optics.
struct ThermalLayer
{
    QSize size;
    QVector<quint8> temperature;
};

struct SizeOrder
{
    bool operator()(const QSize &a, const QSize &b) const
    {
        return a.width() != b.width() ? a.width() < b.width() : a.height() < b.height();
    }
};

QTransform layoutTo(const QSize &size)
{
    return QTransform::fromScale(size.width() / 640.0, size.height() / 480.0);
}

std::shared_ptr<const VisibleLayers> buildVisible(const QSize &size)
{
    auto layers = std::make_shared<VisibleLayers>();
    layers->sky = QImage(size, QImage::Format_RGB32);
    QPainter sky(&layers->sky);
    SceneLayers::paintSky(sky, layoutTo(size));
    sky.end();
    layers->front = QImage(size, QImage::Format_ARGB32_Premultiplied);
    layers->front.fill(Qt::transparent);
    QPainter front(&layers->front);
    SceneLayers::paintVisible(front, layoutTo(size));
    front.end();
    layers->composed = layers->sky;
    QPainter both(&layers->composed);
    both.drawImage(0, 0, layers->front);
    return layers;
}

// Two passes of a box of three on each axis, about a Gaussian blur of one pixel.
void blur(QVector<quint8> &values, int w, int h)
{
    QVector<quint8> tmp(values.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y) {
            const quint8 *row = values.constData() + y * w;
            for (int x = 0; x < w; ++x)
                tmp[y * w + x] = quint8(
                    (row[std::max(0, x - 1)] + row[x] + row[std::min(w - 1, x + 1)] + 1) / 3);
        }
        for (int y = 0; y < h; ++y) {
            const int up = std::max(0, y - 1) * w, down = std::min(h - 1, y + 1) * w;
            for (int x = 0; x < w; ++x)
                values[y * w + x] = quint8((tmp[up + x] + tmp[y * w + x] + tmp[down + x] + 1) / 3);
        }
    }
}

std::shared_ptr<const ThermalLayer> buildThermal(const QSize &sensor)
{
    QImage grey(sensor, QImage::Format_RGB32);
    QPainter p(&grey);
    SceneLayers::paintThermal(p, layoutTo(sensor));
    p.end();
    auto layer = std::make_shared<ThermalLayer>();
    layer->size = sensor;
    layer->temperature.resize(sensor.width() * sensor.height());
    for (int y = 0; y < sensor.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(grey.constScanLine(y));
        for (int x = 0; x < sensor.width(); ++x)
            layer->temperature[y * sensor.width() + x] = quint8(qRed(line[x]));
    }
    blur(layer->temperature, sensor.width(), sensor.height());
    return layer;
}

// Built on first use for each size, then shared by every thread that draws.
template<typename Layer>
std::shared_ptr<const Layer> cached(const QSize &size,
                                    std::shared_ptr<const Layer> (*build)(const QSize &))
{
    static QMutex mutex;
    static std::map<QSize, std::shared_ptr<const Layer>, SizeOrder> layers;
    QMutexLocker lock(&mutex);
    auto it = layers.find(size);
    if (it == layers.end())
        it = layers.emplace(size, build(size)).first;
    return it->second;
}

// The false-colour palette: violet-black for cold through magenta, red and
// yellow to white for hot.
const QVector<QRgb> &palette()
{
    static const QVector<QRgb> colours = [] {
        const int stops[][4] = {{0, 12, 0, 42},      {64, 50, 0, 115},    {128, 140, 10, 140},
                                {170, 215, 50, 70},  {205, 250, 140, 10}, {232, 255, 215, 40},
                                {255, 255, 255, 235}};
        QVector<QRgb> table(256);
        for (int i = 0; i + 1 < int(std::size(stops)); ++i) {
            const int *a = stops[i], *b = stops[i + 1];
            for (int t = a[0]; t <= b[0]; ++t) {
                const double f = double(t - a[0]) / (b[0] - a[0]);
                table[size_t(t)] =
                    qRgb(int(a[1] + f * (b[1] - a[1]) + 0.5), int(a[2] + f * (b[2] - a[2]) + 0.5),
                         int(a[3] + f * (b[3] - a[3]) + 0.5));
            }
        }
        return table;
    }();
    return colours;
}

// The palette as the overlay lays it over the visible picture.
const QVector<QRgb> &overlayPalette()
{
    static const QVector<QRgb> colours = [] {
        QVector<QRgb> table = palette();
        for (int t = 0; t < 256; ++t) {
            const double f = std::clamp(double(t - warmFrom) / (hotFrom - warmFrom), 0.0, 1.0);
            const double a = overlayOpacity + f * (hotOpacity - overlayOpacity);
            table[t] = qPremultiply(
                qRgba(qRed(table[t]), qGreen(table[t]), qBlue(table[t]), int(a * 255 + 0.5)));
        }
        return table;
    }();
    return colours;
}

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

QSize SceneRenderer::thermalSensorSize(const QSize &streamed)
{
    return QSize(std::max(64, int(std::lround(streamed.width() * sensorShare))),
                 std::max(48, int(std::lround(streamed.height() * sensorShare))));
}

QImage SceneRenderer::thermalSensorFrame(const CamState::View &view, quint64 frame)
{
    const auto layer = cached<ThermalLayer>(thermalSensorSize(view.thermalSize), &buildThermal);
    // The warm objects glow a little more and less, slowly.
    const double pulse = 0.18 * std::sin(frame * 0.2);
    std::array<double, 256> pulsed;
    for (int t = 0; t < 256; ++t)
        pulsed[size_t(t)] = view.crossover ? crossoverTemperature
                                           : t + std::max(0, t - SceneLayers::warmFrom) * pulse;
    QImage image(layer->size, QImage::Format_Indexed8);
    image.setColorTable(palette());
    // Sensor noise, the same for a frame wherever it is drawn.
    quint32 seed = quint32(frame * 2654435761u) ^ 0x5bd1e995u;
    const quint8 *t = layer->temperature.constData();
    for (int y = 0; y < layer->size.height(); ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < layer->size.width(); ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const double noise = (int(seed & 0xff) + int((seed >> 8) & 0xff) - 255) / 40.0;
            const int value = int(std::lround(pulsed[*t++] + noise));
            line[x] = uchar(std::clamp(value, 0, 255));
        }
    }
    return image;
}

QImage SceneRenderer::visibleFrame(const QSize &size, quint64 frame)
{
    const auto layers = cached<VisibleLayers>(size, &buildVisible);
    QImage image = layers->composed.copy();
    // Only where the cloud is does the frame differ from the kept picture.
    const QRect cloud = layoutTo(size).mapRect(SceneLayers::cloudBounds(frame)).toAlignedRect();
    QPainter p(&image);
    p.setClipRect(cloud);
    p.drawImage(cloud.topLeft(), layers->sky, cloud);
    p.setRenderHint(QPainter::Antialiasing);
    SceneLayers::paintCloud(p, layoutTo(size), frame);
    p.resetTransform();
    p.drawImage(cloud.topLeft(), layers->front, cloud);
    return image;
}

void SceneRenderer::blendOverlay(QImage &visible, const CamState::View &view, quint64 frame)
{
    QImage thermal = thermalSensorFrame(view, frame);
    thermal.setColorTable(overlayPalette());
    const QTransform sensorToLayout =
        QTransform::fromScale(640.0 / thermal.width(), 480.0 / thermal.height());
    const QTransform warp = sensorToLayout * OverlayWarp(view.mapping).transform(view.calibration) *
                            layoutTo(visible.size());
    // A calibration that squeezes the overlay to nothing leaves the visible picture alone.
    if (std::abs(warp.determinant()) < 1e-6)
        return;
    QPainter p(&visible);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(warp);
    p.drawImage(0, 0, thermal);
}

QImage SceneRenderer::render(int channel, const CamState::View &view, quint64 frame,
                             const QSize &size)
{
    QImage image;
    if (channel == 2) {
        image = thermalSensorFrame(view, frame)
                    .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        image = visibleFrame(size, frame);
        if (view.fusionOn)
            blendOverlay(image, view, frame);
    }
    QPainter p(&image);
    p.scale(size.width() / double(width), size.height() / double(height));
    drawLabel(p, QStringLiteral("Channel %1 %2  frame %3")
                     .arg(channel)
                     .arg(channel == 2 ? QStringLiteral("thermal") : QStringLiteral("visible"))
                     .arg(frame));
    return image;
}

QByteArray SceneRenderer::jpeg(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return buffer.data();
}
