#include "autoaligndialog.h"
#include "ui_autoaligndialog.h"

#include "aligncamera.h"
#include "busycursor.h"
#include "camnetsdk.h"

#include <cmath>

AutoAlignDialog::AutoAlignDialog(AutoAligner *aligner, AlignCamera *camera, QWidget *parent)
    : QDialog(parent), ui(new Ui::AutoAlignDialog), m_aligner(aligner), m_camera(camera)
{
    ui->setupUi(this);
    ui->alignProgressBar->setRange(0, 100);

    connect(ui->startButton, &QPushButton::clicked, this, &AutoAlignDialog::onStart);
    connect(ui->cancelButton, &QPushButton::clicked, this, &AutoAlignDialog::onCancel);
    connect(ui->clearRegionButton, &QPushButton::clicked, ui->regionSelector,
            &RegionSelector::clearRegion);
    connect(ui->regionSelector, &RegionSelector::regionChanged, this,
            &AutoAlignDialog::onRegionChanged);
    connect(m_aligner, &AutoAligner::progressChanged, this, &AutoAlignDialog::onProgress);
    connect(m_aligner, &AutoAligner::residualChanged, this, &AutoAlignDialog::onResidual);
    connect(m_aligner, &AutoAligner::finished, this, &AutoAlignDialog::onFinished);
    onRegionChanged(QRect());
}

AutoAlignDialog::~AutoAlignDialog()
{
    delete ui;
}

void AutoAlignDialog::present()
{
    if (!m_running) {
        capture();
        ui->alignProgressBar->setValue(0);
        ui->stageLabel->clear();
        ui->residualLabel->clear();
        ui->messageLabel->clear();
    }
    show();
    raise();
    activateWindow();
}

void AutoAlignDialog::capture()
{
    AlignCamera::Picture picture;
    BusyCursor busy;
    const int error = m_camera->capturePicture(1, &picture);
    busy.release();
    if (error == 0 && !picture.image.isNull()) {
        ui->regionSelector->setPicture(picture.image);
    } else if (error == CAMNET_ERR_NO_PICTURE) {
        ui->regionSelector->setPicture(
            QImage(), tr("Channel 1 has shown no picture yet; the whole picture will be used."));
    } else {
        ui->regionSelector->setPicture(
            QImage(), tr("No still of channel 1 could be taken (error %1); the whole picture "
                         "will be used.")
                          .arg(error));
    }
    ui->clearRegionButton->setEnabled(!ui->regionSelector->picture().isNull());
}

void AutoAlignDialog::onStart()
{
    if (m_running || m_aligner->isRunning())
        return;
    AutoAligner::Options options;
    options.region = ui->regionSelector->region();
    ui->alignProgressBar->setValue(0);
    ui->stageLabel->setText(tr("Starting…"));
    ui->residualLabel->clear();
    ui->messageLabel->clear();
    setRunning(true);
    m_aligner->start(options);
}

void AutoAlignDialog::onCancel()
{
    if (m_running) {
        ui->stageLabel->setText(tr("Cancelling: the calibration is being put back…"));
        m_aligner->cancel();
        return;
    }
    close();
}

void AutoAlignDialog::reject()
{
    // Escape or the window's close button during a run cancels it; the window
    // stays until the camera has been put back.
    if (m_running) {
        onCancel();
        return;
    }
    QDialog::reject();
}

void AutoAlignDialog::onRegionChanged(const QRect &region)
{
    if (region.isEmpty())
        ui->regionLabel->setText(tr("Whole picture"));
    else
        ui->regionLabel->setText(tr("Region: %1 x %2 px at (%3, %4)")
                                     .arg(region.width())
                                     .arg(region.height())
                                     .arg(region.x())
                                     .arg(region.y()));
}

void AutoAlignDialog::onProgress(int percent, const QString &stage)
{
    ui->alignProgressBar->setValue(qBound(0, percent, 100));
    ui->stageLabel->setText(stage);
}

void AutoAlignDialog::onResidual(double residualPx, double floorPx)
{
    if (std::isnan(floorPx))
        ui->residualLabel->setText(
            tr("Residual: %1 px (best possible: not known yet)").arg(residualPx, 0, 'f', 2));
    else
        ui->residualLabel->setText(tr("Residual: %1 px (best possible: %2 px)")
                                       .arg(residualPx, 0, 'f', 2)
                                       .arg(floorPx, 0, 'f', 2));
}

QString AutoAlignDialog::outcomeText(AutoAligner::Outcome outcome, const QString &message)
{
    QString heading;
    switch (outcome) {
    case AutoAligner::Outcome::Aligned:
        heading = tr("Result: aligned.");
        break;
    case AutoAligner::Outcome::Refused:
        heading = tr("Result: not aligned, the pictures cannot be registered; the calibration "
                     "was put back.");
        break;
    case AutoAligner::Outcome::Cancelled:
        heading = tr("Result: cancelled; the calibration was put back.");
        break;
    case AutoAligner::Outcome::Failed:
        heading = tr("Result: failed, the camera refused a value or could not be reached.");
        break;
    }
    return message.isEmpty() ? heading : heading + QLatin1Char('\n') + message;
}

void AutoAlignDialog::onFinished(AutoAligner::Outcome outcome, const QString &message)
{
    if (outcome == AutoAligner::Outcome::Aligned)
        ui->alignProgressBar->setValue(100);
    ui->stageLabel->clear();
    ui->messageLabel->setText(outcomeText(outcome, message));
    setRunning(false);
}

void AutoAlignDialog::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    ui->startButton->setEnabled(!running);
    ui->clearRegionButton->setEnabled(!running && !ui->regionSelector->picture().isNull());
    ui->regionSelector->setEnabled(!running);
    emit runningChanged(running);
}
