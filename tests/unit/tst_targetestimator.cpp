// Where the overlay must go: channel 2 registered onto channel 1 across
// modalities on synthetic scenes with objects at several depths. The
// dominant depth's map is found within a pixel; a scene split half and half
// between two depths is refused unless a region picks one; and the phase
// correlation underneath gives the same answer whatever ran before it.
#include "alignmentscene.h"
#include "osdmask.h"
#include "picturemath.h"
#include "targetestimator.h"

#include <QtTest>

namespace {

const QRectF frame(0, 0, 640, 480);

OverlayMap truthMap()
{
    OverlayMap map;
    map.x = {0.95 * 640 / 384, 20};
    map.y = {0.97 * 480 / 288, 10};
    return map;
}

TargetEstimator::Input inputFor(const AlignmentScene &scene)
{
    const ScenePictures &p = scene.pictures;
    const OsdMask::Masks masks =
        OsdMask::build({p.visible, p.visibleLater, p.thermal, p.thermalLater, 4});
    TargetEstimator::Input input;
    input.visible = p.visible;
    input.thermal = p.thermal;
    input.ignore1 = masks.channel1;
    input.ignore2 = masks.channel2;
    return input;
}

void report(const TargetEstimator::Result &r, const OverlayMap &truth, const QRectF &over = frame)
{
    qInfo("%s: error %.3f px (whole picture %.3f), peak %.3f, tiles %d, inliers %d, rivals %d, "
          "spread %.2f, whole-to-tiles %.2f, band bias %.2f",
          refusalName(r.refusal), meanDistance(r.map, truth, over),
          meanDistance(r.wholePicture, truth, over), r.peak, r.tiles, r.inliers, r.rivals, r.spread,
          r.wholeDistance, r.bandBias);
}

} // namespace

class TestTargetEstimator : public QObject
{
    Q_OBJECT

private slots:
    void findsTheDominantDepth_data()
    {
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed = 1; seed <= 4; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }

    void findsTheDominantDepth()
    {
        QFETCH(unsigned, seed);
        SceneOptions options;
        options.seed = seed;
        options.truth = truthMap();
        const AlignmentScene scene(options);
        const TargetEstimator::Result result = TargetEstimator::estimate(inputFor(scene));
        report(result, options.truth);
        QCOMPARE(refusalName(result.refusal), refusalName(RegistrationRefusal::None));
        QVERIFY(meanDistance(result.map, options.truth, frame) < 1.0);
    }

    void twoEqualDepthsNeedARegion_data()
    {
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed = 2; seed <= 4; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }

    void twoEqualDepthsNeedARegion()
    {
        QFETCH(unsigned, seed);
        SceneOptions options;
        options.seed = seed;
        options.truth = truthMap();
        options.halfHalf = true;
        options.parallax = {8.0};
        const AlignmentScene scene(options);
        TargetEstimator::Input input = inputFor(scene);
        const TargetEstimator::Result whole = TargetEstimator::estimate(input);
        report(whole, options.truth);
        QCOMPARE(refusalName(whole.refusal), refusalName(RegistrationRefusal::TilesDisagree));

        // The right half's thermal picture shows its scene 8 px further right, so
        // its map draws it 8 px further left.
        OverlayMap right = options.truth;
        right.x.offset -= 8.0;
        // What matters is the distance inside the region drawn.
        const QRectF rightHalf(340, 20, 280, 440), leftHalf(20, 20, 280, 440);
        input.region = cv::Rect(340, 20, 280, 440);
        const TargetEstimator::Result picked = TargetEstimator::estimate(input);
        report(picked, right, rightHalf);
        QCOMPARE(refusalName(picked.refusal), refusalName(RegistrationRefusal::None));
        QVERIFY(meanDistance(picked.map, right, rightHalf) < 1.0);

        // The left half holds the OSD and less structure: it may refuse, but
        // what it answers is its own depth.
        input.region = cv::Rect(20, 20, 280, 440);
        const TargetEstimator::Result left = TargetEstimator::estimate(input);
        report(left, options.truth, leftHalf);
        if (left.refusal == RegistrationRefusal::None)
            QVERIFY(meanDistance(left.map, options.truth, leftHalf) < 1.0);
    }

    void refusesFeaturelessPictures()
    {
        SceneOptions options;
        options.seed = 31;
        options.truth = truthMap();
        options.featurelessThermal = true;
        const AlignmentScene scene(options);
        TargetEstimator::Input input = inputFor(scene);
        QCOMPARE(refusalName(TargetEstimator::estimate(input).refusal),
                 refusalName(RegistrationRefusal::FeaturelessThermal));
        input.thermal = scene.pictures.visible;
        input.ignore2 = cv::Mat();
        input.visible = cv::Mat(480, 640, CV_8UC4, cv::Scalar::all(0));
        input.ignore1 = cv::Mat();
        QCOMPARE(refusalName(TargetEstimator::estimate(input).refusal),
                 refusalName(RegistrationRefusal::MissingPicture));
    }

    void phaseCorrelationDoesNotDependOnEarlierCalls()
    {
        cv::RNG rng(41);
        qInfo("seed 41");
        const auto picture = [&rng](cv::Size size) {
            cv::Mat m(size, CV_32F);
            rng.fill(m, cv::RNG::UNIFORM, 0, 1);
            cv::GaussianBlur(m, m, cv::Size(), 2.0);
            return m;
        };
        const cv::Mat a = picture(cv::Size(160, 120));
        cv::Mat b;
        cv::warpAffine(a, b, cv::Matx23d(1, 0, 3.25, 0, 1, -1.5), a.size());
        const cv::Mat c = picture(cv::Size(160, 120)), d = picture(cv::Size(96, 64));
        const cv::Mat e = picture(cv::Size(96, 64));

        double firstPeak = 0, laterPeak = 0, ignored = 0;
        const cv::Point2d first = PictureMath::phaseCorrelate(a, b, &firstPeak);
        PictureMath::phaseCorrelate(c, a, &ignored);
        PictureMath::phaseCorrelate(d, e, &ignored);
        PictureMath::phaseCorrelate(b, c, &ignored);
        const cv::Point2d later = PictureMath::phaseCorrelate(a, b, &laterPeak);
        QCOMPARE(later.x, first.x);
        QCOMPARE(later.y, first.y);
        QCOMPARE(laterPeak, firstPeak);
        qInfo("shift %.3f %.3f, peak %.3f", first.x, first.y, firstPeak);
        // OpenCV's centroid leaves a few tenths of sub-pixel bias; the fits
        // that follow it remove that.
        QVERIFY(std::abs(first.x - 3.25) < 0.5 && std::abs(first.y + 1.5) < 0.5);
        // Its inputs are left as they were.
        cv::Mat copy = a.clone();
        PictureMath::phaseCorrelate(copy, b, &ignored);
        QCOMPARE(cv::norm(copy, a, cv::NORM_INF), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestTargetEstimator)
#include "tst_targetestimator.moc"
