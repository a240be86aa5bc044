// What a live preview's window says while it shows no video, read back from
// the window the SDK draws into: that it connects, until the first frame; no
// text once the picture is drawn; that the video stopped, and which reconnect
// is under way, once the camera is gone; the text drawn again after an
// exposure and kept inside a small window.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "sdkcalls.h"
#include "testsupport.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <QtTest>

#include <cstring>
#include <vector>

// Last: its macros would clash with names in Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// Generous: a loaded two-core machine decodes the stream and runs the simulator.
constexpr int slow = 30000;

// A look at the window that succeeded once stands: a reconnecting preview
// letters its window anew at every attempt, so a second look may catch the
// next attempt's text instead.
#define TRY_SEEN(expr)                                                                             \
    do {                                                                                           \
        bool seen = false;                                                                         \
        QTRY_VERIFY_WITH_TIMEOUT(seen || (seen = bool(expr)), slow);                               \
    } while (false)
// The reconnect interval while the test watches a reconnect come and go, and
// one that keeps the text of a stream that just ended in place meanwhile.
constexpr uint32_t shortReconnectMs = 300;
constexpr uint32_t longReconnectMs = 120000;

void ignoreFrame(int32_t, uint32_t, uint8_t *, uint32_t, void *) {}

int32_t realPlay(int32_t loginId, WId window)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = 1;
    request.window = uintptr_t(window);
    return CamNet_RealPlay(loginId, &request, ignoreFrame, nullptr);
}

CamNet_PreviewStats stats(int32_t handle)
{
    CamNet_PreviewStats s;
    std::memset(&s, 0, sizeof s);
    CamNet_GetPreviewStats(handle, &s);
    return s;
}

int shiftOf(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The test's own look at the SDK's windows, through a connection of its own.
class WindowReader
{
public:
    WindowReader() : m_display(XOpenDisplay(nullptr)) {}
    ~WindowReader()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    WindowReader(const WindowReader &) = delete;
    WindowReader &operator=(const WindowReader &) = delete;

    bool open() const { return m_display; }

    // The only window inside parent, 0 unless there is exactly one.
    Window onlyChild(WId parent) const
    {
        Window root = 0;
        Window actualParent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(m_display, Window(parent), &root, &actualParent, &children, &count))
            return 0;
        const Window child = count == 1 ? children[0] : 0;
        if (children)
            XFree(children);
        return child;
    }

    // What window shows, null when it cannot be read.
    QImage pixels(Window window) const
    {
        XWindowAttributes attributes;
        if (!window || !XGetWindowAttributes(m_display, window, &attributes))
            return QImage();
        XImage *image = XGetImage(m_display, window, 0, 0, unsigned(attributes.width),
                                  unsigned(attributes.height), AllPlanes, ZPixmap);
        if (!image)
            return QImage();
        QImage result(attributes.width, attributes.height, QImage::Format_RGB32);
        const int r = shiftOf(image->red_mask);
        const int g = shiftOf(image->green_mask);
        const int b = shiftOf(image->blue_mask);
        for (int y = 0; y < result.height(); ++y) {
            for (int x = 0; x < result.width(); ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                result.setPixel(x, y,
                                qRgb(int((p & image->red_mask) >> r),
                                     int((p & image->green_mask) >> g),
                                     int((p & image->blue_mask) >> b)));
            }
        }
        XDestroyImage(image);
        return result;
    }

    // Another client's window over the middle of window, and away again:
    // the part it covered has to be drawn anew.
    void coverAndUncover(Window window, int width, int height) const
    {
        const Window cover =
            XCreateSimpleWindow(m_display, window, width / 4, height / 4, unsigned(width / 2),
                                unsigned(height / 2), 0, 0, WhitePixel(m_display, 0));
        XMapWindow(m_display, cover);
        XSync(m_display, False);
        XDestroyWindow(m_display, cover);
        XSync(m_display, False);
    }

private:
    Display *m_display;
};

// Text drawn light on black: every pixel is black or one light grey, and
// the lit ones lie in a box centred in the window.
struct Lettering
{
    bool shown = false;
    QRect box;

    explicit Lettering(const QImage &image)
    {
        if (image.isNull())
            return;
        int lit = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if ((p & 0xFFFFFF) == 0)
                    continue;
                if (qRed(p) < 0xA0 || qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))
                    return;
                ++lit;
                box |= QRect(x, y, 1, 1);
            }
        }
        // A glyph is a few pixels off centre at most, a line of them no more.
        const int dx = box.left() - (image.width() - 1 - box.right());
        const int dy = box.top() - (image.height() - 1 - box.bottom());
        shown = lit > 20 && qAbs(dx) <= 6 && qAbs(dy) <= 6;
    }
    // "Connecting…" is well under half the width of either text about lost video.
    bool narrow() const { return shown && box.width() < 110; }
    bool wide() const { return shown && box.width() > 150; }
};

// Channel 1 shows sky above and grass below, no black: over the place the
// text took, a picture without it.
bool showsPictureOnly(const QImage &image, const QRect &textBox)
{
    if (!TestSupport::looksLikeVisibleScene(image))
        return false;
    int black = 0;
    for (int y = textBox.top(); y <= textBox.bottom(); ++y) {
        for (int x = textBox.left(); x <= textBox.right(); ++x)
            black += (image.pixel(x, y) & 0xFFFFFF) == 0;
    }
    return black * 10 < textBox.width() * textBox.height();
}

