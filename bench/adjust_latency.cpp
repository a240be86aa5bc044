// Latency of one calibration step: the setting panel's step slot with the
// real SDK against the simulator, and as the baseline bare libcurl keep-alive
// PUTs of the same documents to the same simulator. The two take turns in
// blocks, so that a load burst from elsewhere on the machine falls on both.
#include "calibrationxml.h"
#include "cameralinteract.h"
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "digestputclient.h"
#include "isapiinteract.h"
#include "latencystats.h"
#include "settingwidget.h"
#include "stepsource.h"

#include <QApplication>
#include <QSpinBox>
#include <QThread>

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const QByteArray calibrationPath = "/ISAPI/Thermal/channels/2/fusionCalibration";
// The first requests of either side pay for the connection and the first
// Digest challenge; only the steady state is compared.
constexpr int warmUpSteps = 20;
// Even, so that each block leaves the value where it found it.
constexpr int blockSteps = 100;

QtMessageHandler previousHandler = nullptr;

// The panel traces every write; thousands of lines would bury the figures.
// Qt still formats each trace, only its output is dropped.
void dropTraces(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.startsWith(QLatin1String("--qzv--")))
        previousHandler(type, context, text);
}

double microsecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Counters
{
    qint64 puts = 0;
    qint64 unauthorized = 0;
};

Counters readCounters(const CamsimProcess &sim)
{
    const QJsonObject requests = sim.state().value(QStringLiteral("requests")).toObject();
    Counters counters;
    counters.puts = qint64(requests.value(QStringLiteral("calibrationPut")).toDouble());
    counters.unauthorized = qint64(requests.value(QStringLiteral("unauthorized")).toDouble());
    return counters;
}

// One side of the comparison: its samples and what the camera saw of it.
struct Side
{
    std::vector<double> samples;
    Counters seen;
    int sent = 0;

    template<typename Step>
    void run(const CamsimProcess &sim, int steps, bool timed, Step step)
    {
        const Counters before = readCounters(sim);
        for (int i = 0; i < steps; ++i) {
            // Back and forth, so that the value never runs into its limit.
            const int direction = i % 2 == 0 ? 1 : -1;
            const auto start = std::chrono::steady_clock::now();
            step(direction);
            const double us = microsecondsSince(start);
            if (timed)
                samples.push_back(us);
        }
        const Counters after = readCounters(sim);
        seen.puts += after.puts - before.puts;
        seen.unauthorized += after.unauthorized - before.unauthorized;
        sent += steps;
    }
};

void printSide(const char *name, const Side &side)
{
    const LatencyStats stats(side.samples);
    std::printf("%-8s p50 %8.1f us  p99 %8.1f us  max %9.1f us   (%d steps: camera saw %lld "
                "PUTs, answered %lld with 401)\n",
                name, stats.quantile(0.50), stats.quantile(0.99), stats.max(), side.sent,
                static_cast<long long>(side.seen.puts),
                static_cast<long long>(side.seen.unauthorized));
}

// The last core this process may run on, or -1 when pinning failed.
int pinToOneCore()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
    }
    return -1;
}

int calibrationValue(const QJsonObject &state, const char *name)
{
    return state.value(QStringLiteral("calibration")).toObject().value(name).toInt(-1);
}

} // namespace

