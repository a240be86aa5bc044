#include "alignharness.h"

#include "cameralinteract.h"
#include "isapiinteract.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace TestSupport {

namespace {

constexpr quint32 settledFrames = 40;

} // namespace

const QList<StepMapping> &stepMappings()
{
    static const QList<StepMapping> mappings{
        {"default", 1.0, 1.0 / 64, {}},
        {"fine-reversed-corner",
         -0.6,
         0.008,
         {"--shift-gain", "-0.6", "--scale-gain", "0.008", "--scale-centre", "corner"}},
        {"coarse", 2.5, -0.025, {"--shift-gain", "2.5", "--scale-gain", "-0.025"}},
    };
    return mappings;
}

AlignHarness::AlignHarness(const Camsim &sim)
{
    link = CameralInteract::instance();
    if (link->login(QStringLiteral("127.0.0.1"), sim.port(), camsimUser, camsimPassword) != 0)
        return;
    link->realPlay(0, 1);
    link->realPlay(0, 2);
    // The scene's main plane is that of distance level 6: the level the
    // technician would choose, and the one every start keeps.
    SettingParams main;
    main.distanceLevel = 6;
    main.horShift = main.verShift = 100;
    main.horScale = main.verScale = 64;
    ISAPIInteract::getInstance()->setFusionCalibration(main, link->loginId());
    panel.loadSettingParamsFromCamera(link->loginId());
    camera = std::make_unique<LiveAlignCamera>(&panel, &status);
    aligner = std::make_unique<AutoAligner>(camera.get());
}

AlignHarness::~AlignHarness()
{
    aligner.reset();
    link->logout();
}

bool AlignHarness::setCalibration(const SettingParams &p)
{
    if (ISAPIInteract::getInstance()->setFusionCalibration(p, link->loginId()) != 1)
        return false;
    panel.loadSettingParamsFromCamera(link->loginId());
    return true;
}

int AlignHarness::run(const AutoAligner::Options &options, QString *message)
{
    // As a technician would, start once both previews have been playing for
    // a while: an H.264 stream's first pictures can lack parts of their key
    // frame until the next one.
    for (int channel = 1; channel <= 2; ++channel) {
        AlignCamera::Picture picture;
        if (!QTest::qWaitFor(
                [&] {
                    return camera->capturePicture(channel, &picture) == 0 &&
                           picture.frameNumber >= settledFrames;
                },
                20000))
            return -1;
    }
    QSignalSpy done(aligner.get(), &AutoAligner::finished);
    aligner->start(options);
    if (!done.wait(60000))
        return -1;
    *message = done.at(0).at(1).toString();
    return int(done.at(0).at(0).value<AutoAligner::Outcome>());
}

QString AlignHarness::useRtspProfile(const QString &dir, quint16 rtspPort)
{
    const QString profile = dir + QStringLiteral("/camnetsdk.ini");
    QFile file(profile);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(QStringLiteral("[General]\nstreamUrl=rtsp://{host}:%1/channels/{channel}\n")
                   .arg(rtspPort)
                   .toUtf8());
    file.close();
    qputenv("CAMNETSDK_PROFILE", profile.toLocal8Bit());
    return profile;
}

QJsonObject AlignHarness::bestCalibration(const Camsim &sim)
{
    return sim.state()["bestCalibration"].toObject();
}

SettingParams AlignHarness::startOff(const QJsonObject &best, const StepMapping &m,
                                     QRandomGenerator &random)
{
    const auto off = [&](const char *key, double units, double gain, int lo, int hi) {
        const int steps = int(std::lround((random.bounded(2.0 * units) - units) / gain));
        return qBound(lo, best[key].toInt() + steps, hi);
    };
    SettingParams p;
    p.distanceLevel = best["distanceLevel"].toInt();
    p.horShift = off("horShift", 40, std::abs(m.shiftGain), 0, 200);
    p.verShift = off("verShift", 40, std::abs(m.shiftGain), 0, 200);
    p.horScale = off("horScale", 0.10, std::abs(m.scaleGain), 1, 128);
    p.verScale = off("verScale", 0.10, std::abs(m.scaleGain), 1, 128);
    return p;
}

} // namespace TestSupport
