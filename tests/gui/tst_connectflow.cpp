// The whole main window on the recording fake SDK: connect, disconnect and
// close flows, the fusion switch and the shortcuts reaching the camera.
#include "cameralinteract.h"
#include "camnetsdkfake.h"
#include "centerwidget.h"
#include "configparams.h"
#include "overlaytuner.h"
#include "settingwidget.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using TestSupport::ModalAnswerer;

namespace {

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

// Presses the connection dialog's Connect (or Cancel) and accepts every box.
ModalAnswerer::Action answerWith(const char *dialogButton)
{
    return [dialogButton](QWidget *modal) {
        if (auto *button = modal->findChild<QPushButton *>(dialogButton))
            button->click();
        else if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->accept();
    };
}

std::string switchRecord(char state)
{
    std::string bytes(732, '\0');
    bytes[5] = state;
    return bytes;
}

} // namespace

class TestConnectFlow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelDoesNothing();
    void failedLoginShowsCodeAndKeepsFile();
    void failedPreviewsAreReportedInChannelOrder_data();
    void failedPreviewsAreReportedInChannelOrder();
    void fusionOnAtConnectIsWrittenBack();
    void fusionOffAtConnectWritesNothing();
    void disconnectUnticksWithoutReachingTheCamera();
    void closeDisconnectsOnlyWhenConnected();
    void shortcutsReachTheCameraAsDocuments();
    void panelFollowsMovesNotResizes();
    void aboutOpensAFreshDialogEachTime();

private:
    void connectOk(OverlayTuner &window, ModalAnswerer **answerer = nullptr);
    OverlayTuner *window = nullptr;
};

