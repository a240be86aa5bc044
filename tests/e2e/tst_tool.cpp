// The whole tool on the xcb platform with the real SDK against a real camera
// simulator on loopback: connect through the dialog, both live previews, the
// panel loaded from the camera, every shortcut and the fusion switch read back
// from the simulator, disconnect and close; and the camera failing under it.
#include "cameraconnectwidget.h"
#include "cameralinteract.h"
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "configparams.h"
#include "isapiinteract.h"
#include "overlaytuner.h"
#include "settingwidget.h"
#include "startup.h"
#include "statusbarinsertwidget.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

#include <algorithm>

using TestSupport::ModalAnswerer;

namespace {

const char *const simUser = TestSupport::camsimUser;
const char *const simPassword = TestSupport::camsimPassword;

// The five values as the simulator reports them.
const char *const fields[] = {"distanceLevel", "horShift", "verShift", "horScale", "verScale"};
// The panel's box for each of them, in the same order.
const char *const boxNames[] = {"distanceSpinBox", "horShiftSpinBox", "verShiftSpinBox",
                                "horScalingSpinBox", "verScalingSpinBox"};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One simulator process as these runs use it: ten frames a second, and a
// state file that lets a restarted simulator keep the calibration of the one
// before.
TestSupport::Camsim::Options simulator(const QString &stateFile,
                                       const QStringList &extra = QStringList())
{
    return TestSupport::Camsim::Options{0, stateFile, 10, extra};
}

QString configPath()
{
    return QCoreApplication::applicationDirPath() + "/config.ini";
}

// The dialog offers what config.ini holds, so the file always names loopback.
// Written through the tool's own settings store: the settings library caches
// what it last read and can miss a change made behind its back within the
// same clock tick, when the size stays the same.
void writeConfig(quint16 port, const char *password)
{
    openConfigFile();
    configStore->clear();
    configStore->setValue("IP", "127.0.0.1");
    configStore->setValue("PORT", QString::number(port));
    configStore->setValue("USERNAME", simUser);
    configStore->setValue("PASSWD", password);
    configStore->setValue("CHANNEL", "5");
    configStore->setValue("PIXEL", "3");
    configStore->sync();
    QCOMPARE(configStore->status(), QSettings::NoError);
    QVERIFY(fileBytes(configPath()).contains("PORT=" + QByteArray::number(port) + "\n"));
}

void writeSimState(const QString &path, const QJsonObject &calibration, bool fusion)
{
    QJsonObject o;
    o["calibration"] = calibration;
    o["fusion"] = fusion;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(o).toJson());
}

QJsonObject calibrationOf(int level, int hShift, int vShift, int hScale, int vScale)
{
    QJsonObject c;
    c["distanceLevel"] = level;
    c["horShift"] = hShift;
    c["verShift"] = vShift;
    c["horScale"] = hScale;
    c["verScale"] = vScale;
    return c;
}

// What one run of Camera > Connect showed: the dialog's fields as offered,
// then the message boxes in order, and the override cursor while the dialog
// and each box were open (-1 for none).
struct ConnectRun
{
    QStringList offered;
    QStringList boxes;
    QStringList boxTitles;
    QList<int> cursors;
};

ConnectRun connectThroughDialog(OverlayTuner *window)
{
    ConnectRun run;
    ModalAnswerer answerer([&run](QWidget *modal) {
        if (auto *dialog = qobject_cast<CameraConnectWidget *>(modal)) {
            for (const char *name :
                 {"ipAddrLineEdt", "portLineEdt", "userNameLineEdt", "passwdLineEdt"})
                run.offered << dialog->findChild<QLineEdit *>(name)->text();
            dialog->findChild<QPushButton *>("connectBtn")->click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            run.boxes << box->text();
            run.boxTitles << box->windowTitle();
            box->accept();
        }
    });
    window->findChild<QAction *>("actionConnect")->trigger();
    run.cursors = answerer.overrideCursors();
    return run;
}

