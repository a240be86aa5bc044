// The Auto Align window on a camera of the test's own: the still and the
// region marked on it, the buttons through a run, and what each end shows.
#include "aligncamera.h"
#include "autoaligndialog.h"
#include "autoaligner.h"
#include "camnetsdk.h"
#include "regionselector.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

// Shows a grey still, or fails with error, and accepts every write.
class StillCamera : public AlignCamera
{
public:
    int error = 0;
    int captures = 0;
    SettingParams values;

    int capturePicture(int, Picture *picture) override
    {
        ++captures;
        picture->image = QImage(640, 480, QImage::Format_RGB32);
        picture->image.fill(Qt::gray);
        return error;
    }
    SettingParams calibration() const override { return values; }
    SettingParamsCap calibrationRanges() const override { return SettingParamsCap(); }
    bool writeCalibration(const SettingParams &params, QString *) override
    {
        values = params;
        return true;
    }
    bool fusionOn() const override { return false; }
    bool setFusion(bool, QString *) override { return true; }
    bool lost() const override { return false; }
};

} // namespace

class TestAutoAlignDialog : public QObject
{
    Q_OBJECT

private slots:
    void regionInPictureCoordinates();
    void runStatesAndEnds();
};

void TestAutoAlignDialog::regionInPictureCoordinates()
{
    StillCamera camera;
    AutoAligner aligner(&camera);
    AutoAlignDialog dialog(&aligner, &camera);
    dialog.present();
    auto *selector = dialog.findChild<RegionSelector *>("regionSelector");
    auto *label = dialog.findChild<QLabel *>("regionLabel");
    QCOMPARE(label->text(), QString("Whole picture"));

    // Half the picture's size, with bands of 20 px above and below.
    selector->setFixedSize(320, 280);
    QTest::mousePress(selector, Qt::LeftButton, {}, QPoint(10, 40));
    QTest::mouseMove(selector, QPoint(110, 90));
    QTest::mouseRelease(selector, Qt::LeftButton, {}, QPoint(110, 90));
    QCOMPARE(selector->region(), QRect(QPoint(20, 40), QPoint(220, 140)));
    QCOMPARE(label->text(), QString("Region: 201 x 101 px at (20, 40)"));

    // Dragged back past the picture's corner: bounded by the picture.
    QTest::mousePress(selector, Qt::LeftButton, {}, QPoint(300, 250));
    QTest::mouseRelease(selector, Qt::LeftButton, {}, QPoint(-30, 5));
    QCOMPARE(selector->region(), QRect(QPoint(0, 0), QPoint(600, 460)));

    dialog.findChild<QPushButton *>("clearRegionButton")->click();
    QVERIFY(selector->region().isEmpty());
    QCOMPARE(label->text(), QString("Whole picture"));

    // Each opening takes a new still; without one, the whole picture it is.
    camera.error = CAMNET_ERR_NO_PICTURE;
    dialog.present();
    QCOMPARE(camera.captures, 2);
    QVERIFY(selector->picture().isNull());
    QVERIFY(!dialog.findChild<QPushButton *>("clearRegionButton")->isEnabled());
}

void TestAutoAlignDialog::runStatesAndEnds()
{
    StillCamera camera;
    AutoAligner aligner(&camera);
    AutoAlignDialog dialog(&aligner, &camera);
    QList<bool> running;
    connect(&dialog, &AutoAlignDialog::runningChanged, this,
            [&running](bool on) { running << on; });
    dialog.present();
    auto *start = dialog.findChild<QPushButton *>("startButton");
    auto *cancel = dialog.findChild<QPushButton *>("cancelButton");
    auto *message = dialog.findChild<QLabel *>("messageLabel");

    start->click();
    QVERIFY(!start->isEnabled() && cancel->isEnabled());
    QCOMPARE(running, QList<bool>{true});
    emit aligner.residualChanged(0.6, 0.25);
    QCOMPARE(dialog.findChild<QLabel *>("residualLabel")->text(),
             QString("Residual: 0.60 px (best possible: 0.25 px)"));

    // Cancel during a run keeps the window until the camera has been put back.
    cancel->click();
    QVERIFY(dialog.isVisible());
    QTRY_VERIFY(start->isEnabled());
    QCOMPARE(running, (QList<bool>{true, false}));
    QVERIFY(message->text().startsWith("Result: cancelled;"));

    using End = QPair<AutoAligner::Outcome, QString>;
    for (const End &end : {End{AutoAligner::Outcome::Aligned, "Result: aligned."},
                           End{AutoAligner::Outcome::Refused, "Result: not aligned,"},
                           End{AutoAligner::Outcome::Failed, "Result: failed,"}}) {
        emit aligner.finished(end.first, "Scripted reason.");
        QVERIFY2(message->text().startsWith(end.second), qPrintable(message->text()));
        QVERIFY(message->text().endsWith("\nScripted reason."));
    }

    // With nothing running, Cancel closes the window.
    cancel->click();
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestAutoAlignDialog)
#include "tst_autoaligndialog.moc"
