// The whole main window on the recording fake SDK: connect, disconnect and
// close flows, the fusion switch and the shortcuts reaching the camera, and
// the wait cursor over every camera call of them.
#include "calibrationvalues.h"
#include "cameralinteract.h"
#include "camnetsdkfake.h"
#include "centerwidget.h"
#include "configparams.h"
#include "overlaytuner.h"
#include "settingwidget.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QCursor>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QWindow>
#include <QtTest>

#include <cstdlib>
#include <cstring>

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

// Everything the panel shows of its five boxes: value, range, enabled state.
QList<QVariantList> panelBoxes(SettingWidget *panel)
{
    QList<QVariantList> boxes;
    for (const char *name : {"distanceSpinBox", "horShiftSpinBox", "verShiftSpinBox",
                             "horScalingSpinBox", "verScalingSpinBox"}) {
        auto *box = panel->findChild<QSpinBox *>(name);
        boxes << QVariantList{box->value(), box->minimum(), box->maximum(), box->isEnabled()};
    }
    return boxes;
}

// The camera's ranges and values for the panel's load at connect, wide
// enough for the steps the tests take.
void scriptPanelLoad()
{
    FakeSdk::XmlReply cap;
    cap.response = TestSupport::readDataFile("fusioncalibrationcap_example.xml").toStdString();
    FakeSdk::XmlReply values;
    values.response =
        TestSupport::readDataFile("fusioncalibration_4_64_64_-3_12.xml").toStdString();
    FakeSdk::pushXmlReply(cap);
    FakeSdk::pushXmlReply(values);
}

// The horizontal bias in a written calibration document.
int biasHorizontal(const std::string &body)
{
    const size_t bias = body.find("<Bias>");
    const size_t open = body.find("<horizontal>", bias);
    if (bias == std::string::npos || open == std::string::npos)
        return -1;
    return std::atoi(body.c_str() + open + std::strlen("<horizontal>"));
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
    void untickingLeavesThePanelTickingPlacesIt();
    void disconnectUnticksWithoutReachingTheCamera();
    void closeDisconnectsOnlyWhenConnected();
    void shortcutsReachTheCameraAsDocuments();
    void clickedFusionBoxKeepsSpaceAndPassesArrows();
    void panelFollowsMovesNotResizes();
    void aboutOpensAFreshDialogEachTime();
    void calibrationMenuFollowsTheConnection();
    void revertWritesTheConnectValuesAsOneDocument();
    void failedRevertWarns_data();
    void failedRevertWarns();
    void autoAlignRunKeepsTheCameraToItself();

private:
    void connectOk(OverlayTuner &window, ModalAnswerer **answerer = nullptr);
    void watchCursor();
    OverlayTuner *window = nullptr;
    // The SDK calls made without the wait cursor showing.
    QStringList idleCalls;
};

void TestConnectFlow::watchCursor()
{
    FakeSdk::setCallHook([this](const std::string &function) {
        const QCursor *cursor = QApplication::overrideCursor();
        if (!cursor || cursor->shape() != Qt::WaitCursor)
            idleCalls << QString::fromStdString(function);
    });
}

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
    idleCalls.clear();
    watchCursor();
}

