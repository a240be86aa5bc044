// Camera restarts under running previews of the real SDK leave nothing of
// GStreamer behind: with both channels drawing into windows, over MJPEG and
// over H.264 by RTSP, the GStreamer objects alive once the previews drew again
// after the last of several restarts are the same, type by type, as after the
// first. Counted through GStreamer's tracing hooks by a tracer of the test's
// own, which takes no reference to what it counts.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "sdkcalls.h"

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <gst/gst.h>

#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

namespace {

// Generous: a loaded two-core machine encodes, decodes and runs the simulator.
constexpr int slow = 30000;
constexpr int laterRestarts = 3;
// Drawn after a restart before the previews count as back: by then every
// element of the new pipelines exists.
constexpr uint32_t framesBack = 10;

uint32_t drawn(int32_t handle)
{
    CamNet_PreviewStats stats{};
    CamNet_GetPreviewStats(handle, &stats);
    return stats.framesDrawn;
}

int32_t realPlay(int32_t loginId, int channel, WId window)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.window = uintptr_t(window);
    return CamNet_RealPlay(loginId, &request, nullptr, nullptr);
}

// A tracer only carries hooks; its own class is abstract.
struct CountingTracer
{
    GstTracer parent;
};
struct CountingTracerClass
{
    GstTracerClass parent;
};
G_DEFINE_TYPE(CountingTracer, counting_tracer, GST_TYPE_TRACER)
void counting_tracer_class_init(CountingTracerClass *) {}
void counting_tracer_init(CountingTracer *) {}

// Every GstObject made since the tracer started and not yet finalised, with
// its type; the hooks run on whichever thread makes or finalises one.
struct LiveObjects
{
    std::mutex mutex;
    std::unordered_map<const void *, QByteArray> types;
};
LiveObjects live;

void onObjectCreated(GstTracer *, GstClockTime, GstObject *object)
{
    std::lock_guard<std::mutex> lock(live.mutex);
    live.types[object] = G_OBJECT_TYPE_NAME(object);
}

void onObjectDestroyed(GstTracer *, GstClockTime, GstObject *object)
{
    std::lock_guard<std::mutex> lock(live.mutex);
    live.types.erase(object);
}

// "Type count" a line, sorted by type.
QByteArray liveObjects()
{
    std::map<QByteArray, int> counts;
    {
        std::lock_guard<std::mutex> lock(live.mutex);
        for (const auto &entry : live.types)
            ++counts[entry.second];
    }
    QByteArray text;
    for (const auto &[type, count] : counts)
        text += type + ' ' + QByteArray::number(count) + '\n';
    return text;
}

// Kills the simulator, starts it on the same ports and waits until both
// previews draw again.
bool restartAndWait(TestSupport::Camsim &sim, int32_t one, int32_t two)
{
    sim.kill();
    if (!sim.restart())
        return false;
    const uint32_t from[2] = {drawn(one), drawn(two)};
    return QTest::qWaitFor(
        [&] { return drawn(one) - from[0] >= framesBack && drawn(two) - from[1] >= framesBack; },
        slow);
}

} // namespace

class TestSdkReconnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(CamNet_Init());
        // Kept for the whole run: the hooks hold a reference to it.
        GstTracer *tracer = GST_TRACER(g_object_new(counting_tracer_get_type(), nullptr));
        gst_tracing_register_hook(tracer, "object-created", G_CALLBACK(&onObjectCreated));
        gst_tracing_register_hook(tracer, "object-destroyed", G_CALLBACK(&onObjectDestroyed));
        gst_object_unref(tracer);
        CamNet_SetConnectTime(1000, 1);
        // Short, so that each restart is noticed and followed quickly.
        CamNet_SetReconnect(300, 1);
    }

    void restartsLeaveNoObjectsBehind_data()
    {
        QTest::addColumn<QString>("rtspCodec");
        QTest::newRow("mjpeg") << QString();
        QTest::newRow("rtsp h264") << QStringLiteral("h264");
    }

    void restartsLeaveNoObjectsBehind()
    {
        QFETCH(QString, rtspCodec);
        TestSupport::Camsim::Options options;
        if (!rtspCodec.isEmpty())
            options.extra << "--rtsp-codec" << rtspCodec;
        TestSupport::Camsim sim(options);
        QVERIFY(sim.port());
        QTemporaryDir profileDir;
        qunsetenv("CAMNETSDK_PROFILE");
        if (!rtspCodec.isEmpty()) {
            QVERIFY(sim.rtspPort());
            QFile profile(profileDir.filePath(QStringLiteral("camnetsdk.ini")));
            QVERIFY(profile.open(QIODevice::WriteOnly));
            profile.write(
                "[General]\nstreamUrl=rtsp://{host}:" + QByteArray::number(sim.rtspPort()) +
                "/channels/{channel}\nrtspTransport=tcp\n");
            profile.close();
            qputenv("CAMNETSDK_PROFILE", QFile::encodeName(profile.fileName()));
        }
        auto unsetProfile = qScopeGuard([] { qunsetenv("CAMNETSDK_PROFILE"); });
        const int32_t id = TestSupport::login(sim.port());
        QVERIFY2(id >= 0, qPrintable(QString::number(CamNet_GetLastError())));

        QWidget windows[2];
        for (QWidget &window : windows) {
            window.setAttribute(Qt::WA_NativeWindow);
            window.resize(320, 240);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
        }
        const int32_t one = realPlay(id, 1, windows[0].winId());
        const int32_t two = realPlay(id, 2, windows[1].winId());
        QVERIFY2(one >= 0 && two >= 0, qPrintable(QString::number(CamNet_GetLastError())));
        QTRY_VERIFY_WITH_TIMEOUT(drawn(one) >= framesBack && drawn(two) >= framesBack, slow);

        QVERIFY(restartAndWait(sim, one, two));
        const QByteArray first = liveObjects();
        // Both pipelines are counted, each drawing into its window.
        QVERIFY2(first.contains("GstPipeline 2\n") && first.contains("GstXImageSink 2\n"),
                 first.constData());
        for (int i = 0; i < laterRestarts; ++i)
            QVERIFY2(restartAndWait(sim, one, two), qPrintable(QString::number(i + 2)));
        QCOMPARE(liveObjects(), first);
        QCOMPARE(CamNet_Logout(id), 1);
    }
};

QTEST_MAIN(TestSdkReconnect)
#include "tst_sdkreconnect.moc"
