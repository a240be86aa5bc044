#include "statusbarinsertwidget.h"
#include "ui_statusbarinsertwidget.h"

#include <QKeyEvent>

StatusBarInsertWidget::StatusBarInsertWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::StatusBarInsertWidget)
{
    ui->setupUi(this);
    ui->fusionONCheckBox->setEnabled(false);
    ui->fusionONCheckBox->installEventFilter(this);
    connect(ui->fusionONCheckBox, &QCheckBox::stateChanged, this,
            &StatusBarInsertWidget::signalONFusion);
}

StatusBarInsertWidget::~StatusBarInsertWidget()
{
    delete ui;
}

void StatusBarInsertWidget::setConnectionText(const QString &text)
{
    ui->label->setText(text);
}

void StatusBarInsertWidget::setFusionEnabled(bool enabled)
{
    ui->fusionONCheckBox->setEnabled(enabled);
}

void StatusBarInsertWidget::setFusionOn(bool on)
{
    ui->fusionONCheckBox->setChecked(on);
}

bool StatusBarInsertWidget::eventFilter(QObject *watched, QEvent *event)
{
    // A click leaves the keyboard focus on the box, which would spend the
    // next arrow key on moving the focus on. The arrow keys are the window's
    // calibration shortcuts, so they go up to it unhandled; Space stays
    // with the box.
    if (watched == ui->fusionONCheckBox && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
            event->ignore();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
