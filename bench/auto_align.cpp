// Auto Align from random starts against the simulator, through the tool's own
// panel and the real SDK: per run the residual it leaves (the simulator's
// alignment error and the best its integer steps allow), the calibration
// writes and the seconds; then per step mapping the share of runs aligned to
// 1 px (or to 0.5 px of that floor) and the median of each figure. The goal
// is at most 10 s at 25 fps; nothing is asserted.
//   auto_align [RUNS] [--rtsp h264|h265|jpeg]
#include "alignharness.h"
#include "camnetsdk.h"
#include "panelquiet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using TestSupport::AlignHarness;
using TestSupport::Camsim;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs `runs` alignments under one mapping; false when the simulator or the
// login did not come up.
bool benchMapping(const TestSupport::StepMapping &m, int runs, const QString &codec)
{
    QStringList options = m.options;
    if (!codec.isEmpty())
        options << "--rtsp-codec" << codec;
    Camsim sim(options);
    if (!sim.port())
        return false;
    QTemporaryDir dir;
    if (!codec.isEmpty() && AlignHarness::useRtspProfile(dir.path(), sim.rtspPort()).isEmpty())
        return false;
    AlignHarness tool(sim);
    if (!tool.connected())
        return false;
    const QJsonObject best = AlignHarness::bestCalibration(sim);
    std::vector<double> residuals, writes, seconds;
    int good = 0;
    for (int run = 0; run < runs; ++run) {
        QRandomGenerator random(5000u + quint32(run));
        tool.setCalibration(AlignHarness::startOff(best, m, random));
        QElapsedTimer timer;
        timer.start();
        QString message;
        const int outcome = tool.run(AutoAligner::Options(), &message);
        const double s = timer.elapsed() / 1000.0;
        const QJsonObject state = sim.state();
        const double error = state["alignmentError"].toDouble();
        const double floor = state["alignmentFloor"].toDouble();
        const bool ok = outcome == int(AutoAligner::Outcome::Aligned) &&
                        (error <= 1.0 || error <= floor + 0.5) && tool.aligner->writes() <= 25;
        good += ok;
        residuals.push_back(error);
        writes.push_back(tool.aligner->writes());
        seconds.push_back(s);
        std::printf("%s run %d: residual %.2f px (floor %.2f), %d writes, %.1f s%s\n", m.name, run,
                    error, floor, tool.aligner->writes(), s, ok ? "" : "  MISSED");
        std::fflush(stdout);
    }
    std::printf("%s%s: aligned %d/%d (%.0f %%), median residual %.2f px, writes %.0f, "
                "seconds %.1f (goal 10)\n",
                m.name, codec.isEmpty() ? "" : qPrintable(" rtsp " + codec), good, runs,
                100.0 * good / runs, median(residuals), median(writes), median(seconds));
    qunsetenv("CAMNETSDK_PROFILE");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    PanelQuiet::install();
    int runs = 20;
    QString codec;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--rtsp" && i + 1 < args.size())
            codec = args[++i];
        else if (args[i].toInt() > 0)
            runs = args[i].toInt();
        else {
            std::fprintf(stderr, "usage: auto_align [RUNS] [--rtsp h264|h265|jpeg]\n");
            return 2;
        }
    }
    if (!CamNet_Init())
        return 1;
    CamNet_SetConnectTime(2000, 1);
    for (const TestSupport::StepMapping &m : TestSupport::stepMappings()) {
        if (!benchMapping(m, runs, codec)) {
            std::fprintf(stderr, "auto_align: the simulator or the login did not come up\n");
            return 1;
        }
    }
    return 0;
}
