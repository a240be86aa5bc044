// Pictures captured from the real SDK's previews of the camera simulator on
// loopback: each stream comes as decoded, at its own size and not the window's,
// with what the simulator drew; the frame number grows; every refusal has its
// code; and frames keep being drawn while pictures are captured over and over,
// also while the preview is stopped from another thread or reconnects.
#include "camnetsdk.h"
#include "camsimprocess.h"
#include "sdkcalls.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <time.h>

namespace {

// Generous: a loaded two-core machine encodes, decodes and runs the simulator.
constexpr int slow = 30000;

struct Shot
{
    int32_t result = 0;
    int32_t error = 0;
    CamNet_Picture picture;
    std::vector<uint8_t> pixels;
};

// Guard bytes follow the capacity offered.
Shot capture(int32_t handle, uint32_t capacity = 1920 * 1080 * 4)
{
    Shot shot;
    shot.pixels.assign(capacity + 64, 0x5A);
    std::memset(&shot.picture, 0, sizeof shot.picture);
    shot.picture.size = sizeof shot.picture;
    shot.picture.data = shot.pixels.data();
    shot.picture.dataSize = capacity;
    shot.result = CamNet_CapturePicture(handle, &shot.picture);
    shot.error = CamNet_GetLastError();
    return shot;
}

// The mean blue, green and red of rows [from, to), and whether every pixel's
// fourth byte is 255.
struct Mean
{
    double b = 0, g = 0, r = 0;
    bool opaque = true;
};

Mean meanOf(const Shot &shot, uint32_t from, uint32_t to)
{
    Mean m;
    const CamNet_Picture &p = shot.picture;
    for (uint32_t y = from; y < to; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint8_t *px = shot.pixels.data() + size_t(y) * p.stride + x * 4;
            m.b += px[0];
            m.g += px[1];
            m.r += px[2];
            m.opaque = m.opaque && px[3] == 255;
        }
    }
    const double n = double(to - from) * p.width;
    m.b /= n;
    m.g /= n;
    m.r /= n;
    return m;
}

uint64_t monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

int32_t realPlay(int32_t loginId, int channel, WId window = 0)
{
    PreviewRequest request;
    std::memset(&request, 0, sizeof request);
    request.channel = channel;
    request.window = uintptr_t(window);
    return CamNet_RealPlay(loginId, &request, nullptr, nullptr);
}

CamNet_PreviewStats stats(int32_t handle)
{
    CamNet_PreviewStats s;
    std::memset(&s, 0, sizeof s);
    CamNet_GetPreviewStats(handle, &s);
    return s;
}

// Captures one preview over and over on a thread of its own, as Auto Align
// does, counting the outcomes, until destroyed.
class Capturer
{
public:
    explicit Capturer(int32_t handle)
        : m_thread([this, handle] {
              while (!m_done) {
                  const Shot shot = capture(handle, 640 * 480 * 4);
                  if (shot.result == 1) {
                      ++m_pictures;
                      m_backwards += shot.picture.frameNumber < m_newest;
                      m_newest = std::max(m_newest.load(), shot.picture.frameNumber);
                  } else if (shot.error == CAMNET_ERR_UNKNOWN_PREVIEW) {
                      ++m_unknown;
                  } else if (shot.error == CAMNET_ERR_NO_PICTURE) {
                      ++m_none;
                  } else {
                      ++m_failed;
                  }
                  // Leaves the decoders a core on a two-core machine.
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          })
    {
    }
    ~Capturer()
    {
        m_done = true;
        m_thread.join();
    }
    std::atomic<int> m_pictures{0}, m_unknown{0}, m_none{0}, m_failed{0}, m_backwards{0};
    std::atomic<uint32_t> m_newest{0};

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace

class TestSdkCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void picturesComeAsDecoded_data();
    void picturesComeAsDecoded();
    void refusalsCarryTheirCodes();
    void framesFlowWhileCapturing();

private:
    int32_t login(const TestSupport::Camsim &sim, const QString &codec);
    QTemporaryDir m_dir;
    std::vector<int32_t> m_logins;
};

void TestSdkCapture::initTestCase()
{
    // Before CamNet_Init, as for every other call.
    const Shot early = capture(0);
    QCOMPARE(early.result, 0);
    QCOMPARE(early.error, int32_t(CAMNET_ERR_NOT_INITIALISED));
    QVERIFY(CamNet_Init());
    CamNet_SetConnectTime(1000, 1);
    CamNet_SetReconnect(300, 1);
    QVERIFY(m_dir.isValid());
}

void TestSdkCapture::cleanup()
{
    for (const int32_t id : m_logins)
        CamNet_Logout(id);
    m_logins.clear();
}

// MJPEG over HTTP with no profile; the codec's RTSP stream otherwise.
int32_t TestSdkCapture::login(const TestSupport::Camsim &sim, const QString &codec)
{
    qunsetenv("CAMNETSDK_PROFILE");
    if (codec != "mjpeg") {
        const QString path = m_dir.filePath(QStringLiteral("%1.ini").arg(codec));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        file.write(QStringLiteral("[General]\nstreamUrl=rtsp://{host}:%1/channels/{channel}\n")
                       .arg(sim.rtspPort())
                       .toUtf8());
        file.close();
        qputenv("CAMNETSDK_PROFILE", path.toUtf8());
    }
    const int32_t id = TestSupport::login(sim.port());
    if (id >= 0)
        m_logins.push_back(id);
    return id;
}

void TestSdkCapture::picturesComeAsDecoded_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QSize>("visible");
    QTest::newRow("MJPEG") << "mjpeg" << QSize(1920, 1080);
    QTest::newRow("RTSP H.264") << "h264" << QSize(800, 600);
    QTest::newRow("RTSP H.265") << "h265" << QSize(800, 600);
    QTest::newRow("RTSP JPEG") << "jpeg" << QSize(800, 600);
}

