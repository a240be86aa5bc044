// Load of live preview: the tool's own main window, in this process, connects
// through its connection dialog to the simulator and previews both channels
// for a while, as MJPEG over HTTP or, through a device profile, as H.264,
// H.265 or JPEG over RTSP, at the picture sizes asked for. Reports the frames
// drawn per second per channel (from the SDK's preview counters), the CPU
// this process used in % of one core, and its peak resident memory. The
// simulator renders and encodes in its own process, which is not counted.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "overlaytuner.h"
#include "startup.h"
#include "tooldriver.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int warmUpMs = 2000;
constexpr double fpsGoal = 24.0;
constexpr double rssGoalMiB = 150.0;

const char usage[] =
    "usage: preview_load [SECONDS] [--rtsp h264|h265|jpeg] [--visible-size WxH]\n"
    "                    [--thermal-size WxH]\n"
    "  SECONDS (default 10) measured after 2 s of warm-up; without --rtsp the channels\n"
    "  stream MJPEG over HTTP; sizes default to the simulator's 640x480\n";

struct Case
{
    int seconds = 10;
    QString rtspCodec; // empty: MJPEG over HTTP
    QString visibleSize = QStringLiteral("640x480");
    QString thermalSize = QStringLiteral("640x480");

    // The goals set for the cases measured; 0 where none is set.
    double cpuGoal() const
    {
        if (visibleSize == "640x480" && thermalSize == "640x480")
            return 10.0;
        if (visibleSize == "1920x1080" && thermalSize == "640x512")
            return 15.0;
        return 0.0;
    }
};

bool parseArguments(int argc, char **argv, Case &c)
{
    static const QRegularExpression size(QStringLiteral("^[0-9]+x[0-9]+$"));
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--rtsp") == 0 && value &&
            (!std::strcmp(value, "h264") || !std::strcmp(value, "h265") ||
             !std::strcmp(value, "jpeg"))) {
            c.rtspCodec = QString::fromLatin1(value);
            ++i;
        } else if ((!std::strcmp(arg, "--visible-size") || !std::strcmp(arg, "--thermal-size")) &&
                   value && size.match(QString::fromLatin1(value)).hasMatch()) {
            (arg[2] == 'v' ? c.visibleSize : c.thermalSize) = QString::fromLatin1(value);
            ++i;
        } else if (i == 1 && arg[0] != '-') {
            c.seconds = std::atoi(arg);
            if (c.seconds < 1 || c.seconds > 3600)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds so far of each thread of this process, by thread id, with the
// thread's name, so that a run shows where its CPU went.
struct ThreadCpu
{
    QByteArray name;
    double seconds = 0.0;
};

std::map<int, ThreadCpu> threadCpu()
{
    std::map<int, ThreadCpu> threads;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('(');
        const int close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        // After the name: state, then utime and stime as fields 12 and 13.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 13)
            continue;
        threads[task.toInt()] = {line.mid(open + 1, close - open - 1),
                                 (fields[11].toDouble() + fields[12].toDouble()) / tick};
    }
    return threads;
}