// Why a connect went wrong: what the dialog offered, the boxes, the requests
// the simulator saw.
QString report(const ConnectRun &run, const TestSupport::Camsim &sim)
{
    return QStringLiteral("simulator on port %1; dialog offered %2; boxes: %3; simulator log:\n%4")
        .arg(sim.port())
        .arg(run.offered.join(' '), run.boxes.join(" | "), QString::fromUtf8(sim.log()));
}

QLabel *statusLabel(OverlayTuner *window)
{
    return window->findChild<StatusBarInsertWidget *>()->findChild<QLabel *>("label");
}

QCheckBox *fusionBox(OverlayTuner *window)
{
    return window->findChild<QCheckBox *>("fusionONCheckBox");
}

QSpinBox *box(OverlayTuner *window, int row)
{
    return window->findChild<SettingWidget *>()->findChild<QSpinBox *>(boxNames[row]);
}

// Checks the state of a clean connect to the simulator on the given port.
void verifyConnected(OverlayTuner *window, const TestSupport::Camsim &sim)
{
    QCOMPARE(statusLabel(window)->text(), QString("127.0.0.1 Connected"));
    QVERIFY(CameralInteract::instance()->loginId() >= 0);
    QVERIFY(!window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(window->findChild<QAction *>("actionDisconnect")->isEnabled());
    QVERIFY(fusionBox(window)->isEnabled());
    QCOMPARE(fusionBox(window)->isChecked(), sim.fusion());
    auto *panel = window->findChild<SettingWidget *>();
    QVERIFY(panel->isVisible());
    const QJsonObject cal = sim.calibration();
    for (int row = 0; row < 5; ++row)
        QVERIFY2(box(window, row)->value() == cal.value(fields[row]).toInt(), fields[row]);
}

void verifyDisconnected(OverlayTuner *window)
{
    QCOMPARE(statusLabel(window)->text(), QString("Disconnected"));
    QVERIFY(CameralInteract::instance()->loginId() < 0);
    QVERIFY(window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(!fusionBox(window)->isEnabled());
    QVERIFY(!fusionBox(window)->isChecked());
    QVERIFY(!window->findChild<SettingWidget *>()->isVisible());
}

struct Shortcut
{
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int row;
    int step;
};

const Shortcut shortcuts[] = {
    {"Ctrl+Left", Qt::Key_Left, Qt::ControlModifier, 3, -1},
    {"Ctrl+Right", Qt::Key_Right, Qt::ControlModifier, 3, +1},
    {"Ctrl+Up", Qt::Key_Up, Qt::ControlModifier, 4, +1},
    {"Ctrl+Down", Qt::Key_Down, Qt::ControlModifier, 4, -1},
    {"Shift+Up", Qt::Key_Up, Qt::ShiftModifier, 0, +1},
    {"Shift+Down", Qt::Key_Down, Qt::ShiftModifier, 0, -1},
    {"Left", Qt::Key_Left, Qt::NoModifier, 1, -1},
    {"Right", Qt::Key_Right, Qt::NoModifier, 1, +1},
    {"Up", Qt::Key_Up, Qt::NoModifier, 2, +1},
    {"Down", Qt::Key_Down, Qt::NoModifier, 2, -1},
    // Ctrl wins over Shift; Shift matters only with Up and Down; Alt is ignored.
    {"Ctrl+Shift+Up", Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier, 4, +1},
    {"Shift+Left", Qt::Key_Left, Qt::ShiftModifier, 1, -1},
    {"Alt+Up", Qt::Key_Up, Qt::AltModifier, 2, +1},
};

// Share of the picture in each colour class, counted over coloured pixels
// (the frame's grey border and an empty frame count as grey).
struct ColourStats
{
    double coloured = 0; // of all pixels
    double green = 0;    // the visible scene's meadow
    double purple = 0;   // the thermal palette's cold background
};

ColourStats colourStats(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    qint64 all = 0, coloured = 0, green = 0, purple = 0;
    for (int y = 0; y < image.height(); y += 2) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); x += 2) {
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            ++all;
            if (std::max({r, g, b}) - std::min({r, g, b}) < 25)
                continue;
            ++coloured;
            if (g > r + 20 && g > b + 20)
                ++green;
            else if (b > g + 30 && r + 5 > g && r + g + b < 300)
                ++purple;
        }
    }
    ColourStats stats;
    if (all)
        stats.coloured = double(coloured) / all;
    if (coloured) {
        stats.green = double(green) / coloured;
        stats.purple = double(purple) / coloured;
    }
    return stats;
}

