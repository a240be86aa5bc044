// Live previews of the real SDK against the camera simulator on loopback:
// frames counted without a window, video painted into a real X window that it
// follows in size, reconnects after the camera comes back, refused and
// stalled streams, and logouts that end their previews.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "sdkcalls.h"

#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

// Generous: a loaded two-core machine decodes two streams and runs the simulator.
constexpr int slow = 30000;

// One simulator process; it can be killed and started again on its port.
class Simulator
{
public:
    explicit Simulator(bool startNow = true)
    {
        if (startNow)
            start(0);
    }
    ~Simulator() { stop(); }

    bool start(quint16 port)
    {
        m_process.start(QStringLiteral(OVERLAYTUNER_CAMSIM),
                        {"--port", QString::number(port), "--user", TestSupport::camsimUser,
                         "--password", TestSupport::camsimPassword});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        const QRegularExpressionMatch m =
            QRegularExpression("127\\.0\\.0\\.1 port (\\d+)").match(m_process.readLine());
        m_port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        if (!m_port) {
            qWarning("camsim did not start: %s", m_process.readAllStandardError().constData());
            stop();
        }
        return m_port != 0;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
    quint16 port() const { return m_port; }
    bool faults(const QByteArray &text) const
    {
        // The simulator answers good fault text with its state document.
        return TestSupport::plainHttp(m_port, "PUT", "/camsim/faults", text).startsWith("{");
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// What the data callback saw, per preview handle.
struct CallbackLog
{
    struct Entry
    {
        int calls = 0;
        int jpegs = 0;
        bool offMainThread = true;
        bool rightContext = true;
    };
    std::mutex mutex;
    std::map<int32_t, Entry> entries;
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int32_t> stopFromCallback{-1};
    std::atomic<int32_t> stopFromCallbackResult{-1};
    std::atomic<int32_t> blockInCallback{-1};
    std::atomic<int> blocking{0}; // 1 while blocked, 2 once it returned

    Entry entry(int32_t handle)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return entries[handle];
    }
};

CallbackLog callbackLog;

void onFrame(int32_t handle, uint32_t dataType, uint8_t *data, uint32_t size, void *context)
{
    {
        std::lock_guard<std::mutex> lock(callbackLog.mutex);
        CallbackLog::Entry &entry = callbackLog.entries[handle];
        ++entry.calls;
        if (dataType == CAMNET_DATA_FRAME && size > 4 && data[0] == 0xFF && data[1] == 0xD8 &&
            data[size - 2] == 0xFF && data[size - 1] == 0xD9)
            ++entry.jpegs;
        if (std::this_thread::get_id() == callbackLog.mainThread)
            entry.offMainThread = false;
        if (context != &callbackLog)
            entry.rightContext = false;
    }
    if (callbackLog.stopFromCallback.exchange(-1) == handle)
        callbackLog.stopFromCallbackResult = CamNet_StopRealPlay(handle);
    if (callbackLog.blockInCallback.exchange(-1) == handle) {
        callbackLog.blocking = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        callbackLog.blocking = 2;
    }
}

int32_t realPlay(int32_t loginId, int channel, WId window = 0)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.window = uintptr_t(window);
    const int32_t handle = CamNet_RealPlay(loginId, &request, onFrame, &callbackLog);
    if (handle < 0)
        qWarning("RealPlay of channel %d failed with %d", channel, int(CamNet_GetLastError()));
    return handle;
}

CamNet_PreviewStats stats(int32_t handle)
{
    CamNet_PreviewStats s;
    std::memset(&s, 0, sizeof s);
    CamNet_GetPreviewStats(handle, &s);
    return s;
}

bool running(int32_t handle)
{
    CamNet_PreviewStats s;
    return CamNet_GetPreviewStats(handle, &s) != 0;
}

qint64 timedStop(int32_t handle, int32_t *result = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    const int32_t r = CamNet_StopRealPlay(handle);
    const qint64 ms = timer.elapsed();
    if (result)
        *result = r;
    return ms;
}

// Channel 1 shows sky above and grass below; neither is the test's magenta.
bool looksLikeVisibleScene(const QImage &image)
{
    if (image.width() < 16 || image.height() < 16)
        return false;
    const auto at = [&](double x, double y) {
        return QColor(image.pixel(int(x * (image.width() - 1)), int(y * (image.height() - 1))));
    };
    for (double x : {0.1, 0.5, 0.9}) {
        const QColor sky = at(x, 0.25);
        const QColor grass = at(x, 0.92);
        if (!(sky.blue() > sky.red() + 20 && sky.blue() > 150))
            return false;
        if (!(grass.green() > grass.red() + 20 && grass.green() > grass.blue() + 30))
            return false;
    }
    return true;
}

// Counts the keys it receives, to show that the video does not swallow them.
class KeyCounter : public QWidget
{
public:
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        ++keys;
        QWidget::keyPressEvent(event);
    }
};

