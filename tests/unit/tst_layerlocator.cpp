// Where the camera draws the thermal layer now: recovered to a tenth of a
// pixel from fused and unfused pictures of a synthetic two-lens scene, from
// predictions far off in offset and scale, and refused when fusion shows
// nothing or the thermal picture has nothing to register.
#include "alignmentscene.h"
#include "layerlocator.h"
#include "osdmask.h"

#include <QtTest>

namespace {

OverlayMap mapOf(double sx, double tx, double sy, double ty)
{
    OverlayMap map;
    map.x = {sx, tx};
    map.y = {sy, ty};
    return map;
}

struct Setup
{
    AlignmentScene scene;
    OsdMask::Masks masks;
};

Setup makeScene(unsigned seed, cv::Size size2, bool featureless = false)
{
    SceneOptions options;
    options.seed = seed;
    options.size2 = size2;
    options.featurelessThermal = featureless;
    options.truth = mapOf(0.96 * 640 / size2.width, 14, 0.97 * 480 / size2.height, 9);
    AlignmentScene scene(options);
    const ScenePictures &p = scene.pictures;
    const OsdMask::Masks masks =
        OsdMask::build({p.visible, p.visibleLater, p.thermal, p.thermalLater, 4});
    return {scene, masks};
}

} // namespace

class TestLayerLocator : public QObject
{
    Q_OBJECT

private slots:
    void recoversTheCameraMap_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<QSize>("size2");
        QTest::addColumn<double>("scaleError");
        QTest::addColumn<double>("shiftX");
        QTest::addColumn<double>("shiftY");
        QTest::addColumn<double>("alpha");
        QTest::newRow("384x288, larger and right-down")
            << 11u << QSize(384, 288) << 0.08 << 30.0 << 20.0 << 0.5;
        QTest::newRow("384x288, smaller and left-up")
            << 12u << QSize(384, 288) << -0.08 << -30.0 << -24.0 << 0.5;
        QTest::newRow("640x480, larger and left")
            << 13u << QSize(640, 480) << 0.08 << -30.0 << 5.0 << 0.4;
        QTest::newRow("640x480, exact prediction")
            << 14u << QSize(640, 480) << 0.0 << 0.0 << 0.0 << 0.6;
    }

    void recoversTheCameraMap()
    {
        QFETCH(unsigned, seed);
        QFETCH(QSize, size2);
        QFETCH(double, scaleError);
        QFETCH(double, shiftX);
        QFETCH(double, shiftY);
        QFETCH(double, alpha);
        qInfo("seed %u", seed);
        const Setup s = makeScene(seed, cv::Size(size2.width(), size2.height()));
        // The camera's present calibration is not the one the scene's truth
        // wants; the locator must find the present one.
        const OverlayMap camera =
            mapOf(1.02 * 640 / size2.width(), 8.3, 0.99 * 480 / size2.height(), 3.7);
        LayerLocator::Input input;
        input.fusionOn = s.scene.fused(camera, alpha, 1300);
        input.fusionOff = s.scene.pictures.visible;
        input.channel2 = s.scene.pictures.thermal;
        input.ignore1 = s.masks.channel1;
        input.ignore2 = s.masks.channel2;
        input.predicted = camera;
        // Scaled about the picture's centre, then shifted.
        input.predicted.x.scale *= 1 + scaleError;
        input.predicted.y.scale *= 1 + scaleError;
        input.predicted.x.offset += shiftX - scaleError * camera.x.scale * size2.width() / 2;
        input.predicted.y.offset += shiftY - scaleError * camera.y.scale * size2.height() / 2;
        const LayerLocator::Result result = LayerLocator::locate(input);
        QCOMPARE(refusalName(result.refusal), refusalName(RegistrationRefusal::None));
        const double error = meanDistance(result.map, camera, QRectF(0, 0, 640, 480));
        qInfo("error %.4f px, quality %.3f, alpha %.3f, peak %.3f", error, result.quality,
              result.alpha, result.peak);
        QVERIFY2(error < 0.1, qPrintable(QString::number(error)));
        QVERIFY(std::abs(result.alpha - alpha) < 0.05);
    }

    void refusesWhatCannotBeLocated()
    {
        const Setup normal = makeScene(21, cv::Size(384, 288));
        const OverlayMap camera = mapOf(1.66, 10, 1.66, 6);
        LayerLocator::Input input;
        input.fusionOff = normal.scene.pictures.visible;
        input.channel2 = normal.scene.pictures.thermal;
        input.ignore1 = normal.masks.channel1;
        input.ignore2 = normal.masks.channel2;
        input.predicted = camera;

        // Fusion switched on but nothing changed but noise, cloud and counter.
        input.fusionOn = normal.scene.pictures.visibleLater;
        QCOMPARE(refusalName(LayerLocator::locate(input).refusal),
                 refusalName(RegistrationRefusal::NoLayer));

        const Setup flat = makeScene(22, cv::Size(384, 288), true);
        input.fusionOn = flat.scene.fused(camera, 0.5, 1300);
        input.fusionOff = flat.scene.pictures.visible;
        input.channel2 = flat.scene.pictures.thermal;
        QCOMPARE(refusalName(LayerLocator::locate(input).refusal),
                 refusalName(RegistrationRefusal::FeaturelessThermal));

        input.fusionOff = cv::Mat(100, 100, CV_8UC4, cv::Scalar::all(0));
        QCOMPARE(refusalName(LayerLocator::locate(input).refusal),
                 refusalName(RegistrationRefusal::BadInput));

        // Pictures too small for any pyramid are refused, not a crash.
        cv::Mat tiny(6, 6, CV_8UC4);
        cv::randu(tiny, 0, 255);
        input = LayerLocator::Input{tiny, tiny.clone(), tiny.clone(), cv::Mat(), cv::Mat(), camera};
        QVERIFY(LayerLocator::locate(input).refusal != RegistrationRefusal::None);
    }
};

QTEST_GUILESS_MAIN(TestLayerLocator)
#include "tst_layerlocator.moc"
