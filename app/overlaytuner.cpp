#include "overlaytuner.h"

#include <QCloseEvent>
#include <QKeyEvent>

OverlayTuner::OverlayTuner(QWidget *parent) : QMainWindow(parent)
{
    ui.setupUi(this);
    setFocusPolicy(Qt::StrongFocus);
}

OverlayTuner::~OverlayTuner() = default;

bool OverlayTuner::event(QEvent *event)
{
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
    event->accept();
}
