// Auto Align's run against a simulated camera whose pictures come from the
// synthetic two-lens scene and whose values move the overlay by a mapping
// the aligner is not told: it aligns from starts well off, refuses a
// featureless thermal picture and restores the camera, restores on cancel,
// and writes nothing more once the camera is lost.
#include "alignmentscene.h"
#include "autoaligner.h"
#include "calibrationsolver.h"

#include <QSignalSpy>
#include <QtTest>

#include <ctime>

namespace {

quint64 nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 1000000u + quint64(ts.tv_nsec) / 1000u;
}

// How one camera turns its values into the overlay's map.
struct Mapping
{
    double shiftGain; // px a bias step
    double scaleGain; // scale a scale step
    bool cornerPivot; // scales about (0, 0) rather than the centre
};

class SimulatedCamera : public AlignCamera
{
public:
    SimulatedCamera(const SceneOptions &scene, const Mapping &mapping)
        : m_scene(scene), m_mapping(mapping)
    {
        m_values = {6, 100, 100, 64, 64};
    }

    // The map the camera draws the overlay with for the given values.
    OverlayMap mapFor(const SettingParams &v) const
    {
        const AxisMap base[2] = {{640.0 / 384 * 0.9, 20}, {480.0 / 288 * 0.92, 10}};
        const double pivot[2] = {m_mapping.cornerPivot ? 0.0 : 320.0,
                                 m_mapping.cornerPivot ? 0.0 : 240.0};
        const int bias[2] = {v.horShift, v.verShift}, scale[2] = {v.horScale, v.verScale};
        OverlayMap m;
        AxisMap *axes[2] = {&m.x, &m.y};
        for (int a = 0; a < 2; ++a) {
            const double k = 1 + m_mapping.scaleGain * (scale[a] - 64);
            axes[a]->scale = k * base[a].scale;
            axes[a]->offset =
                pivot[a] + k * (base[a].offset - pivot[a]) + m_mapping.shiftGain * (bias[a] - 100);
        }
        return m;
    }

    int capturePicture(int channel, Picture *picture) override
    {
        const ScenePictures &p = m_scene.pictures;
        const quint32 frame = ++m_frames[channel == 2];
        cv::Mat bgrx;
        if (channel == 2)
            bgrx = frame % 2 ? p.thermal : p.thermalLater;
        else if (m_fusion)
            bgrx = m_scene.fused(mapFor(m_values), 0.5, int(frame));
        else
            bgrx = frame % 2 ? p.visible : p.visibleLater;
        picture->image =
            QImage(bgrx.data, bgrx.cols, bgrx.rows, int(bgrx.step), QImage::Format_RGB32).copy();
        picture->frameNumber = frame;
        picture->decodedAtUs = nowUs();
        return 0;
    }
    SettingParams calibration() const override { return m_values; }
    SettingParamsCap calibrationRanges() const override
    {
        SettingParamsCap cap;
        cap.distanceLevel = {1, 10, 1};
        cap.horShift = cap.verShift = {0, 200, 100};
        cap.horScale = cap.verScale = {1, 128, 64};
        return cap;
    }
    bool writeCalibration(const SettingParams &params, QString *error) override
    {
        ++writes;
        if (m_lost) {
            *error = QStringLiteral("gone");
            return false;
        }
        m_values = params;
        if (writes == loseAtWrite)
            m_lost = true;
        return true;
    }
    bool fusionOn() const override { return m_fusion; }
    bool setFusion(bool on, QString *error) override
    {
        if (m_lost) {
            *error = QStringLiteral("gone");
            return false;
        }
        m_fusion = on;
        return true;
    }
    bool lost() const override { return m_lost; }

    void setValues(const SettingParams &v) { m_values = v; }
    AlignmentScene m_scene;
    int writes = 0;
    int loseAtWrite = -1;

private:
    Mapping m_mapping;
    SettingParams m_values;
    bool m_fusion = false;
    bool m_lost = false;
    quint32 m_frames[2] = {};
};

SceneOptions sceneWithTruth(unsigned seed)
{
    SceneOptions o;
    o.seed = seed;
    o.truth.x = {640.0 / 384 * 0.97, 11.5};
    o.truth.y = {480.0 / 288 * 0.985, 6.25};
    return o;
}

AutoAligner::Outcome runToEnd(AutoAligner &aligner, QString *message = nullptr)
{
    QSignalSpy done(&aligner, &AutoAligner::finished);
    aligner.start(AutoAligner::Options());
    if (!done.wait(60000))
        return AutoAligner::Outcome::Failed;
    if (message)
        *message = done.at(0).at(1).toString();
    return done.at(0).at(0).value<AutoAligner::Outcome>();
}

bool sameValues(const SettingParams &a, const SettingParams &b)
{
    return a.distanceLevel == b.distanceLevel && a.horShift == b.horShift &&
           a.verShift == b.verShift && a.horScale == b.horScale && a.verScale == b.verScale;
}

} // namespace

class TestAutoAligner : public QObject
{
    Q_OBJECT

private slots:
    void solverLearnsAndProposesTheBestIntegers();
    void alignsUnderMappingsItIsNotTold_data();
    void alignsUnderMappingsItIsNotTold();
    void refusalCancelAndLossRestoreOrStop();
};