// Share of pixels that differ clearly between two pictures of the same size.
double changedShare(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull())
        return 0;
    qint64 changed = 0, all = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            ++all;
            if (std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col])) +
                    std::abs(qBlue(p[col]) - qBlue(q[col])) >
                60)
                ++changed;
        }
    }
    return double(changed) / all;
}

// What the X server shows inside a widget: the SDK's video included, which
// Qt itself never paints.
QImage grabOnScreen(QWidget *widget)
{
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, origin.x(), origin.y(), widget->width(), widget->height())
        .toImage();
}

QFrame *previewFrame(OverlayTuner *window, int channel)
{
    return window->findChild<QFrame *>(QStringLiteral("previewFrame%1").arg(channel));
}

QString describe(const ColourStats &s)
{
    return QStringLiteral("coloured %1, green %2, purple %3")
        .arg(s.coloured, 0, 'f', 3)
        .arg(s.green, 0, 'f', 3)
        .arg(s.purple, 0, 'f', 3);
}

// Waits until the frame of the given channel shows live video of that channel.
void verifyPreview(OverlayTuner *window, int channel)
{
    QFrame *frame = previewFrame(window, channel);
    QVERIFY(frame);
    // The inner part only: the styled border is Qt's own.
    auto showsChannel = [&](ColourStats *stats) {
        *stats = colourStats(grabOnScreen(frame));
        if (stats->coloured < 0.3)
            return false;
        return channel == 1 ? stats->green > 0.2 && stats->purple < 0.05
                            : stats->purple > 0.5 && stats->green < 0.02;
    };
    ColourStats stats;
    QElapsedTimer waited;
    waited.start();
    while (!showsChannel(&stats) && waited.elapsed() < 15000)
        QTest::qWait(200);
    QVERIFY2(showsChannel(&stats),
             qPrintable(QStringLiteral("channel %1 shows %2").arg(channel).arg(describe(stats))));
    // Live, not a still: the picture moves on within a couple of seconds.
    const QImage first = grabOnScreen(frame);
    double changed = 0;
    waited.restart();
    while (changed < 0.0003 && waited.elapsed() < 5000) {
        QTest::qWait(250);
        changed = changedShare(first, grabOnScreen(frame));
    }
    QVERIFY2(changed >= 0.0003,
             qPrintable(
                 QStringLiteral("channel %1 changed %2 of its pixels").arg(channel).arg(changed)));
}

// Where the overlay's warm spots are drawn in a picture of channel 1 with
// fusion on: the mean position of the yellow in each half of the picture (one
// spot lies in each), which nothing else in the fused picture has; null when
// a half has none. Each spot is measured alone, so that the two growing and
// shrinking unequally cannot move the result.
QPointF warmSpotCentre(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    double sumX[2] = {}, sumY[2] = {};
    qint64 n[2] = {};
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(line[x]) > 140 && qGreen(line[x]) > 90 && qBlue(line[x]) < 100) {
                const int half = x < image.width() / 2 ? 0 : 1;
                sumX[half] += x;
                sumY[half] += y;
                ++n[half];
            }
        }
    }
    if (n[0] < 25 || n[1] < 25)
        return QPointF();
    return QPointF((sumX[0] / n[0] + sumX[1] / n[1]) / 2, (sumY[0] / n[0] + sumY[1] / n[1]) / 2);
}

} // namespace

class TestTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void normalRun();
    void previewsShowBothChannels();
    void previewsAndStepsOverRtsp();
    void autoAlignFromTheMenu();
    void closingWhileConnectedDisconnectsFirst();
    void killedCameraFailsFastAndComesBack();
    void frozenCameraTimesOutAndComesBack();
    void unusableRepliesLeaveTheToolWorking_data();
    void unusableRepliesLeaveTheToolWorking();
    void refusedChannelTwo();
    void wrongPassword();

