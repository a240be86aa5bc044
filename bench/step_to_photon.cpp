// Step to photon: how long after a calibration key press the tool's preview of
// channel 1 shows the overlay moved. The tool's own main window runs in this
// process under an X server, connected through its dialog with the real SDK
// to the simulator, fusion on. Each step is a Shift+Up or Shift+Down (the
// distance level, whose step moves the overlay by about 7 pixels of the
// 640-pixel frame), and is timed from the key event until the pixels on the
// screen, read back with XGetImage every millisecond from a connection of our
// own, have moved most of the way from the old overlay to the new one. The
// waits between steps are drawn at random over two frame intervals, so that
// presses fall on every phase of the simulator's frame clock.
//
// Runs the MJPEG stream in each part shape (standard, without Content-Length,
// with the CR LF sent late) and RTSP with H.264 through a device profile.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "latencystats.h"
#include "overlaytuner.h"
#include "panelquiet.h"
#include "tooldriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

// Last: its macros would clash with names in Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// Qt's key events are meant below, not X's event codes.
#undef KeyPress
#undef KeyRelease

namespace {

using Clock = std::chrono::steady_clock;

constexpr int fps = 25;
constexpr double frameMs = 1000.0 / fps;
// A step not seen on the screen by then counts as missed.
constexpr int stepTimeoutMs = 1000;
// The simulator draws its frame counter and a drifting cloud in the top of
// the picture; only the part below is compared.
constexpr double ignoredTop = 0.25;

struct Variant
{
    const char *name;
    QStringList camsimArgs;
    bool rtsp;
};

// Pixels of a rectangle of the screen, three channels each.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<float> rgb;
};

bool grab(Display *display, int x, int y, int width, int height, Picture *out)
{
    XImage *image = XGetImage(display, DefaultRootWindow(display), x, y, unsigned(width),
                              unsigned(height), AllPlanes, ZPixmap);
    if (!image)
        return false;
    const bool direct = image->bits_per_pixel == 32 && image->red_mask == 0xff0000 &&
                        image->green_mask == 0xff00 && image->blue_mask == 0xff;
    out->width = width;
    out->height = height;
    out->rgb.resize(size_t(width) * size_t(height) * 3);
    for (int row = 0; row < height && direct; ++row) {
        const auto *line =
            reinterpret_cast<const uint32_t *>(image->data + size_t(row) * image->bytes_per_line);
        float *to = out->rgb.data() + size_t(row) * size_t(width) * 3;
        for (int col = 0; col < width; ++col) {
            *to++ = float((line[col] >> 16) & 0xff);
            *to++ = float((line[col] >> 8) & 0xff);
            *to++ = float(line[col] & 0xff);
        }
    }
    XDestroyImage(image);
    return direct;
}

// The screen region around the overlay's move, and where it stands between
// the two values of the step.
class MoveDetector
{
public:
    MoveDetector(Display *display, QRect area) : m_display(display), m_area(area) {}

    // The average of several frames at each value; then the box where the
    // two differ most, around one warm spot.
    bool learn(const Picture &atA, const Picture &atB)
    {
        const int w = atA.width;
        const int top = int(atA.height * ignoredTop);
        const int block = 8;
        double best = 0;
        QPoint centre;
        for (int by = top; by + block <= atA.height; by += block) {
            for (int bx = 0; bx + block <= w; bx += block) {
                double sum = 0;
                for (int y = by; y < by + block; ++y) {
                    for (int x = bx; x < bx + block; ++x) {
                        for (int c = 0; c < 3; ++c) {
                            const size_t i = (size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c);
                            sum += std::abs(atB.rgb[i] - atA.rgb[i]);
                        }
                    }
                }
                if (sum > best) {
                    best = sum;
                    centre = QPoint(bx + block / 2, by + block / 2);
                }
            }
        }
        // About the size of a warm spot and its move, in screen pixels.
        const int half = std::max(16, int(std::lround(48.0 * w / 640.0)));
        m_box = QRect(centre.x() - half, centre.y() - half, 2 * half, 2 * half)
                    .intersected(QRect(0, top, w, atA.height - top));
        m_a = crop(atA);
        m_b = crop(atB);
        double energy = 0;
        for (size_t i = 0; i < m_a.size(); ++i)
            energy += double(m_b[i] - m_a[i]) * double(m_b[i] - m_a[i]);
        m_energy = energy;
        // Less than an average of 10 levels a pixel is no move to time.
        return energy / double(m_a.size()) > 100.0;
    }

    // Where the screen stands from the value towards (0) to away from it (1);
    // NaN when it cannot be read.
    double position(bool towardsB)
    {
        Picture now;
        if (!grab(m_display, m_area.x() + m_box.x(), m_area.y() + m_box.y(), m_box.width(),
                  m_box.height(), &now))
            return std::nan("");
        const std::vector<float> &from = towardsB ? m_a : m_b;
        const std::vector<float> &to = towardsB ? m_b : m_a;
        double dot = 0;
        for (size_t i = 0; i < from.size(); ++i)
            dot += double(now.rgb[i] - from[i]) * double(to[i] - from[i]);
        return dot / m_energy;
    }

