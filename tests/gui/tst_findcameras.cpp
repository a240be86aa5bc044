// Camera > Find Cameras… with a discovery that leaves the network alone: the
// dialog while it listens, its list, its word when nobody answered, Cancel,
// and a chosen camera reaching the ordinary connection dialog, whose login
// alone writes config.ini.
#include "cameradiscovery.h"
#include "cameralinteract.h"
#include "camnetsdkfake.h"
#include "configparams.h"
#include "findcamerasdialog.h"
#include "overlaytuner.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using TestSupport::ModalAnswerer;

namespace {

// Starts when told and finishes when the test says so, with the test's cameras.
class ScriptedDiscovery : public CameraDiscovery
{
public:
    using CameraDiscovery::CameraDiscovery;

    void start() override
    {
        ++starts;
        setRunning(true);
    }
    void cancel() override
    {
        ++cancels;
        setRunning(false);
    }
    void answer(const QList<DiscoveredCamera> &cameras, int interfaces = 1)
    {
        setResult(cameras, interfaces);
        setRunning(false);
        emit finished();
    }

    int starts = 0;
    int cancels = 0;
};

QPointer<ScriptedDiscovery> lastDiscovery;

DiscoveredCamera camera(const QString &name, const QString &address, int port)
{
    DiscoveredCamera c;
    c.name = name;
    c.address = address;
    c.port = port;
    c.endpoint = "urn:uuid:" + name;
    c.xaddrs =
        QStringList{QStringLiteral("http://%1:%2/onvif/device_service").arg(address).arg(port)};
    return c;
}

const QList<DiscoveredCamera> twoCameras = {camera("Gate North", "127.0.0.2", 8000),
                                            camera("Yard", "127.0.0.3", 8080)};

QString configPath()
{
    return QCoreApplication::applicationDirPath() + "/config.ini";
}

QByteArray configText()
{
    openConfigFile(); // flushes what an earlier write left pending
    QFile file(configPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template<typename T>
T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(name);
}

QStringList rowTexts(QTreeWidget *tree)
{
    QStringList rows;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = tree->topLevelItem(i);
        rows << item->text(0) + '|' + item->text(1) + '|' + item->text(2);
    }
    return rows;
}

} // namespace

class TestFindCameras : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void listsCamerasAfterListening();
    void noAnswerSaysSoAndSearchesAgain_data();
    void noAnswerSaysSoAndSearchesAgain();
    void cancelEndsTheSearch();
    void chosenCameraPrefillsTheConnectionDialog();
    void cancelledConnectLeavesConfigAndNextConnectAlone();
    void menuEntryFollowsTheConnection();
};

void TestFindCameras::initTestCase()
{
    CameraDiscovery::setFactory([](QObject *parent) {
        lastDiscovery = new ScriptedDiscovery(parent);
        return lastDiscovery.data();
    });
}

void TestFindCameras::cleanupTestCase()
{
    CameraDiscovery::setFactory(nullptr);
}

void TestFindCameras::init()
{
    openConfigFile();
    QFile file(configPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nIP=127.0.0.1\nPORT=8000\nUSERNAME=admin\nPASSWD=pw\n");
    file.close();
    FakeSdk::reset();
}

void TestFindCameras::listsCamerasAfterListening()
{
    FindCamerasDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(lastDiscovery);
    QCOMPARE(lastDiscovery->starts, 1);
    auto *bar = child<QProgressBar>(&dialog, "findProgressBar");
    auto *tree = child<QTreeWidget>(&dialog, "camerasTreeWidget");
    auto *connectButton = child<QPushButton>(&dialog, "connectButton");
    QVERIFY(bar->isVisible());
    QVERIFY(!connectButton->isEnabled());
    QVERIFY(!child<QPushButton>(&dialog, "searchAgainButton")->isEnabled());
    // The bar moves on its own while the discovery listens.
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 5000);
    QVERIFY(bar->value() < 100);

    lastDiscovery->answer(twoCameras, 2);
    QVERIFY(!bar->isVisible());
    QCOMPARE(rowTexts(tree), (QStringList{"Gate North|127.0.0.2|8000", "Yard|127.0.0.3|8080"}));
    QVERIFY(child<QLabel>(&dialog, "statusLabel")->text().contains("Cameras found: 2"));
    QVERIFY(connectButton->isEnabled());

    // A double-click on the second row chooses it and closes the dialog.
    const QRect row = tree->visualItemRect(tree->topLevelItem(1));
    // A user's double-click is a click, then the second press.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QVERIFY(dialog.isVisible());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenCamera().address, QString("127.0.0.3"));
    QCOMPARE(dialog.chosenCamera().port, 8080);
    QCOMPARE(lastDiscovery->starts, 1);
}

void TestFindCameras::noAnswerSaysSoAndSearchesAgain_data()
{
    QTest::addColumn<int>("interfaces");
    QTest::addColumn<QString>("message");
    QTest::newRow("nobody answered") << 2 << "No camera answered";
    QTest::newRow("no interface") << 0 << "no network interface";
}

