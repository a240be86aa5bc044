#include "scenelayers.h"

#include "lensrig.h"

#include <QFont>
#include <QLinearGradient>
#include <QPolygonF>

#include <cmath>

namespace {

enum class Look
{
    Visible,
    Thermal
};

// Where the main plane meets the ground; the lenses' height follows from it.
constexpr double mainBase = 420;

double lensHeight()
{
    return (mainBase - LensRig::horizonY) * LensRig::mainDepth() / LensRig::visibleFocal;
}

// The row at which an object standing at `depth` meets the ground.
double baseRow(double depth)
{
    return LensRig::horizonY + LensRig::visibleFocal * lensHeight() / depth;
}

QColor heat(int t)
{
    return QColor(t, t, t);
}

// One colour per look: what the visible lens sees, and the temperature.
QColor pick(Look look, const QColor &visible, int temperature)
{
    return look == Look::Visible ? visible : heat(temperature);
}

// A fixed pseudo-random sequence, so that the texture is the same in every frame and run.
class Scatter
{
public:
    explicit Scatter(quint32 seed) : m_state(seed) {}
    double next()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return (m_state >> 8) / double(1 << 24);
    }

private:
    quint32 m_state;
};

void paintGround(QPainter &p, Look look)
{
    const double h = LensRig::horizonY;
    const QRectF ground(-200, h, 1040, 700 - h);
    if (look == Look::Thermal) {
        // The sun has warmed the near ground more than the far.
        QLinearGradient warm(0, h, 0, 600);
        warm.setColorAt(0, heat(80));
        warm.setColorAt(1, heat(108));
        p.fillRect(ground, warm);
    } else {
        p.fillRect(ground, QColor(95, 140, 70));
        Scatter s(7);
        for (int i = 0; i < 2600; ++i) {
            const double y = h + (520 - h) * std::sqrt(s.next());
            const double x = -120 + 880 * s.next();
            const double len = 1 + 7 * (y - h) / (480 - h);
            const int shade = int(40 * s.next()) - 20;
            p.setPen(QPen(QColor(95 + shade, 140 + shade, 70 + shade / 2), 1.2));
            p.drawLine(QPointF(x, y), QPointF(x + len * (s.next() - 0.5), y - len));
        }
    }
    // An asphalt path: dark to the eye, warm from the sun.
    const QPolygonF path({{395, 520}, {500, 520}, {362, mainBase}, {338, mainBase}});
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(72, 72, 76), 124));
    p.drawPolygon(path);
}

void paintHills(QPainter &p, Look look)
{
    const double base = baseRow(LensRig::levelDepth(10));
    QPolygonF ridge;
    ridge << QPointF(-200, base);
    for (int x = -200; x <= 840; x += 40)
        ridge << QPointF(x, 185 + 14 * std::sin(x * 0.011) + 8 * std::sin(x * 0.037));
    ridge << QPointF(840, base);
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(112, 142, 132), 50));
    p.drawPolygon(ridge);
}

void paintTrees(QPainter &p, Look look)
{
    const double base = baseRow(LensRig::levelDepth(8));
    const double crowns[][3] = {{470, 190, 34}, {530, 175, 40}, {600, 185, 36}, {660, 195, 38},
                                {-30, 200, 40}, {30, 185, 38},  {90, 210, 30}};
    p.setPen(Qt::NoPen);
    for (const auto &c : crowns) {
        p.setBrush(pick(look, QColor(82, 62, 45), 76));
        p.drawRect(QRectF(c[0] - 5, c[1], 10, base - c[1]));
        p.setBrush(pick(look, QColor(60, 122, 55), 64));
        p.drawEllipse(QPointF(c[0], c[1]), c[2], c[2] * 1.1);
        if (look == Look::Visible) {
            // Foliage the thermal lens's blur does not resolve.
            Scatter s(quint32(c[0] * 7 + 1000));
            for (int i = 0; i < 40; ++i) {
                const double a = 6.2832 * s.next(), r = c[2] * 0.9 * std::sqrt(s.next());
                p.setBrush(s.next() < 0.5 ? QColor(45, 100, 42) : QColor(85, 150, 70));
                p.drawEllipse(QPointF(c[0] + r * std::cos(a), c[1] + r * std::sin(a)), 4, 4);
            }
        }
    }
}

