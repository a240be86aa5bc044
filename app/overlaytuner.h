// The tool's main window: menus, status bar and the arrow-key shortcuts that
// step the five calibration values.
#ifndef OVERLAYTUNER_H
#define OVERLAYTUNER_H

#include "ui_overlaytuner.h"

#include <QMainWindow>

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

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::OverlayTunerClass ui;
};

#endif // OVERLAYTUNER_H