QImage grab(const QWidget &widget)
{
    return QGuiApplication::primaryScreen()->grabWindow(widget.winId()).toImage();
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void headlessPreviewsCountFramesOnBothChannels();
    void windowlessFallbacksStillCountFrames();
    void previewPaintsWindowAndFollowsItsSize();
    void previewComesBackAfterCameraRestart();
    void streamsThatCannotStartFailAtOnce();
    void stopReturnsPromptlyOnStalledStream();
    void stopFromOwnCallbackAndOtherThreads();
    void logoutStopsItsPreviews();
};

void TestPreview::initTestCase()
{
    QVERIFY(CamNet_Init());
    CamNet_SetConnectTime(1000, 1);
    // Short, so that the restart test does not wait long for its reconnect.
    CamNet_SetReconnect(300, 1);
}

void TestPreview::headlessPreviewsCountFramesOnBothChannels()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY2(id >= 0, qPrintable(QString::number(CamNet_GetLastError())));

    const int32_t one = realPlay(id, 1);
    QVERIFY2(one >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    const int32_t two = realPlay(id, 2);
    QVERIFY2(two >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QVERIFY(one != two);

    QTRY_VERIFY_WITH_TIMEOUT(stats(one).framesReceived >= 25 && stats(two).framesReceived >= 25,
                             slow);
    QVERIFY(stats(one).framesDrawn > 0);
    QVERIFY(stats(two).framesDrawn > 0);
    QVERIFY(stats(one).framesDrawn <= stats(one).framesReceived);
    QCOMPARE(stats(one).reconnects, 0u);

    QElapsedTimer timer;
    timer.start();
    const uint32_t before = stats(one).framesReceived;
    QTRY_VERIFY_WITH_TIMEOUT(timer.elapsed() >= 2000, slow);
    qInfo("channel 1 headless: %.1f frames/s received",
          (stats(one).framesReceived - before) * 1000.0 / timer.elapsed());

    int32_t result = 0;
    const qint64 stopOne = timedStop(one, &result);
    QCOMPARE(result, 1);
    const qint64 stopTwo = timedStop(two, &result);
    QCOMPARE(result, 1);
    qInfo("StopRealPlay of headless previews: %lld ms, %lld ms", stopOne, stopTwo);
    QVERIFY(stopOne < 500 && stopTwo < 500);

    // Every frame reached the callback, on the SDK's thread, as a whole JPEG.
    for (const int32_t handle : {one, two}) {
        const CallbackLog::Entry entry = callbackLog.entry(handle);
        QVERIFY2(entry.calls >= 25, qPrintable(QString::number(entry.calls)));
        QCOMPARE(entry.jpegs, entry.calls);
        QVERIFY(entry.offMainThread);
        QVERIFY(entry.rightContext);
    }

    CamNet_PreviewStats s;
    QCOMPARE(CamNet_GetPreviewStats(one, &s), 0);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));
    QCOMPARE(CamNet_StopRealPlay(one), 0);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));
    QCOMPARE(CamNet_Logout(id), 1);
}

