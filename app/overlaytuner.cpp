#include "overlaytuner.h"

#include "aboutdialog.h"
#include "autoaligndialog.h"
#include "autoaligner.h"
#include "busycursor.h"
#include "cameraconnectwidget.h"
#include "cameralinteract.h"
#include "camnetsdk.h"
#include "centerwidget.h"
#include "configparams.h"
#include "findcamerasdialog.h"
#include "isapiinteract.h"
#include "livealigncamera.h"
#include "settingwidget.h"
#include "statusbarinsertwidget.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

namespace {

// Longest wait for a cancelled run to put the camera back: a few bounded
// camera calls.
constexpr int alignStopWaitMs = 30000;

} // namespace

OverlayTuner::OverlayTuner(QWidget *parent) : QMainWindow(parent)
{
    ui.setupUi(this);

    connectWidget = new CameraConnectWidget(this);
    cameraLink = CameralInteract::instance();
    centerWidget = new CenterWidget(this);
    statusWidget = new StatusBarInsertWidget(this);
    settingWidget = new SettingWidget(this);
    settingWidget->hide();
    ui.statusBar->addWidget(statusWidget, 1);
    setCentralWidget(centerWidget);
    statusWidget->setFusionEnabled(false);

    alignCamera = std::make_unique<LiveAlignCamera>(settingWidget, statusWidget);
    aligner = new AutoAligner(alignCamera.get(), this);
    alignDialog = new AutoAlignDialog(aligner, alignCamera.get(), this);
    connect(alignDialog, &AutoAlignDialog::runningChanged, this,
            &OverlayTuner::onAlignRunningChanged);
    connect(ui.actionAutoAlign, &QAction::triggered, this, &OverlayTuner::onAutoAlign);
    connect(ui.actionRevertCalibration, &QAction::triggered, this,
            &OverlayTuner::onRevertCalibration);

    connect(ui.actionConnect, &QAction::triggered, this, &OverlayTuner::onCameralConnect);
    connect(ui.actionFindCameras, &QAction::triggered, this, &OverlayTuner::onFindCameras);
    connect(ui.actionDisconnect, &QAction::triggered, this, &OverlayTuner::onCameralDisonnect);
    connect(ui.actionAbout, &QAction::triggered, this, &OverlayTuner::onAboutDlg);
    connect(statusWidget, &StatusBarInsertWidget::signalONFusion, this,
            &OverlayTuner::onFusionStateChanged);
    connect(this, &OverlayTuner::signalHorScaleChanged, settingWidget,
            &SettingWidget::onSetHorScaleVal);
    connect(this, &OverlayTuner::signalVerScaleChanged, settingWidget,
            &SettingWidget::onSetVerScaleVal);
    connect(this, &OverlayTuner::signalHorShiftChanged, settingWidget,
            &SettingWidget::onSetHorShiftVal);
    connect(this, &OverlayTuner::signalVerShiftChanged, settingWidget,
            &SettingWidget::onSetVerShiftVal);
    connect(this, &OverlayTuner::signalDistanceChanged, settingWidget,
            &SettingWidget::onSetDistanceVal);

    setFocusPolicy(Qt::StrongFocus);
}

OverlayTuner::~OverlayTuner()
{
    // Both use the camera object, which goes before the window's children.
    delete alignDialog;
    delete aligner;
}

void OverlayTuner::placeSettingPanel()
{
    const QPoint topRight = geometry().topRight();
    settingWidget->move(topRight.x() + 15, topRight.y());
}

bool OverlayTuner::event(QEvent *event)
{
    if (event->type() == QEvent::Move)
        placeSettingPanel();
    return QWidget::event(event);
}

void OverlayTuner::keyPressEvent(QKeyEvent *event)
{
    // Auto Align owns the camera while it runs.
    if (aligning)
        return;
    const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const int key = event->key();

    // Every key stops here; the rules are tried in order, Ctrl before Shift.
    if (ctrl && key == Qt::Key_Left)
        emit signalHorScaleChanged(-1);
    else if (ctrl && key == Qt::Key_Right)
        emit signalHorScaleChanged(1);
    else if (ctrl && key == Qt::Key_Up)
        emit signalVerScaleChanged(1);
    else if (ctrl && key == Qt::Key_Down)
        emit signalVerScaleChanged(-1);
    else if (shift && key == Qt::Key_Up)
        emit signalDistanceChanged(1);
    else if (shift && key == Qt::Key_Down)
        emit signalDistanceChanged(-1);
    else if (key == Qt::Key_Left)
        emit signalHorShiftChanged(-1);
    else if (key == Qt::Key_Right)
        emit signalHorShiftChanged(1);
    else if (key == Qt::Key_Up)
        emit signalVerShiftChanged(1);
    else if (key == Qt::Key_Down)
        emit signalVerShiftChanged(-1);
}

