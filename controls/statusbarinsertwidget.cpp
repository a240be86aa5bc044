#include "statusbarinsertwidget.h"
#include "ui_statusbarinsertwidget.h"

StatusBarInsertWidget::StatusBarInsertWidget(QWidget *parent)
    : QWidget(parent), ui(new Ui::StatusBarInsertWidget)
{
    ui->setupUi(this);
    ui->fusionONCheckBox->setEnabled(false);
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
