// Load of live preview: the tool's own main window, in this process, connects
// through its connection dialog to the simulator and previews both channels
// for a while. Reports the frames drawn per second per channel (from the
// SDK's preview counters), the CPU this process used in % of one core, and
// its peak resident memory. The simulator renders in its own process, which
// is not counted.
#include "cameraconnectwidget.h"
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "overlaytuner.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int warmUpMs = 2000;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The peak resident set, from the kernel's own high-water mark.
double peakRssMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0.0;
}

// Runs the event loop as the tool's own exec() would, idle between events.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The tool keeps its preview handles to itself. The SDK hands them out
// counting up, and the connect flow starts channel 1 before channel 2, so the
// running previews in handle order are the channels in order.
std::vector<int32_t> runningPreviews()
{
    std::vector<int32_t> handles;
    for (int32_t handle = 0; handle < 256; ++handle) {
        CamNet_PreviewStats stats{};
        if (CamNet_GetPreviewStats(handle, &stats))
            handles.push_back(handle);
    }
    return handles;
}

CamNet_PreviewStats statsOf(int32_t handle)
{
    CamNet_PreviewStats stats{};
    CamNet_GetPreviewStats(handle, &stats);
    return stats;
}

// As the tool's main() shows its window; false when it never shows.
bool showAsTheToolDoes(OverlayTuner &window)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const WindowPlacement placement = placeOnWorkArea(work.width(), work.height());
    window.setMinimumSize(placement.minimumSize);
    if (placement.move)
        window.move(placement.position);
    window.show();
    // Connect once the window is on the screen, as a user would; the
    // previews draw into its frames.
    QElapsedTimer showing;
    showing.start();
    while (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        if (showing.elapsed() > 15000)
            return false;
        spin(20);
    }
    return true;
}

// Answers the connection dialog as a user would; any other box that opens
// (a failed preview) is noted and closed. Returns what those boxes said.
QStringList connectThroughDialog(OverlayTuner &window, quint16 port)
{
    QStringList complaints;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<CameraConnectWidget *>(modal)) {
            dialog->findChild<QLineEdit *>(QStringLiteral("ipAddrLineEdt"))
                ->setText(QStringLiteral("127.0.0.1"));
            dialog->findChild<QLineEdit *>(QStringLiteral("portLineEdt"))
                ->setText(QString::number(port));
            dialog->findChild<QLineEdit *>(QStringLiteral("userNameLineEdt"))
                ->setText(TestSupport::camsimUser);
            dialog->findChild<QLineEdit *>(QStringLiteral("passwdLineEdt"))
                ->setText(TestSupport::camsimPassword);
            dialog->findChild<QPushButton *>(QStringLiteral("connectBtn"))->click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            complaints << box->text();
            box->accept();
        }
    });
    answerer.start(50);
    window.findChild<QAction *>(QStringLiteral("actionConnect"))->trigger();
    return complaints;
}

// Idles in the event loop for the given time, then prints what both
// previews and this process did meanwhile.
void measure(const OverlayTuner &window, const std::vector<int32_t> &previews, int seconds)
{
    const CamNet_PreviewStats before[2] = {statsOf(previews[0]), statsOf(previews[1])};
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    spin(seconds * 1000);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = (cpuSeconds() - cpuBefore) / elapsed * 100.0;
    const CamNet_PreviewStats after[2] = {statsOf(previews[0]), statsOf(previews[1])};
    const double rss = peakRssMiB();

    double drawn[2];
    for (int i = 0; i < 2; ++i) {
        const QWidget *frame =
            window.findChild<QWidget *>(QStringLiteral("previewFrame%1").arg(i + 1));
        if (frame)
            std::printf("ch%d: drawn into %dx%d\n", i + 1, frame->width(), frame->height());
        drawn[i] = (after[i].framesDrawn - before[i].framesDrawn) / elapsed;
        std::printf("ch%d: %.1f frames received/s, %.1f drawn/s, %u reconnects in %.1f s\n", i + 1,
                    (after[i].framesReceived - before[i].framesReceived) / elapsed, drawn[i],
                    after[i].reconnects - before[i].reconnects, elapsed);
    }
    std::printf("goal: 25 and 25 fps, cpu at most 10%%, rss at most 150 MiB\n");
    std::printf("fps ch1 %.1f ch2 %.1f cpu %.1f%% rss %.1f MiB\n", drawn[0], drawn[1], cpu, rss);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 10;
    if (argc > 1) {
        seconds = std::atoi(argv[1]);
        if (seconds < 1 || seconds > 3600) {
            std::fprintf(stderr, "usage: preview_load [SECONDS]   (default 10)\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "preview_load: needs an X display; run it under xvfb-run -a -s "
                             "\"-screen 0 1920x1080x24\"\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    TestSupport::Camsim sim;
    if (!sim.port()) {
        std::fprintf(stderr, "preview_load: the simulator did not start\n");
        return 1;
    }
    OverlayTuner window;
    if (!showAsTheToolDoes(window)) {
        std::fprintf(stderr, "preview_load: the main window did not show within 15 s\n");
        return 1;
    }
    for (const QString &complaint : connectThroughDialog(window, sim.port()))
        std::fprintf(stderr, "preview_load: the tool said: %s\n", qPrintable(complaint));
    const std::vector<int32_t> previews = runningPreviews();
    if (previews.size() != 2) {
        std::fprintf(stderr, "preview_load: %zu previews run instead of 2\n", previews.size());
        window.close();
        return 1;
    }
    spin(warmUpMs);
    measure(window, previews, seconds);
    window.close();
    return 0;
}