    QRect box() const { return m_box; }

private:
    std::vector<float> crop(const Picture &picture) const
    {
        std::vector<float> out;
        for (int y = m_box.top(); y <= m_box.bottom(); ++y) {
            const size_t start = (size_t(y) * size_t(picture.width) + size_t(m_box.left())) * 3;
            out.insert(out.end(), picture.rgb.begin() + long(start),
                       picture.rgb.begin() + long(start + size_t(m_box.width()) * 3));
        }
        return out;
    }

    Display *m_display;
    QRect m_area;
    QRect m_box;
    std::vector<float> m_a;
    std::vector<float> m_b;
    double m_energy = 1;
};

bool averagePicture(Display *display, QRect area, Picture *out)
{
    // A third of a second of frames: the warm spots pulse, their average does not.
    constexpr int frames = 8;
    Picture sum;
    for (int i = 0; i < frames; ++i) {
        Picture one;
        if (!grab(display, area.x(), area.y(), area.width(), area.height(), &one))
            return false;
        if (sum.rgb.empty())
            sum = one;
        else
            for (size_t k = 0; k < sum.rgb.size(); ++k)
                sum.rgb[k] += one.rgb[k];
        ToolDriver::spin(int(frameMs));
    }
    for (float &v : sum.rgb)
        v /= frames;
    *out = sum;
    return true;
}

void pressStep(OverlayTuner &window, bool up)
{
    QKeyEvent press(QEvent::KeyPress, up ? Qt::Key_Up : Qt::Key_Down, Qt::ShiftModifier);
    QApplication::sendEvent(&window, &press);
    QKeyEvent release(QEvent::KeyRelease, up ? Qt::Key_Up : Qt::Key_Down, Qt::ShiftModifier);
    QApplication::sendEvent(&window, &release);
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Result
{
    bool ran = false;
    std::vector<double> samples;
    std::vector<double> writes; // how long the key event took: the write to the camera
    int missed = 0;
};

// The timed steps against a connected tool with fusion on.
Result timeSteps(OverlayTuner &window, const TestSupport::Camsim &sim, int steps)
{
    Result result;
    QWidget *frame = window.findChild<QWidget *>(QStringLiteral("previewFrame1"));
    if (!frame) {
        std::fprintf(stderr, "step_to_photon: the tool has no previewFrame1\n");
        return result;
    }
    const QRect area(frame->mapToGlobal(QPoint(0, 0)), frame->size());
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "step_to_photon: cannot open the display\n");
        return result;
    }
    const int level = sim.calibration().value(QStringLiteral("distanceLevel")).toInt();
    // A goes one way, B the other; the first step must not run into the range's end.
    const bool upFirst = level < 10;
    Picture atA;
    Picture atB;
    MoveDetector detector(display, area);
    bool learnt = averagePicture(display, area, &atA);
    pressStep(window, upFirst);
    ToolDriver::spin(500);
    learnt = learnt && averagePicture(display, area, &atB);
    pressStep(window, !upFirst);
    ToolDriver::spin(500);
    learnt = learnt && detector.learn(atA, atB);
    if (!learnt) {
        std::fprintf(stderr, "step_to_photon: the overlay's move does not show in channel 1\n");
        XCloseDisplay(display);
        return result;
    }
    std::printf("  preview %dx%d at %d,%d; move read in %dx%d at %d,%d\n", area.width(),
                area.height(), area.x(), area.y(), detector.box().width(), detector.box().height(),
                detector.box().x(), detector.box().y());

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> pause(60, 60 + int(2 * frameMs));
    for (int i = 0; i < steps; ++i) {
        const bool towardsB = i % 2 == 0;
        // Starts only from a screen that shows the old value.
        QElapsedTimer settling;
        settling.start();
        while (std::abs(detector.position(towardsB)) > 0.3 && settling.elapsed() < 2000)
            ToolDriver::spin(5);
        const Clock::time_point pressed = Clock::now();
        pressStep(window, towardsB == upFirst);
        result.writes.push_back(msSince(pressed));
        bool seen = false;
        Clock::time_point poll = Clock::now();
        while (msSince(pressed) < stepTimeoutMs) {
            if (detector.position(towardsB) > 0.5) {
                seen = true;
                break;
            }
            poll += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(poll);
        }
        if (seen)
            result.samples.push_back(msSince(pressed));
        else
            ++result.missed;
        ToolDriver::spin(pause(random));
    }
    XCloseDisplay(display);
    result.ran = true;
    return result;
}