void TestSdkCapture::picturesComeAsDecoded()
{
    QFETCH(QString, codec);
    QFETCH(QSize, visible);
    const QSize thermal(384, 288);
    QStringList options{
        "--visible-size", QStringLiteral("%1x%2").arg(visible.width()).arg(visible.height()),
        "--thermal-size", "384x288",
        "--fps",          "15"};
    if (codec != "mjpeg")
        options << "--rtsp-codec" << codec;
    TestSupport::Camsim sim(options);
    QVERIFY(sim.port());
    const int32_t id = login(sim, codec);
    QVERIFY2(id >= 0, qPrintable(QString::number(CamNet_GetLastError())));

    // Channel 1 is drawn into a window of neither channel's size.
    QWidget widget;
    widget.setAttribute(Qt::WA_NativeWindow);
    widget.setGeometry(0, 0, 320, 200);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const int32_t one = realPlay(id, 1, widget.winId());
    const int32_t two = realPlay(id, 2);
    QVERIFY2(one >= 0 && two >= 0, qPrintable(QString::number(CamNet_GetLastError())));

    QTRY_VERIFY_WITH_TIMEOUT(capture(one).result == 1 && capture(two).result == 1, slow);
    // The jitter buffer may drop packets of the first key frame while the
    // decoder is set up; the simulator sends the next one a second (15
    // frames) later, and only from then on are coded pictures whole.
    if (codec == "h264" || codec == "h265")
        QTRY_VERIFY_WITH_TIMEOUT(
            capture(one).picture.frameNumber > 16 && capture(two).picture.frameNumber > 16, slow);
    QElapsedTimer timer;
    timer.start();
    const Shot first = capture(one);
    qInfo("%s: a %ux%u capture took %lld us", QTest::currentDataTag(), first.picture.width,
          first.picture.height, timer.nsecsElapsed() / 1000);
    const Shot other = capture(two);
    for (const Shot *shot : {&first, &other}) {
        const CamNet_Picture &p = shot->picture;
        const QSize size = shot == &first ? visible : thermal;
        QCOMPARE(shot->error, int32_t(CAMNET_ERR_NONE));
        QCOMPARE(QSize(int(p.width), int(p.height)), size);
        QCOMPARE(p.pixelFormat, uint32_t(CAMNET_PIXEL_BGRX));
        QCOMPARE(p.stride, p.width * 4);
        QCOMPARE(p.requiredSize, p.stride * p.height);
        QVERIFY(p.frameNumber >= 1);
        QVERIFY(p.decodedAtUs > 0 && p.decodedAtUs <= monotonicUs());
    }
    // A sky above the scene; the thermal picture is another one.
    const Mean sky = meanOf(first, 0, first.picture.height / 10);
    QVERIFY2(sky.b > sky.r + 20 && sky.opaque,
             qPrintable(QStringLiteral("sky b=%1 g=%2 r=%3").arg(sky.b).arg(sky.g).arg(sky.r)));
    const Mean a = meanOf(first, 0, first.picture.height);
    const Mean b = meanOf(other, 0, other.picture.height);
    QVERIFY(qAbs(a.b - b.b) + qAbs(a.g - b.g) + qAbs(a.r - b.r) > 30);

    QTRY_VERIFY_WITH_TIMEOUT(capture(one).picture.frameNumber > first.picture.frameNumber, slow);
    const Shot later = capture(one);
    QVERIFY(later.picture.decodedAtUs > first.picture.decodedAtUs);
}

