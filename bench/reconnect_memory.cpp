// Memory across camera restarts: the tool's own main window, in this process
// under an X server, previews both channels of the simulator, which is killed
// (SIGKILL) and started again on the same ports RESTARTS times; after each
// restart both previews must draw frames again. Prints this process's
// resident memory (VmRSS) after the first and after the last restart and the
// growth between them, with what malloc holds in use and keeps free, so that
// a leak (in use grows) is told from memory malloc kept (free grows). Without
// --stream it runs itself once for H.264 over RTSP (TCP) and once for MJPEG
// over HTTP, each in a process of its own. Under GStreamer's leaks tracer
// with GST_LEAKS_TRACER_SIG set, it takes a checkpoint after the first and
// after the last restart, so the tracer logs the objects made in between
// and still alive.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "overlaytuner.h"
#include "startup.h"
#include "tooldriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <malloc.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int defaultRestarts = 20;
// Both previews count as back once each drew this many frames (1 s at 25 fps).
constexpr uint32_t framesBack = 25;
constexpr int backWithinMs = 30000;
constexpr int warmUpMs = 2000;
constexpr double growthGoalMiB = 5.0;

const char usage[] = "usage: reconnect_memory [RESTARTS] [--stream h264|mjpeg]\n"
                     "  RESTARTS (default 20) camera restarts under running previews; without\n"
                     "  --stream both streams are measured, each in a process of its own\n";

struct Memory
{
    double rssMiB = 0.0;
    double anonMiB = 0.0;  // of which private memory: the heap, thread stacks
    double shmemMiB = 0.0; // and shared memory: the X server's shared images
    double inUseMiB = 0.0; // malloc'd and not freed, all arenas and mmapped blocks
    double freeMiB = 0.0;  // free inside malloc's arenas, given back to the system or not
    int arenas = 0;        // each thread allocates from one, kept after it ends
};

int arenaCount()
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    if (!out)
        return 0;
    malloc_info(0, out);
    std::fclose(out);
    int count = 0;
    for (const char *at = text; (at = std::strstr(at, "<heap nr=")); ++at)
        ++count;
    std::free(text);
    return count;
}

Memory memoryNow()
{
    Memory memory;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            const QByteArray kib = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0);
            if (line.startsWith("VmRSS:"))
                memory.rssMiB = kib.toDouble() / 1024.0;
            else if (line.startsWith("RssAnon:"))
                memory.anonMiB = kib.toDouble() / 1024.0;
            else if (line.startsWith("RssShmem:"))
                memory.shmemMiB = kib.toDouble() / 1024.0;
        }
    }
    const struct mallinfo2 info = mallinfo2();
    memory.inUseMiB = double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
    memory.freeMiB = double(info.fordblks) / (1024.0 * 1024.0);
    memory.arenas = arenaCount();
    return memory;
}

// The leaks tracer logs the objects made since its last checkpoint on
// SIGUSR2 (from the main loop), and only when told to handle signals.
void leaksCheckpoint()
{
    if (qEnvironmentVariableIsEmpty("GST_LEAKS_TRACER_SIG"))
        return;
    raise(SIGUSR2);
    ToolDriver::spin(200);
}

void printMemory(const char *when, const Memory &m)
{
    std::printf("after %s: rss %.1f MiB (anonymous %.1f, shared %.1f), malloc in use %.1f MiB, "
                "free in malloc %.1f MiB in %d arenas\n",
                when, m.rssMiB, m.anonMiB, m.shmemMiB, m.inUseMiB, m.freeMiB, m.arenas);
    std::fflush(stdout);
}

uint32_t drawnBy(int32_t handle)
{
    CamNet_PreviewStats stats{};
    CamNet_GetPreviewStats(handle, &stats);
    return stats.framesDrawn;
}

// Spins the event loop until every preview drew framesBack frames more than
// it had at the call; the milliseconds that took, or -1 when one did not.
int waitUntilDrawing(const std::vector<int32_t> &previews)
{
    std::vector<uint32_t> from;
    for (int32_t handle : previews)
        from.push_back(drawnBy(handle));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < backWithinMs) {
        bool all = true;
        for (size_t i = 0; i < previews.size(); ++i)
            all = all && drawnBy(previews[i]) - from[i] >= framesBack;
        if (all)
            return int(waited.elapsed());
        ToolDriver::spin(20);
    }
    return -1;
}

