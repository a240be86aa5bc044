// Which pictures and pixels cannot tell where the overlay is: the structure
// check passes real scenes and refuses a featureless thermal picture, a black
// channel and a frozen stream; the OSD mask covers the counter, the rest of
// its text line, the text both channels share and the border, and little
// else.
#include "alignmentscene.h"
#include "osdmask.h"
#include "structurecheck.h"

#include <QtTest>

namespace {

SceneOptions options(unsigned seed, bool featureless)
{
    SceneOptions o;
    o.seed = seed;
    o.featurelessThermal = featureless;
    o.truth.x = {1.6, 18};
    o.truth.y = {1.6, 12};
    return o;
}

// The pixels where OSD text is drawn: white in a picture without noise.
cv::Mat textPixels(cv::Size size, const std::string &text)
{
    cv::Mat picture(size, CV_8U, cv::Scalar(0));
    cv::putText(picture, text, cv::Point(12, 28), cv::FONT_HERSHEY_SIMPLEX, 0.6, cv::Scalar(255), 2,
                cv::LINE_AA);
    return picture > 128;
}

double coveredShare(const cv::Mat &mask, const cv::Mat &pixels)
{
    return double(cv::countNonZero(mask & pixels)) / cv::countNonZero(pixels);
}

} // namespace

class TestStructureCheck : public QObject
{
    Q_OBJECT

private slots:
    void passesScenesAndRefusesEmptyPictures()
    {
        using Channel = StructureCheck::Channel;
        for (unsigned seed : {1u, 2u, 3u}) {
            qInfo("seed %u", seed);
            const AlignmentScene scene(options(seed, false));
            const auto visible =
                StructureCheck::check(scene.pictures.visible, cv::Mat(), Channel::Visible);
            const auto thermal =
                StructureCheck::check(scene.pictures.thermal, cv::Mat(), Channel::Thermal);
            qInfo("visible score %.1f, thermal score %.1f", visible.score, thermal.score);
            QCOMPARE(refusalName(visible.refusal), refusalName(RegistrationRefusal::None));
            QCOMPARE(refusalName(thermal.refusal), refusalName(RegistrationRefusal::None));

            // Uniform, noise and the OSD's text only: the text alone must not
            // pass for structure, with or without a mask for it.
            const AlignmentScene flat(options(seed, true));
            const auto featureless =
                StructureCheck::check(flat.pictures.thermal, cv::Mat(), Channel::Thermal);
            qInfo("featureless score %.2f", featureless.score);
            QCOMPARE(refusalName(featureless.refusal),
                     refusalName(RegistrationRefusal::FeaturelessThermal));
        }
        const cv::Mat black(288, 384, CV_8UC4, cv::Scalar::all(0));
        QCOMPARE(refusalName(StructureCheck::check(black, cv::Mat(), Channel::Thermal).refusal),
                 refusalName(RegistrationRefusal::MissingPicture));
        const cv::Mat grey(288, 384, CV_8UC4, cv::Scalar::all(128));
        QCOMPARE(refusalName(StructureCheck::check(grey, cv::Mat(), Channel::Visible).refusal),
                 refusalName(RegistrationRefusal::MissingPicture));
        QCOMPARE(refusalName(StructureCheck::check(cv::Mat(), cv::Mat(), Channel::Visible).refusal),
                 refusalName(RegistrationRefusal::BadInput));

        const AlignmentScene scene(options(4, false));
        const cv::Mat &first = scene.pictures.visible;
        QCOMPARE(
            refusalName(StructureCheck::checkLive(first, first.clone(), cv::Mat(), Channel::Visible)
                            .refusal),
            refusalName(RegistrationRefusal::FrozenStream));
        QCOMPARE(refusalName(StructureCheck::checkLive(first, scene.pictures.visibleLater,
                                                       cv::Mat(), Channel::Visible)
                                 .refusal),
                 refusalName(RegistrationRefusal::None));
    }

    void osdMaskCoversTheTextAndTheBorder()
    {
        qInfo("seed 5");
        const AlignmentScene scene(options(5, false));
        const ScenePictures &p = scene.pictures;
        const OsdMask::Masks masks =
            OsdMask::build({p.visible, p.visibleLater, p.thermal, p.thermalLater, 4});
        QVERIFY(masks.valid);
        QVERIFY(masks.changedPixels1 > 0 && masks.changedPixels2 > 0);

        // The whole line, the static label as well as the counter.
        const cv::Mat text1 = textPixels(p.visible.size(), "Channel 1 visible frame 1234") |
                              textPixels(p.visible.size(), "Channel 1 visible frame 1241");
        const cv::Mat text2 = textPixels(p.thermal.size(), "Channel 2 thermal frame 1234");
        qInfo("covered: channel 1 %.3f, channel 2 %.3f", coveredShare(masks.channel1, text1),
              coveredShare(masks.channel2, text2));
        QVERIFY(coveredShare(masks.channel1, text1) > 0.98);
        QVERIFY(coveredShare(masks.channel2, text2) > 0.98);

        QCOMPARE(int(masks.channel1.at<uchar>(2, 320)), 255);
        QCOMPARE(int(masks.channel1.at<uchar>(477, 5)), 255);
        QCOMPARE(int(masks.channel2.at<uchar>(150, 382)), 255);
        QCOMPARE(int(masks.channel1.at<uchar>(240, 320)), 0);
        // The scene itself stays: the text line and the border are all.
        const double share1 = double(cv::countNonZero(masks.channel1)) / masks.channel1.total();
        qInfo("channel 1 masked share %.3f", share1);
        QVERIFY(share1 < 0.06);

        QVERIFY(!OsdMask::build({p.visible, p.thermal, cv::Mat(), cv::Mat(), 4}).valid);
    }
};

QTEST_GUILESS_MAIN(TestStructureCheck)
#include "tst_structurecheck.moc"