// On an exactly linear camera two probes and one correction are enough.
void TestAutoAligner::solverLearnsAndProposesTheBestIntegers()
{
    SimulatedCamera camera(sceneWithTruth(1), {-0.6, 0.008, true});
    CalibrationSolver solver(camera.calibrationRanges(), QRectF(0, 0, 640, 480));
    SettingParams v = camera.calibration();
    const OverlayMap m0 = camera.mapFor(v);
    SettingParams probe = v;
    probe.horShift += 4;
    probe.verShift += 4;
    const OverlayMap m1 = camera.mapFor(probe);
    SettingParams probe2 = probe;
    probe2.horScale += 4;
    probe2.verScale += 4;
    const OverlayMap m2 = camera.mapFor(probe2);
    for (auto axis : {CalibrationSolver::Horizontal, CalibrationSolver::Vertical}) {
        solver.learnProbe(axis, true, 4, CalibrationSolver::axisMap(m0, axis),
                          CalibrationSolver::axisMap(m1, axis));
        solver.learnProbe(axis, false, 4, CalibrationSolver::axisMap(m1, axis),
                          CalibrationSolver::axisMap(m2, axis));
    }
    QVERIFY(solver.knows());
    QCOMPARE(solver.response(CalibrationSolver::Horizontal).offsetPerBias, -0.6);
    const OverlayMap target = sceneWithTruth(1).truth;
    const CalibrationSolver::Proposal p = solver.propose(probe2, m2, target);
    QVERIFY(std::abs(solver.residual(camera.mapFor(p.values), target) - p.predictedResidual) <
            1e-6);
    // No integer neighbour of the proposal is better.
    double best = p.predictedResidual;
    for (int d = -1; d <= 1; d += 2) {
        for (int *field : {&v.horShift, &v.verShift, &v.horScale, &v.verScale}) {
            v = p.values;
            *field += d;
            best = std::min(best, solver.residual(camera.mapFor(v), target));
        }
    }
    QCOMPARE(best, p.predictedResidual);
    QCOMPARE(p.values.distanceLevel, probe2.distanceLevel);
}

void TestAutoAligner::alignsUnderMappingsItIsNotTold_data()
{
    QTest::addColumn<double>("shiftGain");
    QTest::addColumn<double>("scaleGain");
    QTest::addColumn<bool>("corner");
    QTest::addColumn<int>("horShift");
    QTest::addColumn<int>("horScale");
    QTest::newRow("fine, reversed, corner") << -0.6 << 0.008 << true << 60 << 70;
    QTest::newRow("coarse, scale reversed") << 2.5 << -0.025 << false << 110 << 60;
}

void TestAutoAligner::alignsUnderMappingsItIsNotTold()
{
    QFETCH(double, shiftGain);
    QFETCH(double, scaleGain);
    QFETCH(bool, corner);
    QFETCH(int, horShift);
    QFETCH(int, horScale);
    SimulatedCamera camera(sceneWithTruth(7), {shiftGain, scaleGain, corner});
    camera.setValues({6, horShift, 95, horScale, 62});
    const OverlayMap truth = sceneWithTruth(7).truth;
    const QRectF frame(0, 0, 640, 480);
    const double start = meanDistance(camera.mapFor(camera.calibration()), truth, frame);
    AutoAligner aligner(&camera);
    QString message;
    const AutoAligner::Outcome outcome = runToEnd(aligner, &message);
    QVERIFY2(outcome == AutoAligner::Outcome::Aligned, qPrintable(message));
    const double end = meanDistance(camera.mapFor(camera.calibration()), truth, frame);
    qInfo("from %.2f px to %.2f px in %d writes: %s", start, end, aligner.writes(),
          qPrintable(message));
    QVERIFY(start > 10);
    QVERIFY2(end < 1.5, qPrintable(QString::number(end)));
    QVERIFY(aligner.writes() <= 25);
    QCOMPARE(camera.calibration().distanceLevel, 6);
    QVERIFY(!camera.fusionOn());
}

void TestAutoAligner::refusalCancelAndLossRestoreOrStop()
{
    const SettingParams start{6, 90, 110, 66, 60};
    {
        SceneOptions flat = sceneWithTruth(3);
        flat.featurelessThermal = true;
        SimulatedCamera camera(flat, {1.0, 1.0 / 64, false});
        camera.setValues(start);
        AutoAligner aligner(&camera);
        QString message;
        QCOMPARE(runToEnd(aligner, &message), AutoAligner::Outcome::Refused);
        QVERIFY2(message.contains("thermal"), qPrintable(message));
        QVERIFY(sameValues(camera.calibration(), start));
        QCOMPARE(camera.writes, 0);
    }
    {
        SimulatedCamera camera(sceneWithTruth(3), {1.0, 1.0 / 64, false});
        camera.setValues(start);
        AutoAligner aligner(&camera);
        QSignalSpy done(&aligner, &AutoAligner::finished);
        aligner.start(AutoAligner::Options());
        QTRY_VERIFY_WITH_TIMEOUT(camera.writes >= 1, 30000);
        aligner.cancel();
        QVERIFY(done.wait(30000));
        QCOMPARE(done.at(0).at(0).value<AutoAligner::Outcome>(), AutoAligner::Outcome::Cancelled);
        QVERIFY(sameValues(camera.calibration(), start));
        QVERIFY(!camera.fusionOn());
    }
    {
        SimulatedCamera camera(sceneWithTruth(3), {1.0, 1.0 / 64, false});
        camera.setValues(start);
        camera.loseAtWrite = 2;
        AutoAligner aligner(&camera);
        QString message;
        QCOMPARE(runToEnd(aligner, &message), AutoAligner::Outcome::Failed);
        QVERIFY(!message.isEmpty());
        // The write that found the camera gone is the last one tried.
        QCOMPARE(camera.writes, 3);
    }
}

QTEST_MAIN(TestAutoAligner)
#include "tst_autoaligner.moc"