void paintWindow(QPainter &p, Look look, const QRectF &r, bool heated)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(228, 228, 222), 75));
    p.drawRect(r);
    p.setBrush(pick(look, QColor(70, 86, 106), heated ? 160 : 48));
    p.drawRect(r.adjusted(3, 3, -3, -3));
    p.setBrush(pick(look, QColor(228, 228, 222), 75));
    p.drawRect(QRectF(r.center().x() - 1.5, r.top(), 3, r.height()));
}

void paintVisiblePrint(QPainter &p)
{
    // Bricks, lettering, a poster and stripes: print the thermal lens cannot see.
    p.setPen(QPen(QColor(150, 144, 136), 1));
    for (double y = 160; y < mainBase; y += 10) {
        p.drawLine(QPointF(70, y), QPointF(440, y));
        for (double x = 70 + (int(y) % 20 ? 0 : 12); x < 440; x += 24)
            p.drawLine(QPointF(x, y), QPointF(x, y + 10));
    }
    QFont font = p.font();
    font.setPixelSize(16);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(230, 226, 210));
    p.drawText(QRectF(70, 140, 370, 18), Qt::AlignCenter, QStringLiteral("MARKET HALL"));
    const QColor bands[] = {{205, 45, 40}, {245, 205, 30}, {40, 90, 190}};
    for (int i = 0; i < 3; ++i)
        p.fillRect(QRectF(356, 330 + 22 * i, 50, 22), bands[i]);
    p.setPen(Qt::white);
    p.drawText(QRectF(356, 352, 50, 22), Qt::AlignCenter, QStringLiteral("SALE"));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 8; ++i) {
        p.setBrush(i % 2 ? QColor(240, 240, 240) : QColor(200, 50, 45));
        const double x = 440 + 20 * i;
        p.drawPolygon(QPolygonF({{x, 225}, {x + 20, 225}, {x + 10, 248}, {x - 10, 248}}));
    }
}

void paintHall(QPainter &p, Look look)
{
    p.setPen(Qt::NoPen);
    p.fillRect(QRectF(70, 140, 370, mainBase - 140), pick(look, QColor(172, 166, 156), 72));
    p.fillRect(QRectF(440, 215, 160, mainBase - 215), pick(look, QColor(150, 152, 160), 78));
    // The cornice radiates into the cold sky.
    p.fillRect(QRectF(66, 136, 378, 22), pick(look, QColor(92, 88, 82), 58));
    if (look == Look::Visible)
        paintVisiblePrint(p);
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i < 4; ++i)
            paintWindow(p, look, QRectF(92 + 78 * i, 172 + 78 * row, 50, 52),
                        (row * 4 + i) % 3 == 1);
    }
    paintWindow(p, look, QRectF(458, 262, 44, 46), true);
    paintWindow(p, look, QRectF(538, 262, 44, 46), false);
    // Doors kept warm from inside; a black sun-warmed panel; a bright cold roller door.
    p.fillRect(QRectF(150, 345, 46, mainBase - 345), pick(look, QColor(112, 70, 44), 98));
    p.fillRect(QRectF(300, 345, 46, mainBase - 345), pick(look, QColor(40, 46, 62), 94));
    p.fillRect(QRectF(222, 338, 58, 56), pick(look, QColor(30, 30, 32), 140));
    p.fillRect(QRectF(462, 338, 112, mainBase - 338), pick(look, QColor(204, 204, 208), 44));
    p.setPen(QPen(pick(look, QColor(160, 160, 166), 50), 1.5));
    for (double y = 344; y < mainBase; y += 8)
        p.drawLine(QPointF(462, y), QPointF(574, y));
    // The heating pipe: dull to the eye, the hottest thing in sight.
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(128, 128, 134), 250));
    p.drawRect(QRectF(416, 150, 8, mainBase - 150));
    p.drawRect(QRectF(398, 150, 26, 8));
}

void paintFence(QPainter &p, Look look)
{
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(84, 62, 42), 56));
    for (const double from : {-200.0, 600.0}) {
        const double to = from < 0 ? 70 : 840;
        for (double x = from; x < to; x += 22)
            p.drawRect(QRectF(x, 330, 5, mainBase - 330));
        p.drawRect(QRectF(from, 344, to - from, 5));
        p.drawRect(QRectF(from, 392, to - from, 5));
    }
}