void TestPreview::windowlessFallbacksStillCountFrames()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);

    // An id that names no window must not reach Xlib's exiting error handler.
    const int32_t bogus = realPlay(id, 1, WId(0x3ffffff0));
    QVERIFY2(bogus >= 0, qPrintable(QString::number(CamNet_GetLastError())));

    QWidget widget;
    widget.resize(160, 120);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    const int32_t noDisplay = realPlay(id, 2, widget.winId());
    qputenv("DISPLAY", display);
    QVERIFY2(noDisplay >= 0, qPrintable(QString::number(CamNet_GetLastError())));

    // A window destroyed under a running preview ends neither it nor the process.
    auto *doomed = new QWidget;
    doomed->setAttribute(Qt::WA_NativeWindow);
    doomed->resize(160, 120);
    doomed->show();
    QVERIFY(QTest::qWaitForWindowExposed(doomed));
    const int32_t orphaned = realPlay(id, 1, doomed->winId());
    QVERIFY(orphaned >= 0);

    QTRY_VERIFY_WITH_TIMEOUT(stats(bogus).framesDrawn >= 10 && stats(noDisplay).framesDrawn >= 10 &&
                                 stats(orphaned).framesDrawn >= 3,
                             slow);
    delete doomed;
    const uint32_t beforeDelete = stats(orphaned).framesReceived;
    QTRY_VERIFY_WITH_TIMEOUT(stats(orphaned).framesReceived >= beforeDelete + 10, slow);
    QVERIFY(timedStop(bogus) < 500);
    QVERIFY(timedStop(noDisplay) < 500);
    QVERIFY(timedStop(orphaned) < 500);
    QCOMPARE(CamNet_Logout(id), 1);
}

void TestPreview::previewPaintsWindowAndFollowsItsSize()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);

    KeyCounter widget;
    widget.setAttribute(Qt::WA_NativeWindow);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::magenta);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.setWindowFlag(Qt::FramelessWindowHint);
    widget.setGeometry(0, 0, 320, 240);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_COMPARE_WITH_TIMEOUT(QColor(grab(widget).pixel(160, 120)), QColor(Qt::magenta), slow);

    const int32_t handle = realPlay(id, 1, widget.winId());
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QTRY_VERIFY_WITH_TIMEOUT(looksLikeVisibleScene(grab(widget)), slow);
    QVERIFY(stats(handle).framesDrawn > 0);

    // The picture moves: the cloud drifts and the frame counter changes.
    const QImage first = grab(widget);
    QTRY_VERIFY_WITH_TIMEOUT(grab(widget) != first, slow);

    QElapsedTimer timer;
    timer.start();
    const uint32_t before = stats(handle).framesDrawn;
    QTRY_VERIFY_WITH_TIMEOUT(timer.elapsed() >= 2000, slow);
    qInfo("channel 1 into a 320x240 window: %.1f frames/s drawn",
          (stats(handle).framesDrawn - before) * 1000.0 / timer.elapsed());

    // Larger: the new area shows video too, scaled to fill, not magenta or black borders.
    widget.resize(560, 420);
    QTRY_VERIFY_WITH_TIMEOUT(
        grab(widget).size() == QSize(560, 420) && looksLikeVisibleScene(grab(widget)), slow);
    widget.resize(200, 150);
    QTRY_VERIFY_WITH_TIMEOUT(
        grab(widget).size() == QSize(200, 150) && looksLikeVisibleScene(grab(widget)), slow);

    // A key typed with the pointer over the video reaches the window below it.
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("xdotool is needed to type into the window");
    widget.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(widget.isActiveWindow(), slow);
    QCOMPARE(QProcess::execute("xdotool", {"mousemove", "--sync", "100", "75"}), 0);
    QCOMPARE(QProcess::execute("xdotool", {"key", "Right"}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(widget.keys, 1, slow);

    const qint64 stopMs = timedStop(handle);
    qInfo("StopRealPlay of a drawing preview: %lld ms", stopMs);
    QVERIFY(stopMs < 500);
    // With the child window gone the widget's own background shows again.
    widget.update();
    QTRY_COMPARE_WITH_TIMEOUT(QColor(grab(widget).pixel(100, 75)), QColor(Qt::magenta), slow);
    QCOMPARE(CamNet_Logout(id), 1);
}

void TestPreview::previewComesBackAfterCameraRestart()
{
    Simulator sim;
    const quint16 port = sim.port();
    QVERIFY(port);
    const int32_t id = TestSupport::login(port);
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 2);
    QVERIFY(handle >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= 10, slow);

    sim.kill();
    // The stream ends; the SDK keeps trying while nothing listens.
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).reconnects >= 2, slow);
    const uint32_t whileDown = stats(handle).framesReceived;

    Simulator again(false);
    // The port was the old simulator's; take it again as soon as it is free.
    QElapsedTimer waiting;
    waiting.start();
    while (!again.start(port) && waiting.elapsed() < slow)
        QTest::qWait(200);
    QCOMPARE(again.port(), port);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= whileDown + 10, slow);
    QVERIFY(running(handle));
    qInfo("reconnects counted across the restart: %u", stats(handle).reconnects);
    QVERIFY(timedStop(handle) < 500);
    CamNet_Logout(id);
}