// The CPU of each thread between two snapshots in % of one core, grouped by
// name and in the order the threads started (the channels' threads in
// channel order); threads that ended in between are not counted.
void printThreadCpu(const std::map<int, ThreadCpu> &before, const std::map<int, ThreadCpu> &after,
                    double elapsed)
{
    std::vector<std::pair<QByteArray, QByteArray>> byName;
    for (const auto &[tid, thread] : after) {
        const auto was = before.find(tid);
        const double used = thread.seconds - (was == before.end() ? 0.0 : was->second.seconds);
        const double percent = used / elapsed * 100.0;
        if (percent < 0.05)
            continue;
        auto entry = std::find_if(byName.begin(), byName.end(),
                                  [&](const auto &e) { return e.first == thread.name; });
        if (entry == byName.end())
            entry = byName.insert(byName.end(), {thread.name, QByteArray()});
        entry->second +=
            (entry->second.isEmpty() ? "" : " + ") + QByteArray::number(percent, 'f', 1);
    }
    std::printf("cpu by thread:");
    for (const auto &[name, percents] : byName)
        std::printf(" %s %s%%;", name.constData(), percents.constData());
    std::printf("\n");
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

CamNet_PreviewStats statsOf(int32_t handle)
{
    CamNet_PreviewStats stats{};
    CamNet_GetPreviewStats(handle, &stats);
    return stats;
}

// Idles in the event loop for the given time, then prints what both
// previews and this process did meanwhile.
void measure(const OverlayTuner &window, const std::vector<int32_t> &previews, const Case &c)
{
    const int seconds = c.seconds;
    const CamNet_PreviewStats before[2] = {statsOf(previews[0]), statsOf(previews[1])};
    const double cpuBefore = cpuSeconds();
    const std::map<int, ThreadCpu> threadsBefore = threadCpu();
    const auto start = std::chrono::steady_clock::now();
    ToolDriver::spin(seconds * 1000);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = (cpuSeconds() - cpuBefore) / elapsed * 100.0;
    const std::map<int, ThreadCpu> threadsAfter = threadCpu();
    const CamNet_PreviewStats after[2] = {statsOf(previews[0]), statsOf(previews[1])};
    const double rss = peakRssMiB();

    std::printf("stream: %s, ch1 %s, ch2 %s\n",
                c.rtspCodec.isEmpty() ? "MJPEG over HTTP"
                                      : qPrintable(c.rtspCodec.toUpper() + " over RTSP (TCP)"),
                qPrintable(c.visibleSize), qPrintable(c.thermalSize));
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
    printThreadCpu(threadsBefore, threadsAfter, elapsed);
    if (c.cpuGoal() > 0)
        std::printf("goal: at least %.0f fps each, cpu at most %.0f%%, rss at most %.0f MiB\n",
                    fpsGoal, c.cpuGoal(), rssGoalMiB);
    else
        std::printf("goal: at least %.0f fps each, rss at most %.0f MiB (no cpu goal for these "
                    "sizes)\n",
                    fpsGoal, rssGoalMiB);
    std::printf("fps ch1 %.1f ch2 %.1f cpu %.1f%% rss %.1f MiB\n", drawn[0], drawn[1], cpu, rss);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    Case c;
    if (!parseArguments(argc, argv, c)) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!ToolDriver::useX11("preview_load"))
        return 1;
    // As the tool does in its main().
    limitAllocatorArenas();
    QApplication app(argc, argv);

    TestSupport::Camsim::Options options;
    options.extra << "--visible-size" << c.visibleSize << "--thermal-size" << c.thermalSize;
    if (!c.rtspCodec.isEmpty())
        options.extra << "--rtsp-codec" << c.rtspCodec;
    TestSupport::Camsim sim(options);
    if (!sim.port() || (!c.rtspCodec.isEmpty() && !sim.rtspPort())) {
        std::fprintf(stderr, "preview_load: the simulator did not start\n");
        return 1;
    }
    QTemporaryDir profileDir;
    if (!c.rtspCodec.isEmpty() && !ToolDriver::useRtspProfile(profileDir, sim.rtspPort())) {
        std::fprintf(stderr, "preview_load: cannot write the device profile\n");
        return 1;
    }
    OverlayTuner window;
    if (!ToolDriver::show(window)) {
        std::fprintf(stderr, "preview_load: the main window did not show within 15 s\n");
        return 1;
    }
    for (const QString &complaint : ToolDriver::connect(window, sim.port()))
        std::fprintf(stderr, "preview_load: the tool said: %s\n", qPrintable(complaint));
    const std::vector<int32_t> previews = ToolDriver::runningPreviews();
    if (previews.size() != 2) {
        std::fprintf(stderr, "preview_load: %zu previews run instead of 2\n", previews.size());
        window.close();
        return 1;
    }
    ToolDriver::spin(warmUpMs);
    measure(window, previews, c);
    window.close();
    return 0;
}
