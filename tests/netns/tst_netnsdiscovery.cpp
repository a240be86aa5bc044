// Finding cameras with real datagrams, inside the network namespace that
// netns_discovery.sh makes for the run: silence is reported as such, and the
// simulator's WS-Discovery responder is found, once, with its address, port
// and name, although it answers the probes of both interfaces.
#include "cameradiscovery.h"
#include "camsimprocess.h"
#include "findcamerasdialog.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QScreen>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

namespace {

// Longer than a discovery run, with room for a loaded machine.
constexpr int runTimeoutMs = 4 * CameraDiscovery::listenMs;

QByteArray ownNetworkNamespace()
{
    char target[128] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", target, sizeof(target) - 1);
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}

QString cameraAddress()
{
    return QString::fromLocal8Bit(qgetenv("NETNS_DISCOVERY_CAMERA"));
}

// With NETNS_DISCOVERY_SCREENSHOTS naming a folder, the dialog as the screen
// shows it is kept there for a look.
void keepScreenshot(QWidget *dialog, const QString &name)
{
    const QString folder = QString::fromLocal8Bit(qgetenv("NETNS_DISCOVERY_SCREENSHOTS"));
    if (folder.isEmpty())
        return;
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->repaint();
    QApplication::sync();
    const QPoint origin = dialog->mapToGlobal(QPoint(0, 0));
    const QPixmap shot =
        dialog->screen()->grabWindow(0, origin.x(), origin.y(), dialog->width(), dialog->height());
    const QString path = folder + '/' + name;
    QVERIFY(shot.save(path, "PNG"));
    qInfo("screenshot: %s", qPrintable(path));
}

} // namespace

class TestNetnsDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void silenceIsReported();
    void simulatorIsFoundOnce();
};

void TestNetnsDiscovery::initTestCase()
{
    // Multicast goes out only inside the namespace the script made: with
    // anything else around, nothing is sent.
    const QByteArray outer = qgetenv("NETNS_DISCOVERY_OUTER_NS");
    if (outer.isEmpty())
        QSKIP("runs only through netns_discovery.sh, in a network namespace of its own");
    QVERIFY2(ownNetworkNamespace() != outer, "in the machine's own network namespace");
    const QStringList ours =
        QString::fromLocal8Bit(qgetenv("NETNS_DISCOVERY_INTERFACES")).split(' ');
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        if (iface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        QVERIFY2(ours.contains(iface.name()), qPrintable("a foreign interface: " + iface.name()));
    }
    QVERIFY(!cameraAddress().isEmpty());
}

void TestNetnsDiscovery::silenceIsReported()
{
    FindCamerasDialog dialog;
    dialog.show();
    auto *discovery = dialog.findChild<CameraDiscovery *>();
    QVERIFY(discovery);
    QVERIFY(discovery->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!discovery->isRunning(), runTimeoutMs);
    // Both ends of the pair were probed; nobody answered.
    QCOMPARE(discovery->interfacesProbed(), 2);
    QCOMPARE(discovery->cameras().size(), 0);
    QCOMPARE(dialog.findChild<QTreeWidget *>("camerasTreeWidget")->topLevelItemCount(), 0);
    const QString status = dialog.findChild<QLabel *>("statusLabel")->text();
    QVERIFY2(status.startsWith("No camera answered"), qPrintable(status));
    QVERIFY(!dialog.findChild<QProgressBar *>("findProgressBar")->isVisible());
    keepScreenshot(&dialog, "findcameras-none.png");
}

void TestNetnsDiscovery::simulatorIsFoundOnce()
{
    TestSupport::Camsim camsim({"--listen", cameraAddress(), "--ws-discovery"});
    QVERIFY(camsim.port() != 0);

    FindCamerasDialog dialog;
    dialog.show();
    auto *discovery = dialog.findChild<CameraDiscovery *>();
    QTRY_VERIFY_WITH_TIMEOUT(!discovery->isRunning(), runTimeoutMs);
    QCOMPARE(discovery->interfacesProbed(), 2);
    const QList<DiscoveredCamera> cameras = discovery->cameras();
    QCOMPARE(cameras.size(), 1);
    QCOMPARE(cameras[0].name, QString("camsim"));
    QCOMPARE(cameras[0].address, cameraAddress());
    QCOMPARE(cameras[0].port, int(camsim.port()));
    QVERIFY(cameras[0].endpoint.startsWith("urn:uuid:"));
    QCOMPARE(cameras[0].xaddrs.first(), QStringLiteral("http://%1:%2/onvif/device_service")
                                            .arg(cameraAddress())
                                            .arg(camsim.port()));
    auto *tree = dialog.findChild<QTreeWidget *>("camerasTreeWidget");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("camsim"));
    QCOMPARE(tree->topLevelItem(0)->text(1), cameraAddress());
    QCOMPARE(tree->topLevelItem(0)->text(2), QString::number(camsim.port()));
    keepScreenshot(&dialog, "findcameras-found.png");

    // It answered the probes that came in from both sides of the pair; the
    // list still holds it once.
    const QByteArray log = camsim.log();
    QVERIFY2(log.contains("WS-Discovery Probe from 10.231.0.1:"), log);
    QVERIFY2(log.contains("WS-Discovery Probe from " + cameraAddress().toLatin1() + ':'), log);
}

QTEST_MAIN(TestNetnsDiscovery)
#include "tst_netnsdiscovery.moc"
