// The main window's form and its arrow-key shortcuts.
#include "overlaytuner.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QtTest>

class TestOverlayTuner : public QObject
{
    Q_OBJECT

private slots:
    void formAndDefaults();
    void signalsInDeclarationOrder();
    void shortcuts_data();
    void shortcuts();
    void repeatedKeyEmitsEachTime();
};

void TestOverlayTuner::formAndDefaults()
{
    OverlayTuner window;
    QCOMPARE(window.objectName(), QString("OverlayTunerClass"));
    QCOMPARE(window.windowTitle(), QString("OverlayTuner"));
    QCOMPARE(window.size(), QSize(427, 227));
    QCOMPARE(window.focusPolicy(), Qt::StrongFocus);

    auto *menuBar = window.findChild<QMenuBar *>("menuBar");
    QVERIFY(menuBar);
    QCOMPARE(window.menuBar(), menuBar);
    QVERIFY(window.findChild<QStatusBar *>("statusBar"));
    QCOMPARE(window.statusBar(), window.findChild<QStatusBar *>("statusBar"));

    const QList<QAction *> menus = menuBar->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus.at(0)->menu()->objectName(), QString("menuCamera"));
    QCOMPARE(menus.at(0)->text(), QString("Camera"));
    QCOMPARE(menus.at(1)->menu()->objectName(), QString("menuCalibration"));
    QCOMPARE(menus.at(1)->text(), QString("Calibration"));
    QCOMPARE(menus.at(2)->menu()->objectName(), QString("menuAbout"));
    QCOMPARE(menus.at(2)->text(), QString("About"));

    // Nothing to calibrate before a camera is connected.
    const QList<QAction *> calibration = menus.at(1)->menu()->actions();
    QCOMPARE(calibration.size(), 2);
    QCOMPARE(calibration.at(0), window.findChild<QAction *>("actionAutoAlign"));
    QCOMPARE(calibration.at(1), window.findChild<QAction *>("actionRevertCalibration"));
    QVERIFY(!calibration.at(0)->isEnabled() && !calibration.at(1)->isEnabled());

    const QList<QAction *> camera = menus.at(0)->menu()->actions();
    QCOMPARE(camera.size(), 3);
    QCOMPARE(camera.at(0)->objectName(), QString("actionConnect"));
    QCOMPARE(camera.at(0)->text(), QString("Connect"));
    QCOMPARE(camera.at(1)->objectName(), QString("actionFindCameras"));
    QCOMPARE(camera.at(1)->text(), QString("Find Cameras…"));
    QCOMPARE(camera.at(2)->objectName(), QString("actionDisconnect"));
    QCOMPARE(camera.at(2)->text(), QString("Disconnect"));
    const QList<QAction *> about = menus.at(2)->menu()->actions();
    QCOMPARE(about.size(), 1);
    QCOMPARE(about.at(0)->objectName(), QString("actionAbout"));
    QCOMPARE(about.at(0)->text(), QString("About"));
    for (QAction *action : camera + about) {
        QVERIFY(action->isEnabled());
        QCOMPARE(action->parent(), &window);
    }
}

void TestOverlayTuner::signalsInDeclarationOrder()
{
    const QMetaObject &meta = OverlayTuner::staticMetaObject;
    const char *const expected[] = {"signalHorScaleChanged(int)", "signalVerScaleChanged(int)",
                                    "signalHorShiftChanged(int)", "signalVerShiftChanged(int)",
                                    "signalDistanceChanged(int)"};
    for (int i = 0; i < 5; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i]));
        QCOMPARE(method.methodType(), QMetaMethod::Signal);
    }
}

void TestOverlayTuner::shortcuts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("signalIndex"); // -1: nothing emitted
    QTest::addColumn<int>("step");

    const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
    QTest::newRow("ctrl+left") << int(Qt::Key_Left) << ctrl << 0 << -1;
    QTest::newRow("ctrl+right") << int(Qt::Key_Right) << ctrl << 0 << 1;
    QTest::newRow("ctrl+up") << int(Qt::Key_Up) << ctrl << 1 << 1;
    QTest::newRow("ctrl+down") << int(Qt::Key_Down) << ctrl << 1 << -1;
    QTest::newRow("shift+up") << int(Qt::Key_Up) << shift << 4 << 1;
    QTest::newRow("shift+down") << int(Qt::Key_Down) << shift << 4 << -1;
    QTest::newRow("left") << int(Qt::Key_Left) << 0 << 2 << -1;
    QTest::newRow("right") << int(Qt::Key_Right) << 0 << 2 << 1;
    QTest::newRow("up") << int(Qt::Key_Up) << 0 << 3 << 1;
    QTest::newRow("down") << int(Qt::Key_Down) << 0 << 3 << -1;
    // Ctrl is tested before Shift, and other modifiers do not matter.
    QTest::newRow("ctrl+shift+up") << int(Qt::Key_Up) << (ctrl | shift) << 1 << 1;
    QTest::newRow("ctrl+alt+left") << int(Qt::Key_Left) << (ctrl | alt) << 0 << -1;
    QTest::newRow("alt+up") << int(Qt::Key_Up) << alt << 3 << 1;
    QTest::newRow("shift+alt+down") << int(Qt::Key_Down) << (shift | alt) << 4 << -1;
    // Shift changes only Up and Down.
    QTest::newRow("shift+left") << int(Qt::Key_Left) << shift << 2 << -1;
    QTest::newRow("shift+right") << int(Qt::Key_Right) << shift << 2 << 1;
    QTest::newRow("letter") << int(Qt::Key_A) << 0 << -1 << 0;
    QTest::newRow("ctrl+letter") << int(Qt::Key_A) << ctrl << -1 << 0;
    QTest::newRow("digit") << int(Qt::Key_5) << 0 << -1 << 0;
    QTest::newRow("return") << int(Qt::Key_Return) << 0 << -1 << 0;
}

void TestOverlayTuner::shortcuts()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, signalIndex);
    QFETCH(int, step);

    OverlayTuner window;
    QSignalSpy horScale(&window, &OverlayTuner::signalHorScaleChanged);
    QSignalSpy verScale(&window, &OverlayTuner::signalVerScaleChanged);
    QSignalSpy horShift(&window, &OverlayTuner::signalHorShiftChanged);
    QSignalSpy verShift(&window, &OverlayTuner::signalVerShiftChanged);
    QSignalSpy distance(&window, &OverlayTuner::signalDistanceChanged);
    QSignalSpy *spies[] = {&horScale, &verScale, &horShift, &verShift, &distance};

    QTest::keyClick(&window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    // The window stops every key that reaches it, shortcut or not.
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(&window, &press);
    QVERIFY(press.isAccepted());

    for (int i = 0; i < 5; ++i) {
        if (i == signalIndex) {
            QCOMPARE(spies[i]->count(), 2);
            QCOMPARE(spies[i]->at(0).at(0).toInt(), step);
            QCOMPARE(spies[i]->at(1).at(0).toInt(), step);
        } else {
            QCOMPARE(spies[i]->count(), 0);
        }
    }
}

void TestOverlayTuner::repeatedKeyEmitsEachTime()
{
    OverlayTuner window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy horScale(&window, &OverlayTuner::signalHorScaleChanged);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(&window, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(horScale.count(), 3);
    for (const QList<QVariant> &args : horScale)
        QCOMPARE(args.at(0).toInt(), 1);
}

QTEST_MAIN(TestOverlayTuner)
#include "tst_overlaytuner.moc"