int main(int argc, char **argv)
{
    int steps = 2000;
    bool spread = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--spread") == 0) {
            spread = true;
            continue;
        }
        steps = std::atoi(argv[i]);
        if (steps < 1 || steps > 10000000) {
            std::fprintf(stderr, "usage: adjust_latency [--spread] [STEPS]   (default 2000)\n");
            return 2;
        }
    }
    // With the simulator on the same machine, a client whose server thread
    // happens to wake on the other core pays for the crossing: measured here,
    // the same PUTs took 44 or 80 us depending on where the threads landed.
    // One core for this process and the simulator it starts gives every side
    // the same conditions. --spread leaves placement to the scheduler.
    const int core = spread ? -1 : pinToOneCore();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    previousHandler = qInstallMessageHandler(dropTraces);

    CamsimProcess sim;
    if (!sim.port()) {
        std::fprintf(stderr, "adjust_latency: the simulator did not start\n");
        return 1;
    }
    CameralInteract *link = CameralInteract::instance();
    if (link->login(QStringLiteral("127.0.0.1"), sim.port(), CamsimProcess::user,
                    CamsimProcess::password) != 0) {
        std::fprintf(stderr, "adjust_latency: login to the simulator failed\n");
        return 1;
    }
    SettingWidget panel;
    panel.loadSettingParamsFromCamera(link->loginId());
    QSpinBox *box = panel.findChild<QSpinBox *>(QStringLiteral("horShiftSpinBox"));

    // The documents the panel's steps send: one step up, then back.
    const QJsonObject state = sim.state();
    CalibrationDoc doc;
    doc.distanceLevel = calibrationValue(state, "distanceLevel");
    doc.biasHorizontal = calibrationValue(state, "horShift");
    doc.biasVertical = calibrationValue(state, "verShift");
    doc.scaleHorizontal = calibrationValue(state, "horScale");
    doc.scaleVertical = calibrationValue(state, "verScale");
    const int startValue = doc.biasHorizontal;
    QByteArray documents[2];
    doc.biasHorizontal = startValue + 1;
    documents[0] = buildFusionCalibrationXml(doc, QByteArray(), QByteArray());
    doc.biasHorizontal = startValue;
    documents[1] = buildFusionCalibrationXml(doc, QByteArray(), QByteArray());

    DigestPutClient client("http://127.0.0.1:" + QByteArray::number(sim.port()) + calibrationPath,
                           CamsimProcess::user, CamsimProcess::password);
    bool baselineOk = true;
    int wrongValues = 0;
    // The window's step signals reach the private slots by their names.
    StepSource source;
    QObject::connect(&source, SIGNAL(stepped(int)), &panel, SLOT(onSetHorShiftVal(int)),
                     Qt::DirectConnection);
    const auto toolStep = [&](int direction) { source.emitStep(direction); };
    // The SDK's own share: the same PUTs through the SDK, without the panel,
    // the calibration exchange's buffers and its XML.
    const QByteArray putLine = "PUT " + calibrationPath + "\r\n";
    std::vector<char> statusBuffer(16 * 1024);
    bool sdkOk = true;
    const auto sdkStep = [&](int direction) {
        const QByteArray &document = documents[direction > 0 ? 0 : 1];
        XmlConfigInput input;
        std::memset(&input, 0, sizeof input);
        input.size = sizeof input;
        input.requestLine = putLine.constData();
        input.requestLineLength = uint32_t(putLine.size());
        input.body = document.constData();
        input.bodyLength = uint32_t(document.size());
        XmlConfigOutput output;
        std::memset(&output, 0, sizeof output);
        output.size = sizeof output;
        output.status = statusBuffer.data();
        output.statusSize = uint32_t(statusBuffer.size());
        sdkOk = CamNet_StdXmlConfig(link->loginId(), &input, &output) != 0 && sdkOk;
    };
    // The calibration exchange's share: the same writes without the panel.
    SettingParams params;
    params.distanceLevel = doc.distanceLevel;
    params.verShift = doc.biasVertical;
    params.horScale = doc.scaleHorizontal;
    params.verScale = doc.scaleVertical;
    bool exchangeOk = true;
    const auto exchangeStep = [&](int direction) {
        params.horShift = direction > 0 ? startValue + 1 : startValue;
        exchangeOk =
            ISAPIInteract::getInstance()->setFusionCalibration(params, link->loginId()) == 1 &&
            exchangeOk;
    };
    const auto baselineStep = [&](int direction) {
        baselineOk = client.put(documents[direction > 0 ? 0 : 1]) && baselineOk;
    };

    std::printf("adjust_latency: %d steps each for the tool and the baseline, in turns of %d, "
                "after %d warm-up steps each; simulator on 127.0.0.1 port %u; %s\n",
                steps, blockSteps, warmUpSteps, unsigned(sim.port()),
                core >= 0 ? qPrintable(QStringLiteral("all on core %1").arg(core))
                          : "threads placed by the scheduler");
    Side tool;
    Side exchange;
    Side sdk;
    Side baseline;
    tool.run(sim, warmUpSteps, false, toolStep);
    exchange.run(sim, warmUpSteps, false, exchangeStep);
    sdk.run(sim, warmUpSteps, false, sdkStep);
    // The simulator derives its nonce from the second, the method and the
    // path: challenged in the same second, both sides would share one nonce
    // and refuse each other's counts as replays.
    QThread::msleep(1100);
    baseline.run(sim, warmUpSteps, false, baselineStep);
    for (int done = 0; done < steps; done += blockSteps) {
        const int block = std::min(blockSteps, steps - done);
        tool.run(sim, block, true, toolStep);
        if (calibrationValue(sim.state(), "horShift") != box->value())
            ++wrongValues;
        exchange.run(sim, block, true, exchangeStep);
        sdk.run(sim, block, true, sdkStep);
        baseline.run(sim, block, true, baselineStep);
    }
    link->logout();

    printSide("tool", tool);
    printSide("exchange", exchange);
    printSide("sdk", sdk);
    printSide("baseline", baseline);
    if (wrongValues)
        std::printf("warning: after %d blocks the camera did not hold the panel's value\n",
                    wrongValues);
    if (!exchangeOk)
        std::printf("warning: a write through the calibration exchange failed\n");
    if (!sdkOk)
        std::printf("warning: a PUT straight through the SDK failed\n");
    if (!baselineOk) {
        std::fprintf(stderr, "adjust_latency: a baseline PUT was not accepted\n");
        return 1;
    }
    const LatencyStats toolStats(tool.samples);
    const LatencyStats baselineStats(baseline.samples);
    const LatencyStats sdkStats(sdk.samples);
    // The SDK does all the baseline does and more; a baseline well behind it
    // measured the machine, not libcurl, and the ratio below flatters the tool.
    if (baselineStats.quantile(0.50) > 1.15 * sdkStats.quantile(0.50))
        std::printf("warning: the baseline ran slower than the same PUTs through the SDK; "
                    "this ratio flatters the tool\n");
    std::printf("ratio p50 %.2f p99 %.2f\n",
                toolStats.quantile(0.50) / baselineStats.quantile(0.50),
                toolStats.quantile(0.99) / baselineStats.quantile(0.99));
    std::fflush(stdout);
    return 0;
}