void TestFindCameras::noAnswerSaysSoAndSearchesAgain()
{
    QFETCH(int, interfaces);
    QFETCH(QString, message);
    FindCamerasDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    lastDiscovery->answer({}, interfaces);
    auto *status = child<QLabel>(&dialog, "statusLabel");
    QVERIFY2(status->text().contains(message), qPrintable(status->text()));
    if (interfaces > 0)
        QVERIFY(status->text().contains("multicast"));
    QCOMPARE(child<QTreeWidget>(&dialog, "camerasTreeWidget")->topLevelItemCount(), 0);
    QVERIFY(!child<QPushButton>(&dialog, "connectButton")->isEnabled());
    // Pressing Connect… with nothing listed does nothing.
    child<QPushButton>(&dialog, "connectButton")->click();
    QVERIFY(dialog.isVisible());

    auto *again = child<QPushButton>(&dialog, "searchAgainButton");
    QVERIFY(again->isEnabled());
    again->click();
    QCOMPARE(lastDiscovery->starts, 2);
    QVERIFY(child<QProgressBar>(&dialog, "findProgressBar")->isVisible());
    QVERIFY(!status->text().contains(message));
    lastDiscovery->answer({twoCameras.first()});
    QCOMPARE(child<QTreeWidget>(&dialog, "camerasTreeWidget")->topLevelItemCount(), 1);
}

void TestFindCameras::cancelEndsTheSearch()
{
    FindCamerasDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(lastDiscovery->isRunning());
    child<QPushButton>(&dialog, "cancelButton")->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(lastDiscovery->cancels, 1);
    QVERIFY(!lastDiscovery->isRunning());
    QCOMPARE(dialog.chosenCamera().address, QString());
}

void TestFindCameras::chosenCameraPrefillsTheConnectionDialog()
{
    OverlayTuner window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStringList typedIn;
    ModalAnswerer answerer([&typedIn](QWidget *modal) {
        if (auto *finder = qobject_cast<FindCamerasDialog *>(modal)) {
            lastDiscovery->answer(twoCameras);
            auto *tree = child<QTreeWidget>(finder, "camerasTreeWidget");
            tree->setCurrentItem(tree->topLevelItem(1));
            child<QPushButton>(finder, "connectButton")->click();
        } else if (modal->objectName() == "CameraConnectWidget") {
            typedIn << child<QLineEdit>(modal, "ipAddrLineEdt")->text()
                    << child<QLineEdit>(modal, "portLineEdt")->text()
                    << child<QLineEdit>(modal, "userNameLineEdt")->text();
            child<QPushButton>(modal, "connectBtn")->click();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->accept();
        }
    });
    window.findChild<QAction *>("actionFindCameras")->trigger();
    // The address and port were found, the user name is the one kept.
    QCOMPARE(typedIn, (QStringList{"127.0.0.3", "8080", "admin"}));
    QCOMPARE(int(FakeSdk::calls("CamNet_Login").size()), 1);
    QVERIFY(CameralInteract::instance()->loginId() >= 0);
    const QByteArray config = configText();
    QVERIFY2(config.contains("IP=127.0.0.3\n") && config.contains("PORT=8080\n"), config);
    CameralInteract::instance()->logout();
}

void TestFindCameras::cancelledConnectLeavesConfigAndNextConnectAlone()
{
    OverlayTuner window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QByteArray before = configText();
    QStringList typedIn;
    const auto readAndCancel = [&typedIn](QWidget *modal) {
        if (qobject_cast<FindCamerasDialog *>(modal)) {
            lastDiscovery->answer(twoCameras);
            child<QPushButton>(modal, "connectButton")->click();
        } else if (modal->objectName() == "CameraConnectWidget") {
            typedIn << child<QLineEdit>(modal, "ipAddrLineEdt")->text() + ':' +
                           child<QLineEdit>(modal, "portLineEdt")->text();
            child<QPushButton>(modal, "cancelBtn")->click();
        }
    };
    {
        ModalAnswerer answerer(readAndCancel);
        window.findChild<QAction *>("actionFindCameras")->trigger();
        QCOMPARE(answerer.count(), 2);
    }
    QCOMPARE(configText(), before);
    // The ordinary Connect that follows shows the kept connection again.
    ModalAnswerer answerer(readAndCancel);
    window.findChild<QAction *>("actionConnect")->trigger();
    QCOMPARE(typedIn, (QStringList{"127.0.0.2:8000", "127.0.0.1:8000"}));
    QVERIFY(FakeSdk::calls("CamNet_Login").empty());
    QCOMPARE(configText(), before);
}

void TestFindCameras::menuEntryFollowsTheConnection()
{
    OverlayTuner window;
    auto *find = window.findChild<QAction *>("actionFindCameras");
    QVERIFY(find->isEnabled());

    ModalAnswerer answerer([](QWidget *modal) {
        if (auto *button = modal->findChild<QPushButton *>("connectBtn"))
            button->click();
        else if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->accept();
    });
    window.findChild<QAction *>("actionConnect")->trigger();
    QVERIFY(CameralInteract::instance()->loginId() >= 0);
    QVERIFY(!find->isEnabled());
    window.findChild<QAction *>("actionDisconnect")->trigger();
    QVERIFY(find->isEnabled());
}

QTEST_MAIN(TestFindCameras)
#include "tst_findcameras.moc"