void TestConnectFlow::cleanup()
{
    // Whatever a test ran: the pointer showed the wait cursor during every
    // camera call of its flows, and no flow left it behind.
    FakeSdk::setCallHook(nullptr);
    const bool leftBusy = QApplication::overrideCursor() != nullptr;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (CameralInteract::instance()->loginId() >= 0)
        CameralInteract::instance()->logout();
    delete window;
    window = nullptr;
    QVERIFY2(!leftBusy, "an override cursor outlived the flows");
    QCOMPARE(idleCalls, QStringList());
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
    // Neither the dialog nor the box waits under the wait cursor.
    QCOMPARE(answerer.overrideCursors(), (QList<int>{-1, -1}));
    QVERIFY(window->findChild<QAction *>("actionConnect")->isEnabled());
    QVERIFY(CameralInteract::instance()->loginId() < 0);
    QVERIFY(FakeSdk::calls("CamNet_RealPlay").empty());
    QCOMPARE(configText(), before);
    QCOMPARE(window->findChild<QLabel *>("label")->text(), QString("Disconnected"));
    QVERIFY(!window->findChild<QCheckBox *>("fusionONCheckBox")->isEnabled());
    QVERIFY(!window->findChild<SettingWidget *>()->isVisible());
    QVERIFY(!window->findChild<QAction *>("actionAutoAlign")->isEnabled());
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
    // No box waits for the user under the wait cursor; the flow takes it up
    // again after each (cleanup checks the calls that follow).
    QCOMPARE(answerer->overrideCursors().count(-1), boxes.size() + 1);

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
    FakeSdk::reset();
    watchCursor();
    FakeSdk::pushStdOutput(switchRecord(1));
    connectOk(*window);
    // The camera sees the connect in this order: login, channel 1's and
    // channel 2's previews, the switch read and, as it is on, written back,
    // and only then the panel's two reads.
    QCOMPARE(FakeSdk::callNames(),
             (std::vector<std::string>{"CamNet_SetConnectTime", "CamNet_SetReconnect",
                                       "CamNet_Login", "CamNet_RealPlay", "CamNet_RealPlay",
                                       "CamNet_GetStdConfig", "CamNet_SetStdConfig",
                                       "CamNet_StdXmlConfig", "CamNet_StdXmlConfig"}));
    const auto reads = FakeSdk::calls("CamNet_StdXmlConfig");
    QCOMPARE(reads.at(0).requestLine,
             std::string("GET /ISAPI/Thermal/channels/2/fusionCalibration/capabilities\r\n"));
    QCOMPARE(reads.at(1).requestLine,
             std::string("GET /ISAPI/Thermal/channels/2/fusionCalibration\r\n"));
    // Channel n is drawn into frame n.
    const auto plays = FakeSdk::calls("CamNet_RealPlay");
    for (int n = 1; n <= 2; ++n) {
        PreviewRequest request;
        std::memcpy(&request, plays.at(size_t(n - 1)).record.data(), sizeof(request));
        QCOMPARE(request.channel, int32_t(n));
        auto *frame = window->findChild<QFrame *>(QStringLiteral("previewFrame%1").arg(n));
        QVERIFY(frame);
        QCOMPARE(WId(request.window), frame->winId());
    }

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

void TestConnectFlow::untickingLeavesThePanelTickingPlacesIt()
{
    FakeSdk::pushStdOutput(switchRecord(1));
    connectOk(*window);
    auto *box = window->findChild<QCheckBox *>("fusionONCheckBox");
    auto *panel = window->findChild<SettingWidget *>();
    QVERIFY(box->isChecked());
    // Somewhere the window would never put it.
    const QPoint elsewhere = window->geometry().topRight() + QPoint(60, 40);
    panel->move(elsewhere);
    QCoreApplication::processEvents();
    QCOMPARE(panel->pos(), elsewhere);
    const QList<QVariantList> boxes = panelBoxes(panel);
    const size_t callsBefore = FakeSdk::calls().size();

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QCoreApplication::processEvents();
    // One switch-off write on the open login, nothing else; the panel stays
    // where it is, as it is.
    const auto after = FakeSdk::calls();
    QCOMPARE(after.size(), callsBefore + 1);
    QCOMPARE(after.back().function, std::string("CamNet_SetStdConfig"));
    QCOMPARE(after.back().args,
             (std::vector<int64_t>{CameralInteract::instance()->loginId(), 6769}));
    QCOMPARE(int(after.back().input.at(5)), 2);
    QCOMPARE(panel->pos(), elsewhere);
    QVERIFY(panel->isVisible());
    QVERIFY(panel->isEnabled());
    QCOMPARE(panelBoxes(panel), boxes);

    // Ticking it again writes 1 and brings the panel back beside the window.
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QCOMPARE(int(FakeSdk::calls().back().input.at(5)), 1);
    QCOMPARE(panel->pos(), window->geometry().topRight() + QPoint(15, 0));
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
    scriptPanelLoad();
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

    // A held key: the first press, then the repeats the keyboard sends while
    // it stays down, each a release and a press marked as auto-repeated.
    // Every press steps the bias by one and writes it at once.
    auto *horShift = window->findChild<SettingWidget *>()->findChild<QSpinBox *>("horShiftSpinBox");
    const int start = horShift->value();
    for (int i = 1; i <= 4; ++i) {
        const bool repeat = i > 1;
        if (repeat) {
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(window, &release);
        }
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(window, &press);
        QCOMPARE(horShift->value(), start + i);
        const auto writes = FakeSdk::calls("CamNet_StdXmlConfig");
        QCOMPARE(writes.size(), before + 2 + size_t(i));
        QCOMPARE(biasHorizontal(writes.back().body), start + i);
    }
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(window, &release);
    QCOMPARE(FakeSdk::calls("CamNet_StdXmlConfig").size(), before + 6);
}

void TestConnectFlow::clickedFusionBoxKeepsSpaceAndPassesArrows()
{
    scriptPanelLoad();
    connectOk(*window);
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
    auto *box = window->findChild<QCheckBox *>("fusionONCheckBox");
    auto *panel = window->findChild<SettingWidget *>();
    auto *horShift = panel->findChild<QSpinBox *>("horShiftSpinBox");
    auto *verScale = panel->findChild<QSpinBox *>("verScalingSpinBox");
    const int shift = horShift->value();
    const int scale = verScale->value();

    // A click leaves the keyboard with the box, as on a real screen.
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QCOMPARE(QApplication::focusWidget(), box);

    // The very next arrow key steps its value and writes it, once.
    const size_t before = FakeSdk::calls("CamNet_StdXmlConfig").size();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QCOMPARE(horShift->value(), shift + 1);
    QCOMPARE(FakeSdk::calls("CamNet_StdXmlConfig").size(), before + 1);
    QCOMPARE(biasHorizontal(FakeSdk::calls("CamNet_StdXmlConfig").back().body), shift + 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(verScale->value(), scale + 1);
    QCOMPARE(FakeSdk::calls("CamNet_StdXmlConfig").size(), before + 2);

    // Space still belongs to the box, which still has the keyboard.
    QCOMPARE(QApplication::focusWidget(), box);
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(!box->isChecked());
    QCOMPARE(int(FakeSdk::calls().back().input.at(5)), 2);
}

void TestConnectFlow::panelFollowsMovesNotResizes()
{
    auto *panel = window->findChild<SettingWidget *>();
    window->move(40, 50);
    QTRY_COMPARE(panel->pos(), window->geometry().topRight() + QPoint(15, 0));
    const QPoint placed = panel->pos();
    const int wider = window->width() + 100;
    window->resize(wider, window->height());
    // Once the window system reports the new size, everything it reports
    // about this resize, a move included, has been handled.
    QTRY_COMPARE(window->windowHandle()->geometry().width(), wider);
    QCOMPARE(window->width(), wider);
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

void TestConnectFlow::calibrationMenuFollowsTheConnection()
{
    auto *autoAlign = window->findChild<QAction *>("actionAutoAlign");
    auto *revert = window->findChild<QAction *>("actionRevertCalibration");
    QVERIFY(!autoAlign->isEnabled() && !revert->isEnabled());
    connectOk(*window);
    QVERIFY(autoAlign->isEnabled() && revert->isEnabled());
    window->findChild<QAction *>("actionDisconnect")->trigger();
    QVERIFY(!autoAlign->isEnabled() && !revert->isEnabled());
}

void TestConnectFlow::revertWritesTheConnectValuesAsOneDocument()
{
    scriptPanelLoad();
    connectOk(*window);
    auto *panel = window->findChild<SettingWidget *>();
    const QList<QVariantList> atConnect = panelBoxes(panel);
    QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_Up, Qt::ShiftModifier);

    FakeSdk::XmlReply accepted;
    accepted.status = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";
    FakeSdk::pushXmlReply(accepted);
    const size_t before = FakeSdk::calls().size();
    window->findChild<QAction *>("actionRevertCalibration")->trigger();
    QCOMPARE(panelBoxes(panel), atConnect);
    const auto after = FakeSdk::calls();
    QCOMPARE(after.size(), before + 1);
    QVERIFY(after.back().requestLine.rfind("PUT ", 0) == 0);
    // The data file's values; its bias of -3 lies below the camera's range
    // and was shown, and so is written, as 0.
    for (const char *element :
         {"<distanceLevel>4</distanceLevel>", "<horizontal>64</horizontal>",
          "<vertical>64</vertical>", "<horizontal>0</horizontal>", "<vertical>12</vertical>"})
        QVERIFY2(after.back().body.find(element) != std::string::npos, element);
}

void TestConnectFlow::failedRevertWarns_data()
{
    QTest::addColumn<bool>("unreachable");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << false << "The camera refused the calibration (status 4).";
    QTest::newRow("unreachable") << true << "The camera could not be reached (error 5).";
}

void TestConnectFlow::failedRevertWarns()
{
    QFETCH(bool, unreachable);
    QFETCH(QString, reason);
    connectOk(*window);
    FakeSdk::XmlReply refused;
    refused.status = "<ResponseStatus><statusCode>4</statusCode></ResponseStatus>";
    if (unreachable)
        FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_TIMED_OUT);
    else
        FakeSdk::pushXmlReply(refused);
    ModalAnswerer answerer;
    window->findChild<QAction *>("actionRevertCalibration")->trigger();
    QCOMPARE(answerer.titles(), QStringList{"Warn"});
    QCOMPARE(
        answerer.texts(),
        QStringList{"The calibration read at the connect could not be written back. " + reason});
}

void TestConnectFlow::autoAlignRunKeepsTheCameraToItself()
{
    connectOk(*window);
    window->findChild<QAction *>("actionAutoAlign")->trigger();
    auto *dialog = window->findChild<QDialog *>("AutoAlignDialog");
    auto *start = dialog->findChild<QPushButton *>("startButton");
    auto *panel = window->findChild<SettingWidget *>();
    auto *camera = window->findChild<QMenu *>("menuCamera")->menuAction();
    auto *calibration = window->findChild<QMenu *>("menuCalibration")->menuAction();
    QVERIFY(dialog->isVisible());

    // The run's own camera calls need no wait cursor; the keys write nothing.
    FakeSdk::setCallHook(nullptr);
    start->click();
    QVERIFY(!camera->isEnabled() && !calibration->isEnabled() && !panel->isEnabled());
    QVERIFY(!window->findChild<QCheckBox *>("fusionONCheckBox")->isEnabled());
    const QVector<int> values = TestSupport::valuesOf(panel->settingParams());
    QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(TestSupport::valuesOf(panel->settingParams()), values);

    // Closing the window ends the run before it logs out.
    window->close();
    QVERIFY(start->isEnabled() && !dialog->isVisible());
    QVERIFY(camera->isEnabled() && calibration->isEnabled());
    QCOMPARE(int(FakeSdk::calls("CamNet_Logout").size()), 1);
}

QTEST_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
