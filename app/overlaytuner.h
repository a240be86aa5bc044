// The tool's main window: menus, status bar and the arrow-key shortcuts that
// step the five calibration values; it wires the connection dialog, the
// previews, the status strip and the setting panel together and runs the
// connect and disconnect flow.
#ifndef OVERLAYTUNER_H
#define OVERLAYTUNER_H

#include "ui_overlaytuner.h"

#include <QMainWindow>

class CameraConnectWidget;
class CameralInteract;
class CenterWidget;
class SettingWidget;
class StatusBarInsertWidget;

class OverlayTuner : public QMainWindow
{
    Q_OBJECT

public:
    explicit OverlayTuner(QWidget *parent = nullptr);
    ~OverlayTuner() override;

signals:
    void signalHorScaleChanged(int step);
    void signalVerScaleChanged(int step);
    void signalHorShiftChanged(int step);
    void signalVerShiftChanged(int step);
    void signalDistanceChanged(int step);

private slots:
    void onCameralConnect();
    void onCameralDisonnect();
    void onAboutDlg();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onFusionStateChanged(int state);
    void placeSettingPanel();

    Ui::OverlayTunerClass ui;
    CameraConnectWidget *connectWidget = nullptr;
    CameralInteract *cameraLink = nullptr;
    CenterWidget *centerWidget = nullptr;
    StatusBarInsertWidget *statusWidget = nullptr;
    SettingWidget *settingWidget = nullptr;
};

#endif // OVERLAYTUNER_H
