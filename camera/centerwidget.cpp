#include "centerwidget.h"
#include "ui_centerwidget.h"

CenterWidget::CenterWidget(QWidget *parent) : QWidget(parent), ui(new Ui::CenterWidget)
{
    ui->setupUi(this);
    // Asking for the ids gives each frame a native window of its own, which is
    // what the SDK draws into.
    previewWindows.append(ui->previewFrame1->winId());
    previewWindows.append(ui->previewFrame2->winId());
}

CenterWidget::~CenterWidget()
{
    delete ui;
}

QList<WId> CenterWidget::previewWindowIds() const
{
    return previewWindows;
}