void paintPeople(QPainter &p, Look look)
{
    const double xs[] = {130, 250, 470, 530};
    const QColor coats[] = {{60, 70, 95}, {92, 60, 60}, {70, 82, 70}, {52, 52, 58}};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        const double x = xs[i];
        p.setBrush(pick(look, QColor(58, 58, 66), 188));
        p.drawRect(QRectF(x - 11, 384, 22, mainBase - 384));
        p.setBrush(pick(look, coats[i], 204));
        p.drawRoundedRect(QRectF(x - 14, 336, 28, 50), 6, 6);
        p.setBrush(pick(look, QColor(200, 168, 148), 232));
        p.drawEllipse(QPointF(x, 326), 8, 9);
    }
}

void paintNear(QPainter &p, Look look)
{
    // A sign board at level 4: bright paint, cold metal.
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(70, 70, 74), 52));
    p.drawRect(QRectF(592, 395, 6, 200));
    p.setBrush(pick(look, QColor(240, 240, 236), 42));
    p.drawRect(QRectF(560, 350, 70, 46));
    if (look == Look::Visible) {
        p.setPen(QColor(30, 30, 30));
        p.drawText(QRectF(560, 350, 70, 46), Qt::AlignCenter, QStringLiteral("EXIT"));
    }
}

void paintNearest(QPainter &p, Look look)
{
    // A hedge and a street lamp at level 2.
    p.setPen(Qt::NoPen);
    p.setBrush(pick(look, QColor(50, 110, 45), 70));
    for (double x = 110; x <= 270; x += 32)
        p.drawEllipse(QPointF(x, 440), 28, 20);
    p.drawRect(QRectF(82, 440, 216, 120));
    if (look == Look::Visible) {
        Scatter s(11);
        for (int i = 0; i < 160; ++i) {
            p.setBrush(s.next() < 0.5 ? QColor(35, 85, 32) : QColor(80, 150, 62));
            p.drawEllipse(QPointF(86 + 208 * s.next(), 426 + 54 * s.next()), 3, 3);
        }
    }
    p.setBrush(pick(look, QColor(60, 62, 66), 60));
    p.drawRect(QRectF(522, 58, 10, 500));
    p.drawRect(QRectF(508, 44, 38, 14));
    p.setBrush(pick(look, QColor(250, 246, 225), 246));
    p.drawRect(QRectF(512, 55, 30, 7));
}

struct Plane
{
    double depth;
    void (*paint)(QPainter &, Look);
};

// Far to near, so that nearer objects hide what lies behind them.
const Plane planes[] = {
    {LensRig::levelDepth(10), &paintHills},  {LensRig::levelDepth(8), &paintTrees},
    {LensRig::mainDepth(), &paintFence},     {LensRig::mainDepth(), &paintHall},
    {LensRig::mainDepth(), &paintPeople},    {LensRig::levelDepth(4), &paintNear},
    {LensRig::levelDepth(2), &paintNearest},
};

} // namespace

void SceneLayers::paintSky(QPainter &p, const QTransform &layoutToDevice)
{
    p.setTransform(layoutToDevice);
    QLinearGradient sky(0, 0, 0, 264);
    sky.setColorAt(0, QColor(90, 150, 220));
    sky.setColorAt(1, QColor(190, 220, 245));
    p.fillRect(QRectF(-200, -200, 1040, 880), sky);
}

QRectF SceneLayers::cloudBounds(quint64 frame)
{
    const double x = std::fmod(frame * 2.0, 640 + 160.0) - 80;
    return QRectF(x - 62, 36, 124, 48);
}

void SceneLayers::paintCloud(QPainter &p, const QTransform &layoutToDevice, quint64 frame)
{
    p.setTransform(layoutToDevice);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 250, 250, 220));
    p.drawEllipse(cloudBounds(frame).center(), 60, 22);
}

void SceneLayers::paintVisible(QPainter &p, const QTransform &layoutToDevice)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(layoutToDevice);
    paintGround(p, Look::Visible);
    for (const Plane &plane : planes)
        plane.paint(p, Look::Visible);
}

void SceneLayers::paintThermal(QPainter &p, const QTransform &thermalLayoutToDevice)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(thermalLayoutToDevice);
    p.fillRect(QRectF(-200, -200, 1040, 880), heat(12));
    p.setTransform(LensRig::groundToThermal(LensRig::horizonY, lensHeight()) *
                   thermalLayoutToDevice);
    paintGround(p, Look::Thermal);
    for (const Plane &plane : planes) {
        p.setTransform(LensRig::planeToThermal(plane.depth) * thermalLayoutToDevice);
        plane.paint(p, Look::Thermal);
    }
}
