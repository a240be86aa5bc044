// The Auto Align window: a still of channel 1 to mark the distance that
// matters on, the run's progress and residual, and its outcome. It only
// drives the aligner; the main window keeps the camera to the run meanwhile.
#ifndef AUTOALIGNDIALOG_H
#define AUTOALIGNDIALOG_H

#include "autoaligner.h"

#include <QDialog>

class AlignCamera;

namespace Ui {
class AutoAlignDialog;
}

class AutoAlignDialog : public QDialog
{
    Q_OBJECT

public:
    AutoAlignDialog(AutoAligner *aligner, AlignCamera *camera, QWidget *parent = nullptr);
    ~AutoAlignDialog() override;

    // Takes a fresh still of channel 1, forgets the last run's texts and
    // shows the window.
    void present();

    static QString outcomeText(AutoAligner::Outcome outcome, const QString &message);

signals:
    void runningChanged(bool running);

public slots:
    void reject() override;

private:
    void capture();
    void onStart();
    void onCancel();
    void onRegionChanged(const QRect &region);
    void onProgress(int percent, const QString &stage);
    void onResidual(double residualPx, double floorPx);
    void onFinished(AutoAligner::Outcome outcome, const QString &message);
    void setRunning(bool running);

    Ui::AutoAlignDialog *ui;
    AutoAligner *const m_aligner;
    AlignCamera *const m_camera;
    bool m_running = false;
};

#endif // AUTOALIGNDIALOG_H
