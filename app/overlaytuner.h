// The tool's main window: menus, status bar and the arrow-key shortcuts that
// step the five calibration values; it wires the connection dialog, the
// previews, the status strip and the setting panel together and runs the
// connect and disconnect flow, and keeps the camera to Auto Align while it
// runs.
#ifndef OVERLAYTUNER_H
#define OVERLAYTUNER_H

#include "ui_overlaytuner.h"

#include <QMainWindow>

#include <memory>

class AutoAlignDialog;
class AutoAligner;
class CameraConnectWidget;
class CameralInteract;
class CenterWidget;
class LiveAlignCamera;
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
    void onFindCameras();
    void onCameralDisonnect();
    void onAboutDlg();
    void onAutoAlign();
    void onRevertCalibration();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onFusionStateChanged(int state);
    void placeSettingPanel();
    void setCalibrationEnabled(bool enabled);
    void onAlignRunningChanged(bool running);
    void finishAlignRun();

    Ui::OverlayTunerClass ui;
    CameraConnectWidget *connectWidget = nullptr;
    CameralInteract *cameraLink = nullptr;
    CenterWidget *centerWidget = nullptr;
    StatusBarInsertWidget *statusWidget = nullptr;
    SettingWidget *settingWidget = nullptr;
    std::unique_ptr<LiveAlignCamera> alignCamera;
    AutoAligner *aligner = nullptr;
    AutoAlignDialog *alignDialog = nullptr;
    bool aligning = false;
};

#endif // OVERLAYTUNER_H