private:
    OverlayTuner *openWindow();
    QString statePath(const char *name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    OverlayTuner *m_window = nullptr;
};

void TestTool::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    QVERIFY(m_dir.isValid());
}

void TestTool::cleanup()
{
    qunsetenv("CAMNETSDK_PROFILE");
    if (CameralInteract::instance()->loginId() >= 0)
        CameralInteract::instance()->logout();
    delete m_window;
    m_window = nullptr;
}

// Built and placed as start-up does it, after config.ini has been written.
OverlayTuner *TestTool::openWindow()
{
    m_window = new OverlayTuner;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const WindowPlacement placement = placeOnWorkArea(area.width(), area.height());
    m_window->setMinimumSize(placement.minimumSize);
    if (placement.move)
        m_window->move(placement.position);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window))
        return nullptr;
    m_window->activateWindow();
    m_window->setFocus();
    return m_window;
}

void TestTool::normalRun()
{
    writeSimState(statePath("normal.json"), calibrationOf(5, 90, 110, 70, 60), false);
    TestSupport::Camsim sim(simulator(statePath("normal.json")));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);
    verifyDisconnected(window);

    const ConnectRun run = connectThroughDialog(window);
    QCOMPARE(run.offered,
             (QStringList{"127.0.0.1", QString::number(sim.port()), simUser, simPassword}));
    QVERIFY2(run.boxes.isEmpty(), qPrintable(report(run, sim)));
    verifyConnected(window, sim);
    QCOMPARE(sim.counter("device"), 1);
    // The panel took the camera's ranges, not its own.
    QCOMPARE(box(window, 0)->minimum(), 1);
    QCOMPARE(box(window, 0)->maximum(), 10);
    QCOMPARE(box(window, 1)->maximum(), 200);
    QCOMPARE(box(window, 3)->maximum(), 128);
    // Loading writes nothing back.
    QCOMPARE(sim.counter("calibrationPut"), 0);
    auto *panel = window->findChild<SettingWidget *>();

    // The file reaches the disk by the tool's own event loop.
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(configPath()).contains("CHANNEL=1"), 5000);
    const QByteArray config = fileBytes(configPath());
    for (const QByteArray &line :
         {QByteArray("IP=127.0.0.1\n"), "PORT=" + QByteArray::number(sim.port()) + "\n",
          QByteArray("USERNAME=admin\n"), "PASSWD=" + QByteArray(simPassword) + "\n",
          QByteArray("CHANNEL=1\n"), QByteArray("PIXEL=0\n")})
        QVERIFY2(config.contains(line), config.constData());

    // Every shortcut moves exactly its value on the camera by its step.
    for (const Shortcut &s : shortcuts) {
        const QJsonObject before = sim.calibration();
        const int puts = sim.counter("calibrationPut");
        QTest::keyClick(window, s.key, s.modifiers);
        const QJsonObject after = sim.calibration();
        QVERIFY2(sim.counter("calibrationPut") == puts + 1, s.name);
        for (int row = 0; row < 5; ++row) {
            const int want = before.value(fields[row]).toInt() + (row == s.row ? s.step : 0);
            QVERIFY2(after.value(fields[row]).toInt() == want,
                     qPrintable(QStringLiteral("%1: %2 is %3, not %4")
                                    .arg(s.name, fields[row])
                                    .arg(after.value(fields[row]).toInt())
                                    .arg(want)));
            QVERIFY2(box(window, row)->value() == want, s.name);
        }
    }

    // The switch both ways, read back from the camera.
    QCheckBox *fusion = fusionBox(window);
    QTest::mouseClick(fusion, Qt::LeftButton);
    QVERIFY(fusion->isChecked());
    QVERIFY(sim.fusion());
    QCOMPARE(panel->pos(), window->geometry().topRight() + QPoint(15, 0));
    QTest::mouseClick(fusion, Qt::LeftButton);
    QVERIFY(!fusion->isChecked());
    QVERIFY(!sim.fusion());
    QTest::mouseClick(fusion, Qt::LeftButton);
    QVERIFY(sim.fusion());

    // Disconnecting leaves the camera's switch as it was.
    window->findChild<QAction *>("actionDisconnect")->trigger();
    verifyDisconnected(window);
    QVERIFY(sim.fusion());
    const QJsonObject final = sim.calibration();

    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(sim.calibration(), final);
    QVERIFY(fileBytes(configPath()).contains("PORT=" + QByteArray::number(sim.port()) + "\n"));
}