void OverlayTuner::closeEvent(QCloseEvent *event)
{
    finishAlignRun();
    alignDialog->hide();
    if (cameraLink->loginId() >= 0)
        onCameralDisonnect();
    event->accept();
}

void OverlayTuner::onFusionStateChanged(int state)
{
    if (state != 0)
        placeSettingPanel();
    const BusyCursor busy;
    ISAPIInteract::getInstance()->setFusionSwitch(state != 0 ? 1 : 2, cameraLink->loginId());
}

void OverlayTuner::onAboutDlg()
{
    AboutDialog dialog(this);
    dialog.exec();
}

void OverlayTuner::onFindCameras()
{
    FindCamerasDialog finder(this);
    if (finder.exec() != QDialog::Accepted)
        return;
    // The ordinary connect follows, with the camera's address typed in for
    // the user; config.ini changes only once its login succeeds.
    const DiscoveredCamera camera = finder.chosenCamera();
    connectWidget->presetAddress(camera.address, camera.port);
    onCameralConnect();
}

void OverlayTuner::onCameralConnect()
{
    if (connectWidget->exec() != QDialog::Accepted)
        return;

    QString ip;
    int port = 0;
    QString userName;
    QString passwd;
    connectWidget->getLoginParams(ip, port, userName, passwd);

    BusyCursor busy;
    const int code = cameraLink->login(ip, port, userName, passwd);
    if (code != 0) {
        busy.release();
        QMessageBox::critical(this, tr("Warn"), tr("Connect is failed. Error:%1").arg(code));
        return;
    }

    ui.actionConnect->setEnabled(false);
    ui.actionFindCameras->setEnabled(false);

    const QList<WId> windows = centerWidget->previewWindowIds();
    int channel = 1;
    for (const WId window : windows) {
        if (!cameraLink->realPlay(window, channel)) {
            const int error = CamNet_GetLastError();
            busy.release();
            QMessageBox::critical(this, tr("Warn"),
                                  tr("[Channel %1] RealPlay failed [%2].").arg(channel).arg(error));
            busy.acquire();
        }
        ++channel;
    }

    statusWidget->setConnectionText(tr("%1 Connected").arg(ip));

    ConfigParams params;
    params.ip = ip;
    params.userName = userName;
    params.passwd = passwd;
    params.port = port;
    writeConfigParams(params);

    const bool fusion = ISAPIInteract::getInstance()->getFusionSwitch(cameraLink->loginId());
    statusWidget->setFusionEnabled(true);
    statusWidget->setFusionOn(fusion);

    settingWidget->loadSettingParamsFromCamera(cameraLink->loginId());
    settingWidget->show();
    alignCamera->reset();
    setCalibrationEnabled(true);
}

void OverlayTuner::onCameralDisonnect()
{
    finishAlignRun();
    alignDialog->hide();
    setCalibrationEnabled(false);
    const BusyCursor busy;
    cameraLink->logout();
    ui.actionConnect->setEnabled(true);
    ui.actionFindCameras->setEnabled(true);
    statusWidget->setFusionEnabled(false);
    statusWidget->setFusionOn(false);
    settingWidget->hide();
    statusWidget->setConnectionText(tr("Disconnected"));
}

void OverlayTuner::setCalibrationEnabled(bool enabled)
{
    ui.actionAutoAlign->setEnabled(enabled);
    ui.actionRevertCalibration->setEnabled(enabled);
}

void OverlayTuner::onAutoAlign()
{
    alignDialog->present();
}

void OverlayTuner::onRevertCalibration()
{
    const int status = settingWidget->writeSettingParams(settingWidget->connectParams());
    if (status == 1)
        return;
    const QString reason = status == -1
                               ? tr("The camera could not be reached (error %1).")
                                     .arg(ISAPIInteract::getInstance()->lastError())
                               : tr("The camera refused the calibration (status %1).").arg(status);
    QMessageBox::critical(
        this, tr("Warn"),
        tr("The calibration read at the connect could not be written back. %1").arg(reason));
}

void OverlayTuner::onAlignRunningChanged(bool running)
{
    // The run writes the camera through the panel and the status strip; the
    // technician's own ways to the camera wait until it has ended.
    aligning = running;
    ui.menuCamera->menuAction()->setEnabled(!running);
    ui.menuCalibration->menuAction()->setEnabled(!running);
    settingWidget->setEnabled(!running);
    statusWidget->setFusionEnabled(!running && cameraLink->loginId() >= 0);
}

void OverlayTuner::finishAlignRun()
{
    if (!aligning)
        return;
    // The run puts the camera back before it ends, so the login must stay
    // open until then; the window keeps drawing meanwhile.
    QEventLoop loop;
    connect(aligner, &AutoAligner::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(alignStopWaitMs, &loop, &QEventLoop::quit);
    aligner->cancel();
    if (aligning)
        loop.exec();
    if (aligning)
        qWarning("Auto Align did not end within %d ms of being cancelled", alignStopWaitMs);
}
