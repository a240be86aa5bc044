#include "overlaytuner.h"

#include "aboutdialog.h"
#include "busycursor.h"
#include "cameraconnectwidget.h"
#include "cameralinteract.h"
#include "camnetsdk.h"
#include "centerwidget.h"
#include "configparams.h"
#include "isapiinteract.h"
#include "settingwidget.h"
#include "statusbarinsertwidget.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>

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

    connect(ui.actionConnect, &QAction::triggered, this, &OverlayTuner::onCameralConnect);
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

OverlayTuner::~OverlayTuner() = default;

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
}

void OverlayTuner::onCameralDisonnect()
{
    const BusyCursor busy;
    cameraLink->logout();
    ui.actionConnect->setEnabled(true);
    statusWidget->setFusionEnabled(false);
    statusWidget->setFusionOn(false);
    settingWidget->hide();
    statusWidget->setConnectionText(tr("Disconnected"));
}