void TestConnectFlow::init()
{
    openConfigFile();
    QFile file(configPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(
        "[General]\nIP=127.0.0.1\nPORT=8000\nUSERNAME=admin\nPASSWD=pw\nCHANNEL=5\nPIXEL=3\n");
    file.close();
    FakeSdk::reset();
    window = new OverlayTuner;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestConnectFlow::cleanup()
{
    if (CameralInteract::instance()->loginId() >= 0)
        CameralInteract::instance()->logout();
    delete window;
    window = nullptr;
}

void TestConnectFlow::connectOk(OverlayTuner &w, ModalAnswerer **answerer)
{
    auto *local = new ModalAnswerer(answerWith("connectBtn"));
    w.findChild<QAction *>("actionConnect")->trigger();
    if (answerer)
        *answerer = local;
    else
        delete local;
}

void TestConnectFlow::cancelDoesNothing()
{
    const QByteArray before = configText();
    ModalAnswerer answerer(answerWith("cancelBtn"));
    window->findChild<QAction *>("actionConnect")->trigger();
    QCOMPARE(answerer.count(), 1);
    QVERIFY(FakeSdk::calls("CamNet_Login").empty());
    QCOMPARE(configText(), before);
    QVERIFY(window->findChild<QAction *>("actionConnect")->isEnabled());
}

void TestConnectFlow::failedLoginShowsCodeAndKeepsFile()
{
    const QByteArray before = configText();
    FakeSdk::pushFailure("CamNet_Login", 6);
    ModalAnswerer answerer(answerWith("connectBtn"));
    window->findChild<QAction *>("actionConnect")->trigger();

    QCOMPARE(answerer.count(), 2);
    QCOMPARE(answerer.titles().at(1), QString("Warn"));
    QCOMPARE(answerer.texts().at(1), QString("Connect is failed. Error:6"));
    QVERIFY(window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(CameralInteract::instance()->loginId() < 0);
    QVERIFY(FakeSdk::calls("CamNet_RealPlay").empty());
    QCOMPARE(configText(), before);
    QCOMPARE(window->findChild<QLabel *>("label")->text(), QString("Disconnected"));
    QVERIFY(!window->findChild<QCheckBox *>("fusionONCheckBox")->isEnabled());
    QVERIFY(!window->findChild<SettingWidget *>()->isVisible());
}

void TestConnectFlow::failedPreviewsAreReportedInChannelOrder_data()
{
    QTest::addColumn<bool>("firstFails");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("channel 2") << false << QStringList{"[Channel 2] RealPlay failed [9]."};
    QTest::newRow("both") << true
                          << QStringList{"[Channel 1] RealPlay failed [4].",
                                         "[Channel 2] RealPlay failed [9]."};
}

void TestConnectFlow::failedPreviewsAreReportedInChannelOrder()
{
    QFETCH(bool, firstFails);
    QFETCH(QStringList, boxes);
    if (firstFails)
        FakeSdk::pushFailure("CamNet_RealPlay", 4);
    else
        FakeSdk::push("CamNet_RealPlay", FakeSdk::Result{});
    FakeSdk::pushFailure("CamNet_RealPlay", 9);

    ModalAnswerer *answerer = nullptr;
    connectOk(*window, &answerer);
    QScopedPointer<ModalAnswerer> owner(answerer);
    QCOMPARE(answerer->texts().mid(1), boxes);

    const auto plays = FakeSdk::calls("CamNet_RealPlay");
    QCOMPARE(int(plays.size()), 2);
    const QList<WId> ids = window->findChild<CenterWidget *>()->previewWindowIds();
    // Whatever failed, the rest of the flow ran as after a clean connect.
    QCOMPARE(window->findChild<QLabel *>("label")->text(), QString("127.0.0.1 Connected"));
    QVERIFY(!window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(window->findChild<QCheckBox *>("fusionONCheckBox")->isEnabled());
    QVERIFY(window->findChild<SettingWidget *>()->isVisible());
    const QByteArray config = configText();
    QVERIFY(config.contains("CHANNEL=1\n"));
    QVERIFY(config.contains("PIXEL=0\n"));
    QVERIFY(config.contains("IP=127.0.0.1\n"));
    QVERIFY(config.contains("PORT=8000\n"));
    QVERIFY(config.contains("PASSWD=pw\n"));
    QCOMPARE(ids.size(), 2);
}

void TestConnectFlow::fusionOnAtConnectIsWrittenBack()
{
    FakeSdk::pushStdOutput(switchRecord(1));
    connectOk(*window);
    auto *box = window->findChild<QCheckBox *>("fusionONCheckBox");
    QVERIFY(box->isChecked());
    QVERIFY(box->isEnabled());
    const auto writes = FakeSdk::calls("CamNet_SetStdConfig");
    QCOMPARE(int(writes.size()), 1);
    QCOMPARE(writes.at(0).args.at(1), int64_t(6769));
    QCOMPARE(int(writes.at(0).input.size()), 732);
    QCOMPARE(int(writes.at(0).input[5]), 1);

    auto *panel = window->findChild<SettingWidget *>();
    QCOMPARE(panel->pos(), window->geometry().topRight() + QPoint(15, 0));
}

void TestConnectFlow::fusionOffAtConnectWritesNothing()
{
    FakeSdk::pushStdOutput(switchRecord(2));
    connectOk(*window);
    auto *box = window->findChild<QCheckBox *>("fusionONCheckBox");
    QVERIFY(!box->isChecked());
    QVERIFY(box->isEnabled());
    QVERIFY(FakeSdk::calls("CamNet_SetStdConfig").empty());
}

void TestConnectFlow::disconnectUnticksWithoutReachingTheCamera()
{
    FakeSdk::pushStdOutput(switchRecord(1));
    connectOk(*window);
    const size_t writesBefore = FakeSdk::calls("CamNet_SetStdConfig").size();
    window->findChild<QAction *>("actionDisconnect")->trigger();

    auto *box = window->findChild<QCheckBox *>("fusionONCheckBox");
    QVERIFY(!box->isChecked());
    QVERIFY(!box->isEnabled());
    QVERIFY(CameralInteract::instance()->loginId() < 0);
    QVERIFY(window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(!window->findChild<SettingWidget *>()->isVisible());
    QCOMPARE(window->findChild<QLabel *>("label")->text(), QString("Disconnected"));
    // The switch-off write meets a login that is already closed.
    const auto writes = FakeSdk::calls("CamNet_SetStdConfig");
    for (size_t i = writesBefore; i < writes.size(); ++i)
        QVERIFY(writes.at(i).args.at(0) < 0);
    const std::vector<std::string> names = FakeSdk::callNames();
    const auto logout = std::find(names.begin(), names.end(), "CamNet_Logout");
    QVERIFY(logout != names.end());
    QVERIFY(std::find(names.begin(), logout, "CamNet_StopRealPlay") != logout);
}

void TestConnectFlow::closeDisconnectsOnlyWhenConnected()
{
    window->close();
    QVERIFY(FakeSdk::calls("CamNet_Logout").empty());
    QVERIFY(FakeSdk::calls("CamNet_StopRealPlay").empty());

    window->show();
    connectOk(*window);
    window->close();
    QCOMPARE(int(FakeSdk::calls("CamNet_Logout").size()), 1);
    QCOMPARE(int(FakeSdk::calls("CamNet_StopRealPlay").size()), 2);
    QCOMPARE(window->findChild<QLabel *>("label")->text(), QString("Disconnected"));
}

void TestConnectFlow::shortcutsReachTheCameraAsDocuments()
{
    FakeSdk::XmlReply cap;
    cap.response = TestSupport::readDataFile("fusioncalibrationcap_example.xml").toStdString();
    FakeSdk::XmlReply values;
    values.response =
        TestSupport::readDataFile("fusioncalibration_4_64_64_-3_12.xml").toStdString();
    FakeSdk::pushXmlReply(cap);
    FakeSdk::pushXmlReply(values);
    connectOk(*window);
    window->activateWindow();
    window->setFocus();

    const size_t before = FakeSdk::calls("CamNet_StdXmlConfig").size();
    QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
    const auto calls = FakeSdk::calls("CamNet_StdXmlConfig");
    QCOMPARE(calls.size(), before + 1);
    const FakeSdk::Call &put = calls.back();
    QVERIFY(put.requestLine.rfind("PUT ", 0) == 0);
    QVERIFY(put.body.find("<horizontal>65</horizontal>") != std::string::npos);
    QVERIFY(put.body.find("<distanceLevel>4</distanceLevel>") != std::string::npos);

    QTest::keyClick(window, Qt::Key_Up, Qt::ShiftModifier);
    QVERIFY(FakeSdk::calls("CamNet_StdXmlConfig")
                .back()
                .body.find("<distanceLevel>5</distanceLevel>") != std::string::npos);
}

void TestConnectFlow::panelFollowsMovesNotResizes()
{
    auto *panel = window->findChild<SettingWidget *>();
    window->move(40, 50);
    QTRY_COMPARE(panel->pos(), window->geometry().topRight() + QPoint(15, 0));
    const QPoint placed = panel->pos();
    window->resize(window->width() + 100, window->height());
    QTRY_COMPARE(window->width() > 0, true);
    QTest::qWait(50);
    QCOMPARE(panel->pos(), placed);
}

void TestConnectFlow::aboutOpensAFreshDialogEachTime()
{
    QStringList versions;
    ModalAnswerer answerer([&versions](QWidget *modal) {
        if (auto *label = modal->findChild<QLabel *>("versionText"))
            versions << label->text();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->accept();
    });
    window->findChild<QAction *>("actionAbout")->trigger();
    window->findChild<QAction *>("actionAbout")->trigger();
    QCOMPARE(answerer.titles(),
             (QStringList{QString::fromUtf8("版本信息"), QString::fromUtf8("版本信息")}));
    QCOMPARE(versions, (QStringList{"Version:V 1.0.1", "Version:V 1.0.1"}));
    // Each run's dialog is destroyed when it closes.
    QVERIFY(window->findChildren<QDialog *>("AboutDialog").isEmpty());
    QVERIFY(FakeSdk::calls().empty());
}

QTEST_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