// With PREVIEW_SHOTS naming a folder, what the window showed at each step.
void keep(const QImage &image, const char *name)
{
    const QString folder = qEnvironmentVariable("PREVIEW_SHOTS");
    if (!folder.isEmpty())
        image.save(QDir(folder).filePath(QString::fromLatin1(name) + ".png"));
}

bool showNative(QWidget *widget, int width, int height)
{
    widget->setAttribute(Qt::WA_NativeWindow);
    widget->setWindowFlag(Qt::FramelessWindowHint);
    widget->setGeometry(0, 0, width, height);
    widget->show();
    return QTest::qWaitForWindowExposed(widget);
}

} // namespace

class TestPreviewStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void connectingUntilTheFirstFrame();
    void lostVideoIsToldAndDrawnAgainWhenExposed();
    void reconnectsAreCountedInsideASmallWindow();
};

void TestPreviewStatus::initTestCase()
{
    QVERIFY(CamNet_Init());
    CamNet_SetConnectTime(1000, 1);
}

void TestPreviewStatus::cleanup()
{
    CamNet_SetReconnect(shortReconnectMs, 1);
}

void TestPreviewStatus::connectingUntilTheFirstFrame()
{
    CamNet_SetReconnect(shortReconnectMs, 1);
    TestSupport::Camsim sim(QStringList{"--stall-stream"});
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);
    WindowReader reader;
    QVERIFY(reader.open());
    QWidget widget;
    QVERIFY(showNative(&widget, 320, 240));

    const int32_t handle = realPlay(id, widget.winId());
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    Window video = 0;
    QTRY_VERIFY_WITH_TIMEOUT((video = reader.onlyChild(widget.winId())), slow);
    // The camera sends nothing: text, and not yet that of a reconnect.
    QImage image;
    TRY_SEEN(Lettering(image = reader.pixels(video)).narrow() && stats(handle).reconnects == 0);
    keep(image, "connecting");
    QCOMPARE(stats(handle).framesDrawn, 0u);
    const QRect textBox = Lettering(image).box;

    QVERIFY(sim.faults("stall-stream=0"));
    TRY_SEEN(showsPictureOnly(image = reader.pixels(video), textBox));
    keep(image, "playing");
    // Exposed while video is shown, the window gets the picture back, not the text.
    reader.coverAndUncover(video, 320, 240);
    TRY_SEEN(showsPictureOnly(reader.pixels(video), textBox));
    QVERIFY(CamNet_StopRealPlay(handle));
    QCOMPARE(CamNet_Logout(id), 1);
}

void TestPreviewStatus::lostVideoIsToldAndDrawnAgainWhenExposed()
{
    TestSupport::Camsim sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);
    WindowReader reader;
    QVERIFY(reader.open());
    QWidget widget;
    QVERIFY(showNative(&widget, 320, 240));
    const int32_t handle = realPlay(id, widget.winId());
    QVERIFY(handle >= 0);
    Window video = 0;
    QTRY_VERIFY_WITH_TIMEOUT((video = reader.onlyChild(widget.winId())), slow);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesDrawn >= 3, slow);

    // No reconnect comes while the test looks, so the text stays that of
    // video that stopped.
    CamNet_SetReconnect(longReconnectMs, 1);
    const uint32_t reconnects = stats(handle).reconnects;
    sim.kill();
    QImage lost;
    TRY_SEEN(Lettering(lost = reader.pixels(video)).wide());
    keep(lost, "lost");
    QCOMPARE(stats(handle).reconnects, reconnects);

    reader.coverAndUncover(video, 320, 240);
    QTRY_COMPARE_WITH_TIMEOUT(reader.pixels(video), lost, slow);
    QVERIFY(CamNet_StopRealPlay(handle));
    QCOMPARE(CamNet_Logout(id), 1);
}

void TestPreviewStatus::reconnectsAreCountedInsideASmallWindow()
{
    CamNet_SetReconnect(shortReconnectMs, 1);
    TestSupport::Camsim sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);
    WindowReader reader;
    QVERIFY(reader.open());
    QWidget widget;
    QVERIFY(showNative(&widget, 320, 240));
    const int32_t handle = realPlay(id, widget.winId());
    QVERIFY(handle >= 0);
    Window video = 0;
    QTRY_VERIFY_WITH_TIMEOUT((video = reader.onlyChild(widget.winId())), slow);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesDrawn >= 3, slow);

    const uint32_t reconnects = stats(handle).reconnects;
    sim.kill();
    QImage image;
    TRY_SEEN(stats(handle).reconnects > reconnects + 1 &&
             Lettering(image = reader.pixels(video)).wide());
    keep(image, "reconnecting");

    // Wrapped to fit the smallest preview, centred in it again.
    widget.resize(200, 150);
    TRY_SEEN(reader.pixels(video).size() == QSize(200, 150) &&
             Lettering(image = reader.pixels(video)).shown);
    keep(image, "small");
    const QRect box = Lettering(image).box;
    QVERIFY2(box.left() > 0 && box.right() < 199, qPrintable(QString::number(box.width())));
    QVERIFY(box.height() > 20); // more than one line

    QVERIFY(sim.restart());
    TRY_SEEN(showsPictureOnly(image = reader.pixels(video), box));
    keep(image, "back");
    QVERIFY(CamNet_StopRealPlay(handle));
    QCOMPARE(CamNet_Logout(id), 1);
}

QTEST_MAIN(TestPreviewStatus)
#include "tst_previewstatus.moc"
