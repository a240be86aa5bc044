// Auto Align against a simulator, as the integration test and the benchmark
// run it: the tool's own camera link, setting panel and status strip on a
// login to the simulator (previews without a window), the simulator's step
// mappings that the aligner is not told, and random starts around the best
// setting the simulator knows.
#ifndef ALIGNHARNESS_H
#define ALIGNHARNESS_H

#include "autoaligner.h"
#include "calibrationxml.h"
#include "camsimprocess.h"
#include "livealigncamera.h"
#include "settingwidget.h"
#include "statusbarinsertwidget.h"

#include <QJsonObject>
#include <QRandomGenerator>
#include <QStringList>

#include <memory>

class CameralInteract;

namespace TestSupport {

// How one simulated camera turns its values into the overlay's warp.
struct StepMapping
{
    const char *name;
    double shiftGain; // px a bias step
    double scaleGain; // scale a scale step
    QStringList options;
};

// Default, fine and reversed about the corner, coarse with the scale reversed.
const QList<StepMapping> &stepMappings();

class AlignHarness
{
public:
    explicit AlignHarness(const Camsim &sim);
    ~AlignHarness();
    AlignHarness(const AlignHarness &) = delete;
    AlignHarness &operator=(const AlignHarness &) = delete;

    bool connected() const { return aligner != nullptr; }
    // Writes the values as the camera's and loads them into the panel.
    bool setCalibration(const SettingParams &p);
    // Runs to the end: the outcome, or -1 when it did not end in a minute.
    int run(const AutoAligner::Options &options, QString *message);

    // A device profile in `dir` that streams the simulator's RTSP port,
    // named in CAMNETSDK_PROFILE for the next logins; empty on failure.
    static QString useRtspProfile(const QString &dir, quint16 rtspPort);
    // The best setting the simulator knows.
    static QJsonObject bestCalibration(const Camsim &sim);
    // A start up to 40 px and 10 % off `best`, within the ranges.
    static SettingParams startOff(const QJsonObject &best, const StepMapping &m,
                                  QRandomGenerator &random);

    CameralInteract *link = nullptr;
    SettingWidget panel;
    StatusBarInsertWidget status;
    std::unique_ptr<LiveAlignCamera> camera;
    std::unique_ptr<AutoAligner> aligner;
};

} // namespace TestSupport

#endif // ALIGNHARNESS_H