void TestTool::previewsShowBothChannels()
{
    writeSimState(statePath("preview.json"), calibrationOf(5, 90, 110, 70, 60), false);
    TestSupport::Camsim sim(simulator(statePath("preview.json")));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);

    const ConnectRun run = connectThroughDialog(window);
    QCOMPARE(run.boxes, QStringList());
    verifyConnected(window, sim);
    verifyPreview(window, 1);
    verifyPreview(window, 2);

    // The connected tool as the X server shows it, panel included.
    const QRect area =
        window->frameGeometry().united(window->findChild<SettingWidget *>()->frameGeometry());
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                            .toImage();
    QDir().mkpath(QStringLiteral(OVERLAYTUNER_E2E_ARTIFACTS));
    const QString path = QStringLiteral(OVERLAYTUNER_E2E_ARTIFACTS "/connected.png");
    QVERIFY(shot.save(path, "PNG"));
    qInfo("screenshot of the connected tool: %s", qPrintable(path));

    // After a disconnect and a new connect each channel is back in its own
    // frame; the camera's fusion, left on, is read back at the connect.
    QTest::mouseClick(fusionBox(window), Qt::LeftButton);
    QVERIFY(sim.fusion());
    // Fused, channel 1 lays the thermal palette over the meadow.
    QTRY_VERIFY_WITH_TIMEOUT(colourStats(grabOnScreen(previewFrame(window, 1))).green < 0.05,
                             10000);
    window->findChild<QAction *>("actionDisconnect")->trigger();
    verifyDisconnected(window);
    const ConnectRun again = connectThroughDialog(window);
    QCOMPARE(again.boxes, QStringList());
    QVERIFY(fusionBox(window)->isChecked());
    QTest::mouseClick(fusionBox(window), Qt::LeftButton);
    QVERIFY(!sim.fusion());
    verifyPreview(window, 1);
    verifyPreview(window, 2);
}

// A camera that streams over RTSP, reached through a device profile: both
// channels show, and a step with fusion on moves the overlay in channel 1.
void TestTool::previewsAndStepsOverRtsp()
{
    writeSimState(statePath("rtsp.json"), calibrationOf(5, 90, 110, 70, 60), false);
    TestSupport::Camsim sim(simulator(statePath("rtsp.json"),
                                      {QStringLiteral("--rtsp-codec"), QStringLiteral("h264")}));
    QVERIFY(sim.port());
    QVERIFY(sim.rtspPort());
    const QString profile = m_dir.filePath(QStringLiteral("rtsp.ini"));
    QFile file(profile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nstreamUrl=rtsp://{host}:" + QByteArray::number(sim.rtspPort()) +
               "/channels/{channel}\n");
    file.close();
    qputenv("CAMNETSDK_PROFILE", QFile::encodeName(profile));
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);

    const ConnectRun run = connectThroughDialog(window);
    QVERIFY2(run.boxes.isEmpty(), qPrintable(report(run, sim)));
    verifyConnected(window, sim);
    QVERIFY(sim.log().contains("/camnet/device"));
    // The video came over RTSP: the HTTP stream was never asked for.
    QCOMPARE(sim.counter("streams"), 0);
    QVERIFY(sim.counter("rtspStreams") >= 2);
    verifyPreview(window, 1);
    verifyPreview(window, 2);

    QTest::mouseClick(fusionBox(window), Qt::LeftButton);
    QVERIFY(sim.fusion());
    QFrame *frame = previewFrame(window, 1);
    // Fused, the thermal palette covers the meadow; only then is all yellow the overlay's.
    QTRY_VERIFY_WITH_TIMEOUT(colourStats(grabOnScreen(frame)).green < 0.05, 10000);
    const QPointF before = warmSpotCentre(grabOnScreen(frame));
    QVERIFY(!before.isNull());
    // Ten steps of the horizontal bias move the overlay ten pixels of the
    // camera's 640 to the right; the vertical stays.
    const double pixels = 10.0 * frame->width() / 640.0;
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(window, Qt::Key_Right);
    QCOMPARE(sim.calibration().value("horShift").toInt(), 100);
    QPointF after;
    QTRY_VERIFY_WITH_TIMEOUT(
        (after = warmSpotCentre(grabOnScreen(frame))).x() - before.x() > pixels * 0.6, 10000);
    QVERIFY2(after.x() - before.x() < pixels * 1.4 && std::abs(after.y() - before.y()) < 3,
             qPrintable(QStringLiteral("moved from %1,%2 to %3,%4")
                            .arg(before.x())
                            .arg(before.y())
                            .arg(after.x())
                            .arg(after.y())));
}