void TestPreview::streamsThatCannotStartFailAtOnce()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);

    QVERIFY(sim.faults("refuse-stream=2"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(realPlay(id, 2), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(realPlay(id, 3), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CHANNEL_UNAVAILABLE));
    // The other channel is unaffected.
    const int32_t one = realPlay(id, 1);
    QVERIFY(one >= 0);
    QVERIFY(timedStop(one) < 500);

    sim.kill();
    timer.restart();
    QCOMPARE(realPlay(id, 1), -1);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_CONNECTION_FAILED));
    QVERIFY(timer.elapsed() < 6000);
    CamNet_Logout(id);
}

void TestPreview::stopReturnsPromptlyOnStalledStream()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);

    QWidget widget;
    widget.setAttribute(Qt::WA_NativeWindow);
    widget.setWindowFlag(Qt::FramelessWindowHint);
    widget.setGeometry(0, 0, 320, 240);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const int32_t drawn = realPlay(id, 1, widget.winId());
    const int32_t headless = realPlay(id, 2);
    QVERIFY(drawn >= 0 && headless >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(drawn).framesDrawn >= 5 && stats(headless).framesReceived >= 5,
                             slow);

    QVERIFY(sim.faults("stall-stream=1"));
    // Stalled once no frame has arrived for half a second.
    const auto received = [&] {
        return stats(drawn).framesReceived + stats(headless).framesReceived;
    };
    uint32_t last = received();
    QElapsedTimer quiet;
    quiet.start();
    QElapsedTimer waiting;
    waiting.start();
    while (quiet.elapsed() < 500 && waiting.elapsed() < slow) {
        QTest::qWait(50);
        if (received() != last) {
            last = received();
            quiet.restart();
        }
    }
    QVERIFY(quiet.elapsed() >= 500);

    // With no new frame coming, the part of the video that another window
    // covered is drawn again once it is uncovered. Checked well before the
    // source gives up on the stalled stream and starts it again.
    QWidget cover;
    cover.setWindowFlag(Qt::FramelessWindowHint);
    cover.setGeometry(0, 0, 320, 240);
    cover.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cover));
    cover.hide();
    QTRY_VERIFY_WITH_TIMEOUT(looksLikeVisibleScene(grab(widget)), 3000);
    QCOMPARE(stats(drawn).reconnects, 0u);

    const qint64 drawnMs = timedStop(drawn);
    const qint64 headlessMs = timedStop(headless);
    qInfo("StopRealPlay on a stalled stream: %lld ms (window), %lld ms (headless)", drawnMs,
          headlessMs);
    QVERIFY(drawnMs < 500);
    QVERIFY(headlessMs < 500);
    QVERIFY(sim.faults("stall-stream=0"));
    CamNet_Logout(id);
}

