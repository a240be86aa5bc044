// The connected camera as Auto Align drives it, on the recording fake SDK:
// writes go through the panel and the status strip, and a refusal is told
// apart from a lost camera.
#include "cameralinteract.h"
#include "camnetsdkfake.h"
#include "livealigncamera.h"
#include "settingwidget.h"
#include "statusbarinsertwidget.h"

#include <QCheckBox>
#include <QtTest>

class TestLiveAlignCamera : public QObject
{
    Q_OBJECT

private slots:
    void init() { FakeSdk::reset(); }
    void calibrationWrites();
    void fusionIsShownWithoutASecondWrite();
    void picturesOfAnyStreamSize();

private:
    SettingWidget panel;
    StatusBarInsertWidget status;
};

void TestLiveAlignCamera::calibrationWrites()
{
    LiveAlignCamera camera(&panel, &status);
    FakeSdk::XmlReply reply;
    reply.status = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";
    FakeSdk::pushXmlReply(reply);
    QString error;
    QVERIFY(camera.writeCalibration(SettingParams{3, 1, 0, 70, 20}, &error));
    QCOMPARE(camera.calibration().horScale, 70); // shown in the panel
    QVERIFY(FakeSdk::calls("CamNet_StdXmlConfig").back().body.find("<horizontal>70<") !=
            std::string::npos);

    reply.status = "<ResponseStatus><statusCode>4</statusCode></ResponseStatus>";
    FakeSdk::pushXmlReply(reply);
    QVERIFY(!camera.writeCalibration(SettingParams(), &error));
    QCOMPARE(error, QString("The camera refused the calibration (status 4)."));
    QVERIFY(!camera.lost());

    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_CONNECTION_FAILED);
    QVERIFY(!camera.writeCalibration(SettingParams(), &error));
    QCOMPARE(error, QString("The camera could not be reached (error 4)."));
    QVERIFY(camera.lost());

    // Nothing is connected, so there is no preview to take a picture of.
    AlignCamera::Picture picture;
    QCOMPARE(camera.capturePicture(1, &picture), int(CAMNET_ERR_UNKNOWN_PREVIEW));
}

void TestLiveAlignCamera::fusionIsShownWithoutASecondWrite()
{
    LiveAlignCamera camera(&panel, &status);
    auto *box = status.findChild<QCheckBox *>("fusionONCheckBox");
    int emitted = 0;
    connect(&status, &StatusBarInsertWidget::signalONFusion, this, [&emitted] { ++emitted; });
    QString error;
    QVERIFY(camera.setFusion(true, &error));
    QVERIFY(box->isChecked());
    QCOMPARE(int(FakeSdk::calls("CamNet_SetStdConfig").back().input.at(5)), 1);

    std::string off(732, '\0');
    off[5] = 2;
    FakeSdk::pushStdOutput(off);
    QVERIFY(!camera.fusionOn());
    QVERIFY(!box->isChecked());
    QCOMPARE(emitted, 0);
    QCOMPARE(int(FakeSdk::calls("CamNet_SetStdConfig").size()), 1);

    FakeSdk::pushFailure("CamNet_SetStdConfig", CAMNET_ERR_TIMED_OUT);
    QVERIFY(!camera.setFusion(true, &error));
    QCOMPARE(error, QString("The camera could not be reached (error 5)."));
    QVERIFY(camera.lost() && !box->isChecked());
}

void TestLiveAlignCamera::picturesOfAnyStreamSize()
{
    CameralInteract *link = CameralInteract::instance();
    QCOMPARE(link->login("127.0.0.1", 8000, QString(), QString()), 0);
    QVERIFY(link->realPlay(WId(0), 1));
    // Larger than the first buffer, so that it grows once.
    FakeSdk::Picture shot;
    shot.width = 2048;
    shot.height = 1536;
    shot.frameNumber = 7;
    shot.decodedAtUs = 123456;
    shot.bgrx.assign(size_t(shot.width) * shot.height * 4, '\x40');
    const char last[] = {'\x01', '\x02', '\x03', '\xff'}; // blue, green, red
    shot.bgrx.replace(shot.bgrx.size() - 4, 4, last, 4);
    FakeSdk::setChannelPicture(1, shot);

    LiveAlignCamera camera(&panel, &status);
    AlignCamera::Picture picture;
    QCOMPARE(camera.capturePicture(1, &picture), 0);
    QCOMPARE(picture.image.format(), QImage::Format_RGB32);
    QCOMPARE(picture.image.size(), QSize(2048, 1536));
    QCOMPARE(picture.image.pixel(2047, 1535), qRgb(3, 2, 1));
    QCOMPARE(picture.image.pixel(0, 0), qRgb(0x40, 0x40, 0x40));
    QCOMPARE(picture.frameNumber, 7u);
    QCOMPARE(picture.decodedAtUs, 123456ull);
    QCOMPARE(int(FakeSdk::calls("CamNet_CapturePicture").size()), 2);
    QCOMPARE(FakeSdk::calls("CamNet_CapturePicture").back().args.at(0), int64_t(100));

    // Channel 2 has shown nothing yet.
    QVERIFY(link->realPlay(WId(0), 2));
    QCOMPARE(camera.capturePicture(2, &picture), int(CAMNET_ERR_NO_PICTURE));
    link->logout();
}

QTEST_MAIN(TestLiveAlignCamera)
#include "tst_livealigncamera.moc"