void TestSdkCapture::refusalsCarryTheirCodes()
{
    TestSupport::Camsim sim(QStringList{"--stall-stream"});
    QVERIFY(sim.port());
    const int32_t id = login(sim, "mjpeg");
    QVERIFY(id >= 0);
    const int32_t handle = realPlay(id, 1);
    QVERIFY2(handle >= 0, qPrintable(QString::number(CamNet_GetLastError())));
    QCOMPARE(capture(handle).error, int32_t(CAMNET_ERR_NO_PICTURE));

    CamNet_Picture picture;
    std::memset(&picture, 0, sizeof picture);
    QCOMPARE(CamNet_CapturePicture(handle, nullptr), 0);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_ARGUMENT));
    picture.size = sizeof picture;
    QCOMPARE(CamNet_CapturePicture(handle, &picture), 0); // no data
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_ARGUMENT));
    uint8_t pixel[4];
    picture.data = pixel;
    picture.size = sizeof picture - 8;
    QCOMPARE(CamNet_CapturePicture(handle, &picture), 0);
    QCOMPARE(CamNet_GetLastError(), int32_t(CAMNET_ERR_BAD_ARGUMENT));
    QCOMPARE(capture(-1).error, int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));
    QCOMPARE(capture(handle + 1000).error, int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));

    QVERIFY(sim.faults("stall-stream=0"));
    QTRY_VERIFY_WITH_TIMEOUT(capture(handle).result == 1, slow);
    const Shot small = capture(handle, 640 * 480 * 4 - 1);
    QCOMPARE(small.result, 0);
    QCOMPARE(small.error, int32_t(CAMNET_ERR_BUFFER_TOO_SMALL));
    QCOMPARE(small.picture.width, 640u);
    QCOMPARE(small.picture.height, 480u);
    QCOMPARE(small.picture.stride, 640u * 4);
    QCOMPARE(small.picture.requiredSize, 640u * 480 * 4);
    QVERIFY(std::all_of(small.pixels.begin(), small.pixels.end(),
                        [](uint8_t byte) { return byte == 0x5A; }));

    QCOMPARE(CamNet_StopRealPlay(handle), 1);
    QCOMPARE(capture(handle).error, int32_t(CAMNET_ERR_UNKNOWN_PREVIEW));
}

void TestSdkCapture::framesFlowWhileCapturing()
{
    TestSupport::Camsim sim(QStringList{"--fps", "25"});
    QVERIFY(sim.port());
    const int32_t id = login(sim, "mjpeg");
    QVERIFY(id >= 0);
    QWidget widget;
    widget.setAttribute(Qt::WA_NativeWindow);
    widget.setGeometry(0, 0, 320, 240);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const int32_t drawn = realPlay(id, 1, widget.winId());
    const int32_t headless = realPlay(id, 2);
    QVERIFY(drawn >= 0 && headless >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(stats(drawn).framesDrawn > 0 && stats(headless).framesDrawn > 0, slow);

    // Two callers on one preview, one on the other.
    auto first = std::make_unique<Capturer>(drawn);
    auto second = std::make_unique<Capturer>(drawn);
    Capturer other(headless);
    const CamNet_PreviewStats a = stats(drawn);
    const CamNet_PreviewStats b = stats(headless);
    QTRY_VERIFY_WITH_TIMEOUT(stats(drawn).framesDrawn >= a.framesDrawn + 50 &&
                                 stats(headless).framesDrawn >= b.framesDrawn + 50 &&
                                 first->m_pictures > 50 && other.m_pictures > 50,
                             slow);
    QVERIFY(first->m_newest > 50);

    // The restarted camera's stream comes back; meanwhile the newest picture
    // of the one before stays.
    QVERIFY(sim.restart());
    QTRY_VERIFY_WITH_TIMEOUT(stats(headless).reconnects >= 1, slow);
    const uint32_t before = other.m_newest;
    QTRY_VERIFY_WITH_TIMEOUT(other.m_newest > before, slow);

    // Stopped while captured from: the captures then name no preview. One
    // that found it just before may meet its picture already let go.
    QCOMPARE(CamNet_StopRealPlay(drawn), 1);
    QTRY_VERIFY_WITH_TIMEOUT(first->m_unknown > 0 && second->m_unknown > 0, slow);
    QCOMPARE(int(other.m_none), 0);
    for (const Capturer *c : {first.get(), second.get(), &other}) {
        QCOMPARE(int(c->m_failed), 0);
        QCOMPARE(int(c->m_backwards), 0);
    }
}

QTEST_MAIN(TestSdkCapture)
#include "tst_sdkcapture.moc"