// The menu, the dialog and the real aligner on the tool's own previews:
// from a start well off on the scene's main plane, Start leaves the overlay
// within a pixel, the panel showing what the camera holds.
void TestTool::autoAlignFromTheMenu()
{
    writeSimState(statePath("align.json"), calibrationOf(6, 75, 120, 68, 60), false);
    TestSupport::Camsim sim(simulator(statePath("align.json")));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);
    QAction *align = window->findChild<QAction *>("actionAutoAlign");
    QVERIFY(align && !align->isEnabled());
    const ConnectRun run = connectThroughDialog(window);
    QVERIFY2(run.boxes.isEmpty(), qPrintable(report(run, sim)));
    verifyPreview(window, 1);
    verifyPreview(window, 2);
    const double before = sim.state()["alignmentError"].toDouble();
    QVERIFY(align->isEnabled());
    align->trigger();
    QPushButton *start = nullptr;
    QTRY_VERIFY((start = window->findChild<QPushButton *>("startButton")) && start->isVisible());
    QTest::mouseClick(start, Qt::LeftButton);
    QLabel *message = window->findChild<QLabel *>("messageLabel");
    QVERIFY(message);
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled() && !message->text().isEmpty(), 60000);
    const QJsonObject state = sim.state();
    qInfo("auto align from the menu: %.2f px to %.2f px: %s", before,
          state["alignmentError"].toDouble(), qPrintable(message->text()));
    QVERIFY2(state["alignmentError"].toDouble() <= 1.0, qPrintable(message->text()));
    QCOMPARE(window->findChild<QSpinBox *>("horShiftSpinBox")->value(),
             state["calibration"].toObject()["horShift"].toInt());
    QVERIFY(!sim.fusion());
}

void TestTool::closingWhileConnectedDisconnectsFirst()
{
    writeSimState(statePath("close.json"), calibrationOf(3, 100, 100, 64, 64), true);
    TestSupport::Camsim sim(simulator(statePath("close.json")));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);
    connectThroughDialog(window);
    // A camera with fusion on: the box shows it and the panel sits beside the window.
    verifyConnected(window, sim);
    QVERIFY(fusionBox(window)->isChecked());
    QCOMPARE(window->findChild<SettingWidget *>()->pos(),
             window->geometry().topRight() + QPoint(15, 0));

    window->close();
    verifyDisconnected(window);
    QVERIFY(sim.fusion());
}

