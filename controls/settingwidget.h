// The floating panel with one spin box per calibration value. The boxes are
// the only copy of the values; every finished edit, every shortcut step and
// every write made for the tool (Auto Align, Revert Calibration) writes all
// five to the camera, so the panel always shows what was written last.
#ifndef SETTINGWIDGET_H
#define SETTINGWIDGET_H

#include "calibrationxml.h"

#include <QFrame>

class QSpinBox;

namespace Ui {
class SettingWidget;
}

class SettingWidget : public QFrame
{
    Q_OBJECT

public:
    explicit SettingWidget(QWidget *parent = nullptr);
    ~SettingWidget() override;

    void loadSettingParamsFromCamera(int loginId);

    // The values as the boxes hold them, and the boxes' ranges.
    SettingParams settingParams() const;
    SettingParamsCap settingRanges() const;
    // The values read by the latest loadSettingParamsFromCamera.
    SettingParams connectParams() const { return m_connectParams; }

    // Shows params in the boxes (each bounded by its range) and writes all
    // five as one document: setFusionCalibration's status code, 1 when the
    // camera accepted them, -1 when the SDK failed (ISAPIInteract::lastError).
    int writeSettingParams(const SettingParams &params);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void onSendSettingParams2Camera();
    void onSetDistanceVal(int val);
    void onSetHorShiftVal(int val);
    void onSetVerShiftVal(int val);
    void onSetHorScaleVal(int val);
    void onSetVerScaleVal(int val);

private:
    // The main window feeds its shortcut signals into the step slots.
    friend class OverlayTuner;

    void onBoxEditingFinished();
    void stepAndSend(QSpinBox *box, int val);
    int sendBoxes();
    void fitWidth();

    Ui::SettingWidget *ui;
    SettingParams m_connectParams;
};

#endif // SETTINGWIDGET_H
