// The preview area's native windows and the status-bar strip with the fusion switch.
#include "centerwidget.h"
#include "statusbarinsertwidget.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>
#include <QtTest>

class TestPreviewAndStatus : public QObject
{
    Q_OBJECT

private slots:
    void previewFramesHaveNativeWindows();
    void previewFrame1KeepsItsMinimum();
    void statusStrip();
    void fusionSwitchEmitsOnEveryChange();
};

void TestPreviewAndStatus::previewFramesHaveNativeWindows()
{
    CenterWidget center;
    QCOMPARE(center.objectName(), QString("CenterWidget"));
    QCOMPARE(center.findChild<QGroupBox *>("groupBox")->title(), QString("Double PreView"));
    auto *frame1 = center.findChild<QFrame *>("previewFrame1");
    auto *frame2 = center.findChild<QFrame *>("previewFrame2");
    QVERIFY(frame1 && frame2);

    const QList<WId> ids = center.previewWindowIds();
    QCOMPARE(ids.size(), 2);
    QVERIFY(frame1->testAttribute(Qt::WA_NativeWindow));
    QVERIFY(frame2->testAttribute(Qt::WA_NativeWindow));
    QCOMPARE(ids.at(0), frame1->internalWinId());
    QCOMPARE(ids.at(1), frame2->internalWinId());
    QVERIFY(ids.at(0) != ids.at(1));

    center.show();
    QVERIFY(QTest::qWaitForWindowExposed(&center));
    QCOMPARE(center.previewWindowIds(), ids);
    for (QFrame *frame : {frame1, frame2}) {
        QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
        QCOMPARE(frame->frameShadow(), QFrame::Sunken);
    }
}

void TestPreviewAndStatus::previewFrame1KeepsItsMinimum()
{
    CenterWidget center;
    center.resize(200, 150);
    center.show();
    QVERIFY(QTest::qWaitForWindowExposed(&center));
    QTRY_VERIFY(center.findChild<QFrame *>("previewFrame1")->width() >= 384);
    QVERIFY(center.findChild<QFrame *>("previewFrame1")->height() >= 288);
    QCOMPARE(center.findChild<QFrame *>("previewFrame2")->minimumSize(), QSize(0, 0));
}

void TestPreviewAndStatus::statusStrip()
{
    QStatusBar bar;
    auto *strip = new StatusBarInsertWidget(&bar);
    bar.addWidget(strip, 1);
    bar.resize(900, 60);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    QCOMPARE(strip->objectName(), QString("StatusBarInsertWidget"));
    QCOMPARE(strip->height(), 22);
    QVERIFY(strip->width() > 400); // follows the status bar
    auto *label = strip->findChild<QLabel *>("label");
    auto *box = strip->findChild<QCheckBox *>("fusionONCheckBox");
    QCOMPARE(label->text(), QString("Disconnected"));
    QCOMPARE(box->text(), QString("Fusion ON"));
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());

    strip->setConnectionText("127.0.0.1 Connected");
    QCOMPARE(label->text(), QString("127.0.0.1 Connected"));
    strip->setFusionEnabled(true);
    QVERIFY(box->isEnabled());
    strip->setFusionEnabled(false);
    QVERIFY(!box->isEnabled());
    QVERIFY(label->isEnabled());
    QVERIFY(strip->isEnabled());
}

void TestPreviewAndStatus::fusionSwitchEmitsOnEveryChange()
{
    StatusBarInsertWidget strip;
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    auto *box = strip.findChild<QCheckBox *>("fusionONCheckBox");
    QSignalSpy spy(&strip, &StatusBarInsertWidget::signalONFusion);

    // A disabled box cannot be clicked, but setFusionOn still changes it.
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    strip.setFusionOn(true);
    strip.setFusionOn(true); // same state: nothing
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);

    strip.setFusionEnabled(true);
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 0);
    strip.setFusionOn(false);
    QCOMPARE(spy.count(), 2);
}

QTEST_MAIN(TestPreviewAndStatus)
#include "tst_previewandstatus.moc"