void TestTool::killedCameraFailsFastAndComesBack()
{
    const QString state = statePath("killed.json");
    writeSimState(state, calibrationOf(4, 100, 100, 64, 64), false);
    TestSupport::Camsim sim(simulator(state));
    const quint16 port = sim.port();
    QVERIFY(port);
    writeConfig(port, simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);
    connectThroughDialog(window);
    verifyConnected(window, sim);
    QTest::keyClick(window, Qt::Key_Right);
    const QJsonObject lastGood = sim.calibration();
    QCOMPARE(lastGood.value("horShift").toInt(), 101);

    sim.kill();
    int ticks = 0;
    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        longestGapMs = std::max(longestGapMs, sinceTick.restart());
    });
    ticker.start(20);

    // Each write fails within the connect time the tool sets (one second),
    // with slack for a loaded machine, and the boxes keep the new values.
    QElapsedTimer timer;
    for (const Shortcut &s : shortcuts) {
        const int before = box(window, s.row)->value();
        timer.start();
        QTest::keyClick(window, s.key, s.modifiers);
        QVERIFY2(timer.elapsed() < 3000,
                 qPrintable(QStringLiteral("%1 took %2 ms").arg(s.name).arg(timer.elapsed())));
        QVERIFY2(box(window, s.row)->value() == before + s.step, s.name);
        QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_CONNECTION_FAILED));
    }
    timer.start();
    QTest::mouseClick(fusionBox(window), Qt::LeftButton);
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(fusionBox(window)->isChecked());

    // The event loop goes on while the SDK keeps retrying the streams: timers
    // fire, and none waits anywhere near as long as a camera call may block.
    const int ticksBefore = ticks;
    sinceTick.restart();
    longestGapMs = 0;
    QTRY_VERIFY_WITH_TIMEOUT(ticks - ticksBefore >= 25, 10000);
    QVERIFY2(longestGapMs < 1000, qPrintable(QString::number(longestGapMs)));

    timer.start();
    window->findChild<QAction *>("actionDisconnect")->trigger();
    QVERIFY(timer.elapsed() < 3000);
    verifyDisconnected(window);

    // A simulator back on the same port with the same state: a new Connect
    // works and reloads what the camera last accepted.
    QVERIFY(sim.restart());
    QCOMPARE(sim.port(), port);
    QCOMPARE(sim.calibration(), lastGood);
    const ConnectRun run = connectThroughDialog(window);
    QVERIFY2(run.boxes.isEmpty(), qPrintable(report(run, sim)));
    verifyConnected(window, sim);
    QTest::keyClick(window, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(sim.calibration().value("distanceLevel").toInt(),
             lastGood.value("distanceLevel").toInt() + 1);
    QCOMPARE(sim.calibration().value("horShift").toInt(), 101);
}

void TestTool::frozenCameraTimesOutAndComesBack()
{
    const QString state = statePath("frozen.json");
    writeSimState(state, calibrationOf(4, 100, 100, 64, 64), false);
    TestSupport::Camsim sim(simulator(state));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);
    connectThroughDialog(window);
    verifyConnected(window, sim);

    // A camera that accepts connections and never answers: a write gives up
    // after the SDK's bound of a few seconds, and Disconnect does not wait
    // for the stalled streams.
    QVERIFY(sim.freeze(true));
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(window, Qt::Key_Up);
    const qint64 writeMs = timer.elapsed();
    QVERIFY2(writeMs < 8000, qPrintable(QString::number(writeMs)));
    QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_TIMED_OUT));
    timer.start();
    window->findChild<QAction *>("actionDisconnect")->trigger();
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    verifyDisconnected(window);

    // The request had reached the camera before the tool gave up on it, so
    // the camera carries it out once it runs again; a new Connect then loads
    // what the camera holds, not what the tool last showed.
    const QByteArray written = "PUT /ISAPI/Thermal/channels/2/fusionCalibration -> 200";
    QVERIFY(!sim.log().contains(written));
    QVERIFY(sim.freeze(false));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(written), 10000);
    QCOMPARE(sim.calibration(), calibrationOf(4, 100, 101, 64, 64));
    connectThroughDialog(window);
    verifyConnected(window, sim);
}

void TestTool::unusableRepliesLeaveTheToolWorking_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::newRow("malformed") << QByteArray("malformed-xml=1");
    QTest::newRow("oversize") << QByteArray("oversize-reply=1");
}