Result runVariant(const Variant &variant, int steps)
{
    Result result;
    QTemporaryDir dir;
    TestSupport::Camsim sim(variant.camsimArgs);
    if (!sim.port()) {
        std::fprintf(stderr, "step_to_photon: %s: the simulator did not start with %s\n",
                     variant.name, qPrintable(variant.camsimArgs.join(' ')));
        return result;
    }
    qunsetenv("CAMNETSDK_PROFILE");
    if (variant.rtsp) {
        if (!ToolDriver::useRtspProfile(dir, sim.rtspPort())) {
            std::fprintf(stderr, "step_to_photon: %s: the simulator reports no RTSP port\n",
                         variant.name);
            return result;
        }
    }
    OverlayTuner window;
    if (!ToolDriver::show(window)) {
        std::fprintf(stderr, "step_to_photon: the main window did not show within 15 s\n");
        return result;
    }
    for (const QString &complaint : ToolDriver::connect(window, sim.port()))
        std::fprintf(stderr, "step_to_photon: %s: the tool said: %s\n", variant.name,
                     qPrintable(complaint));
    const std::vector<int32_t> previews = ToolDriver::runningPreviews();
    auto *fusion = window.findChild<QCheckBox *>(QStringLiteral("fusionONCheckBox"));
    if (previews.size() != 2 || !fusion || !fusion->isEnabled()) {
        std::fprintf(stderr, "step_to_photon: %s: the tool did not connect and preview\n",
                     variant.name);
        window.close();
        qunsetenv("CAMNETSDK_PROFILE");
        return result;
    }
    if (!fusion->isChecked())
        fusion->click();
    // Until channel 1 has drawn a second's frames with the overlay on.
    QElapsedTimer waited;
    waited.start();
    CamNet_PreviewStats stats{};
    CamNet_GetPreviewStats(previews[0], &stats);
    const uint32_t drawnBefore = stats.framesDrawn;
    while (waited.elapsed() < 15000 && stats.framesDrawn < drawnBefore + fps) {
        ToolDriver::spin(50);
        CamNet_GetPreviewStats(previews[0], &stats);
    }
    if (!sim.fusion() || stats.framesDrawn < drawnBefore + fps) {
        std::fprintf(stderr, "step_to_photon: %s: no frames with fusion on\n", variant.name);
    } else {
        result = timeSteps(window, sim, steps);
        CamNet_GetPreviewStats(previews[0], &stats);
        std::printf("  channel 1: %u frames received, %u drawn, %u reconnects\n",
                    stats.framesReceived, stats.framesDrawn, stats.reconnects);
    }
    window.close();
    qunsetenv("CAMNETSDK_PROFILE");
    ToolDriver::spin(200);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    int steps = 60;
    if (argc > 1) {
        steps = std::atoi(argv[1]);
        if (steps < 2 || steps > 100000) {
            std::fprintf(stderr, "usage: step_to_photon [STEPS]   (default 60)\n");
            return 2;
        }
    }
    if (!ToolDriver::useX11("step_to_photon"))
        return 1;
    QApplication app(argc, argv);
    PanelQuiet::install();

    const QStringList rate{QStringLiteral("--fps"), QString::number(fps)};
    const Variant variants[] = {
        {"mjpeg standard", rate + QStringList{"--mjpeg-shape", "standard"}, false},
        {"mjpeg no-length", rate + QStringList{"--mjpeg-shape", "no-length"}, false},
        {"mjpeg late-crlf", rate + QStringList{"--mjpeg-shape", "late-crlf"}, false},
        {"rtsp h264", rate + QStringList{"--rtsp-port", "0", "--rtsp-codec", "h264"}, true},
    };
    bool failed = false;
    double standardMin = -1;
    for (const Variant &variant : variants) {
        std::printf("== %s, %d steps\n", variant.name, steps);
        std::fflush(stdout);
        const Result result = runVariant(variant, steps);
        if (!result.ran || result.samples.empty()) {
            if (variant.rtsp) {
                std::printf("%s skipped: RTSP did not run (camsim --rtsp-port 0 --rtsp-codec h264 "
                            "and a profile with streamUrl=rtsp://127.0.0.1:PORT/channels/"
                            "{channel})\n",
                            variant.name);
            } else {
                std::printf("%s did not run\n", variant.name);
                failed = true;
            }
            std::fflush(stdout);
            continue;
        }
        const LatencyStats latency(result.samples);
        const LatencyStats writes(result.writes);
        if (QByteArray(variant.name) == "mjpeg standard")
            standardMin = latency.quantile(0.0);
        std::printf("  the key event itself (the write to the camera): p50 %.1f ms\n",
                    writes.quantile(0.5));
        std::printf("%s p50 %.1f ms p90 %.1f ms min %.1f ms max %.1f ms (%zu steps, %d missed)\n",
                    variant.name, latency.quantile(0.5), latency.quantile(0.9),
                    latency.quantile(0.0), latency.max(), result.samples.size(), result.missed);
        std::fflush(stdout);
    }
    if (standardMin >= 0) {
        // A press lands at a random point of the frame interval and waits on
        // average half of it for the next frame; the fastest step of the
        // standard stream is one that waited for none, which leaves the write,
        // the rendering, the transfer, decoding and drawing.
        std::printf("floor: half a frame interval %.1f ms + the fastest standard MJPEG step "
                    "%.1f ms = %.1f ms\n",
                    frameMs / 2, standardMin, frameMs / 2 + standardMin);
    }
    return failed ? 1 : 0;
}