// One stream: the tool connects, previews, and lives through the restarts.
int measure(const QString &stream, int restarts)
{
    const bool rtsp = stream == QStringLiteral("h264");
    TestSupport::Camsim::Options options;
    if (rtsp)
        options.extra << "--rtsp-codec"
                      << "h264";
    TestSupport::Camsim sim(options);
    if (!sim.port() || (rtsp && !sim.rtspPort())) {
        std::fprintf(stderr, "reconnect_memory: the simulator did not start\n");
        return 1;
    }
    QTemporaryDir profileDir;
    if (rtsp && !ToolDriver::useRtspProfile(profileDir, sim.rtspPort())) {
        std::fprintf(stderr, "reconnect_memory: cannot write the device profile\n");
        return 1;
    }
    OverlayTuner window;
    if (!ToolDriver::show(window)) {
        std::fprintf(stderr, "reconnect_memory: the main window did not show within 15 s\n");
        return 1;
    }
    for (const QString &complaint : ToolDriver::connect(window, sim.port()))
        std::fprintf(stderr, "reconnect_memory: the tool said: %s\n", qPrintable(complaint));
    const std::vector<int32_t> previews = ToolDriver::runningPreviews();
    if (previews.size() != 2) {
        std::fprintf(stderr, "reconnect_memory: %zu previews run instead of 2\n", previews.size());
        return 1;
    }
    std::printf("stream: %s, %d restarts\n", rtsp ? "H.264 over RTSP (TCP)" : "MJPEG over HTTP",
                restarts);
    ToolDriver::spin(warmUpMs);
    printMemory("warm-up", memoryNow());

    Memory first;
    int slowestMs = 0;
    QByteArray rssByRestart;
    for (int i = 1; i <= restarts; ++i) {
        sim.kill();
        if (!sim.restart()) {
            std::fprintf(stderr, "reconnect_memory: the simulator did not come back\n");
            return 1;
        }
        const int backMs = waitUntilDrawing(previews);
        if (backMs < 0) {
            std::fprintf(stderr,
                         "reconnect_memory: the previews did not draw again within %d s "
                         "of restart %d\n",
                         backWithinMs / 1000, i);
            return 1;
        }
        slowestMs = std::max(slowestMs, backMs);
        rssByRestart += QByteArray::number(memoryNow().rssMiB, 'f', 1) + ' ';
        if (i == 1) {
            first = memoryNow();
            printMemory("restart 1", first);
            leaksCheckpoint();
        }
    }
    const Memory last = memoryNow();
    printMemory(qPrintable(QStringLiteral("restart %1").arg(restarts)), last);
    leaksCheckpoint();
    std::printf("rss after each restart, MiB: %s\n", rssByRestart.trimmed().constData());
    std::printf("previews drew again within %.1f s of each restart at the latest\n",
                slowestMs / 1000.0);
    std::printf("goal: rss grows at most %.0f MiB from restart 1 to restart %d\n", growthGoalMiB,
                restarts);
    std::printf("%s rss restart 1 %.1f MiB restart %d %.1f MiB growth %.1f MiB (in use %+.1f, "
                "free %+.1f)\n",
                rtsp ? "rtsp-h264" : "mjpeg", first.rssMiB, restarts, last.rssMiB,
                last.rssMiB - first.rssMiB, last.inUseMiB - first.inUseMiB,
                last.freeMiB - first.freeMiB);
    std::fflush(stdout);
    window.close();
    return 0;
}

// Each stream in a fresh process, so that one's memory does not count
// against the other's.
int measureBoth(const char *self, int restarts)
{
    int failed = 0;
    for (const char *stream : {"h264", "mjpeg"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QString::fromLocal8Bit(self),
                    {QString::number(restarts), QStringLiteral("--stream"), stream});
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0)
            failed = 1;
    }
    return failed;
}

} // namespace

int main(int argc, char **argv)
{
    int restarts = defaultRestarts;
    QString stream;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--stream") && i + 1 < argc &&
            (!std::strcmp(argv[i + 1], "h264") || !std::strcmp(argv[i + 1], "mjpeg"))) {
            stream = QString::fromLatin1(argv[++i]);
        } else if (i == 1 && argv[i][0] != '-' && std::atoi(argv[i]) >= 1) {
            restarts = std::atoi(argv[i]);
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (stream.isEmpty()) {
        QCoreApplication app(argc, argv);
        return measureBoth(argv[0], restarts);
    }
    if (!ToolDriver::useX11("reconnect_memory"))
        return 1;
    // As the tool does in its main().
    limitAllocatorArenas();
    QApplication app(argc, argv);
    return measure(stream, restarts);
}