void TestPreview::stopFromOwnCallbackAndOtherThreads()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    QVERIFY(id >= 0);

    const int32_t handle = realPlay(id, 1);
    QVERIFY(handle >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(handle).framesReceived >= 3, slow);
    callbackLog.stopFromCallbackResult = -1;
    callbackLog.stopFromCallback = handle;
    QTRY_COMPARE_WITH_TIMEOUT(callbackLog.stopFromCallbackResult.load(), 1, slow);
    QVERIFY(!running(handle));

    // A callback that blocks the SDK's thread holds up neither the stop nor
    // the end of the window drawn into.
    QWidget widget;
    widget.setAttribute(Qt::WA_NativeWindow);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::magenta);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.setWindowFlag(Qt::FramelessWindowHint);
    widget.setGeometry(0, 0, 160, 120);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const int32_t blocked = realPlay(id, 1, widget.winId());
    QVERIFY(blocked >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(looksLikeVisibleScene(grab(widget)), slow);
    callbackLog.blocking = 0;
    callbackLog.blockInCallback = blocked;
    QTRY_COMPARE_WITH_TIMEOUT(callbackLog.blocking.load(), 1, slow);
    const qint64 blockedStopMs = timedStop(blocked);
    qInfo("StopRealPlay while the callback blocks: %lld ms", blockedStopMs);
    QVERIFY(blockedStopMs < 500);
    widget.update();
    QTRY_COMPARE_WITH_TIMEOUT(QColor(grab(widget).pixel(80, 60)), QColor(Qt::magenta), slow);
    QTRY_COMPARE_WITH_TIMEOUT(callbackLog.blocking.load(), 2, slow);

    // Started and stopped on threads other than the one that logged in; two
    // of them ask for the same stream at the same instant.
    std::atomic<int> stopped{0};
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> threads;
        for (int channel : {1, 1, 2}) {
            threads.emplace_back([&, channel] {
                const int32_t h = realPlay(id, channel);
                if (h < 0)
                    return;
                QElapsedTimer wait;
                wait.start();
                while (stats(h).framesReceived < 3 && wait.elapsed() < slow)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (stats(h).framesReceived >= 3 && CamNet_StopRealPlay(h) == 1)
                    ++stopped;
            });
        }
        for (std::thread &t : threads)
            t.join();
    }
    QCOMPARE(stopped.load(), 9);
    CamNet_Logout(id);
}

void TestPreview::logoutStopsItsPreviews()
{
    Simulator sim;
    QVERIFY(sim.port());
    const int32_t id = TestSupport::login(sim.port());
    const int32_t other = TestSupport::login(sim.port());
    QVERIFY(id >= 0 && other >= 0);

    const int32_t one = realPlay(id, 1);
    const int32_t two = realPlay(id, 2);
    const int32_t kept = realPlay(other, 1);
    QVERIFY(one >= 0 && two >= 0 && kept >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(one).framesReceived >= 3 && stats(two).framesReceived >= 3 &&
                                 stats(kept).framesReceived >= 3,
                             slow);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(CamNet_Logout(id), 1);
    const qint64 ms = timer.elapsed();
    qInfo("Logout with two previews: %lld ms", ms);
    QVERIFY(ms < 1000);

    CamNet_PreviewStats s;
    for (const int32_t handle : {one, two}) {
        QCOMPARE(CamNet_GetPreviewStats(handle, &s), 0);
        QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));
    }
    // No callback runs once Logout has returned.
    const int calls = callbackLog.entry(one).calls + callbackLog.entry(two).calls;
    const uint32_t keptBefore = stats(kept).framesReceived;
    QTRY_VERIFY_WITH_TIMEOUT(stats(kept).framesReceived >= keptBefore + 10, slow);
    QCOMPARE(callbackLog.entry(one).calls + callbackLog.entry(two).calls, calls);

    QCOMPARE(CamNet_Logout(other), 1);
    QVERIFY(!running(kept));
    QCOMPARE(CamNet_Logout(other), 0);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_UNKNOWN_LOGIN));
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
