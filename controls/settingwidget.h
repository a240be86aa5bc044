// The floating panel with one spin box per calibration value. The boxes are
// the only copy of the values; every finished edit and every shortcut step
// writes all five to the camera.
#ifndef SETTINGWIDGET_H
#define SETTINGWIDGET_H

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

    void stepAndSend(QSpinBox *box, int val);

    Ui::SettingWidget *ui;
};

#endif // SETTINGWIDGET_H