void TestTool::unusableRepliesLeaveTheToolWorking()
{
    QFETCH(QByteArray, fault);
    const QString state = statePath("unusable.json");
    writeSimState(state, calibrationOf(6, 120, 80, 70, 58), false);
    TestSupport::Camsim sim(simulator(state));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);

    QVERIFY(sim.faults(fault));
    const ConnectRun run = connectThroughDialog(window);
    QVERIFY2(run.boxes.isEmpty(), qPrintable(report(run, sim)));
    QCOMPARE(statusLabel(window)->text(), QString("127.0.0.1 Connected"));
    QVERIFY(fusionBox(window)->isEnabled());
    QVERIFY(window->findChild<SettingWidget *>()->isVisible());
    QVERIFY(sim.counter("capabilities") >= 1);
    QVERIFY(sim.counter("calibrationGet") >= 1);
    // Whatever the replies held, nothing was written back and every box
    // holds a value of its own range.
    QCOMPARE(sim.counter("calibrationPut"), 0);
    for (int row = 0; row < 5; ++row) {
        QSpinBox *b = box(window, row);
        QVERIFY2(b->value() >= b->minimum() && b->value() <= b->maximum(), boxNames[row]);
    }
    if (fault.startsWith("oversize")) {
        // A reply too large for the tool's buffer fails the read: the built-in
        // ranges stand and the values read as 0, bounded into them.
        QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_BUFFER_TOO_SMALL));
        QCOMPARE(box(window, 0)->maximum(), 10);
        QCOMPARE(box(window, 0)->value(), 1);
        QCOMPARE(box(window, 1)->value(), 1);
        QCOMPARE(box(window, 3)->value(), 1);
    }
    QCOMPARE(sim.calibration(), calibrationOf(6, 120, 80, 70, 58));

    // Once the camera answers properly again, a reconnect loads its values.
    QVERIFY(sim.faults("malformed-xml=0 oversize-reply=0"));
    window->findChild<QAction *>("actionDisconnect")->trigger();
    verifyDisconnected(window);
    connectThroughDialog(window);
    verifyConnected(window, sim);
    QTest::keyClick(window, Qt::Key_Down);
    QCOMPARE(sim.calibration(), calibrationOf(6, 120, 79, 70, 58));
}

void TestTool::refusedChannelTwo()
{
    writeSimState(statePath("refused.json"), calibrationOf(2, 100, 100, 64, 64), false);
    TestSupport::Camsim sim(simulator(statePath("refused.json"), {"--refuse-stream", "2"}));
    QVERIFY(sim.port());
    writeConfig(sim.port(), simPassword);
    OverlayTuner *window = openWindow();
    QVERIFY(window);

    const ConnectRun run = connectThroughDialog(window);
    QCOMPARE(
        run.boxes,
        QStringList{
            QString("[Channel 2] RealPlay failed [%1].").arg(int(CAMNET_ERR_CHANNEL_UNAVAILABLE))});
    QCOMPARE(run.boxTitles, QStringList{"Warn"});
    // The box waits for the user without the wait cursor, and the flow
    // leaves none behind.
    QCOMPARE(run.cursors, (QList<int>{-1, -1}));
    QVERIFY(!QGuiApplication::overrideCursor());
    // Otherwise a normal connected state, channel 1 live.
    verifyConnected(window, sim);
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(configPath()).contains("CHANNEL=1"), 5000);
    verifyPreview(window, 1);
    QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(sim.calibration().value("horScale").toInt(), 65);
}

void TestTool::wrongPassword()
{
    writeSimState(statePath("password.json"), calibrationOf(2, 100, 100, 64, 64), false);
    TestSupport::Camsim sim(simulator(statePath("password.json")));
    QVERIFY(sim.port());
    writeConfig(sim.port(), "not-the-password");
    const QByteArray before = fileBytes(configPath());
    OverlayTuner *window = openWindow();
    QVERIFY(window);

    const ConnectRun run = connectThroughDialog(window);
    QCOMPARE(
        run.boxes,
        QStringList{
            QString("Connect is failed. Error:%1").arg(int(CAMNET_ERR_AUTHENTICATION_FAILED))});
    QCOMPARE(run.boxTitles, QStringList{"Warn"});
    QCOMPARE(run.cursors, (QList<int>{-1, -1}));
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(sim.counter("unauthorized") >= 1);
    verifyDisconnected(window);
    QTest::qWait(200);
    QCOMPARE(fileBytes(configPath()), before);
    QCOMPARE(sim.counter("calibrationGet"), 0);
}

QTEST_MAIN(TestTool)
#include "tst_tool.moc"
