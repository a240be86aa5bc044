// Auto Align: measures how far the camera's thermal overlay is off and steps
// the calibration until it sits, keeping the distance level the technician
// chose. It learns how this camera answers each value by probing, so no gain,
// sign or scale centre is assumed. Camera calls stay on the GUI thread; the
// picture analysis runs on a worker thread so the window keeps drawing.
// Whatever the end (cancel, refusal, failure), the five values and the
// fusion switch are put back as they were, unless the camera was lost.
#ifndef AUTOALIGNER_H
#define AUTOALIGNER_H

#include "aligncamera.h"

#include <QObject>
#include <QRect>
#include <QString>

#include <memory>

class AlignRun;

class AutoAligner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Aligned,   // the residual is as small as the camera's steps allow
        Cancelled, // restored
        Refused,   // the pictures cannot be registered; restored
        Failed     // the camera refused or was lost; restored where it could be
    };
    Q_ENUM(Outcome)

    struct Options
    {
        // A rectangle of channel 1's picture around the distance that
        // matters; empty for the whole picture.
        QRect region;
        // Calibration writes at most, probes and corrections together.
        int writeBudget = 25;
    };

    explicit AutoAligner(AlignCamera *camera, QObject *parent = nullptr);
    ~AutoAligner() override;

    void start(const Options &options);
    // Stops at the next step, restores the camera, then emits finished().
    void cancel();
    bool isRunning() const;

    // Calibration writes made by the current or last run, restores included.
    int writes() const;

signals:
    void progressChanged(int percent, const QString &stage);
    // The residual in channel-1 pixels, and the best the camera's integer
    // steps allow as far as learnt (NaN until known).
    void residualChanged(double residualPx, double floorPx);
    void finished(AutoAligner::Outcome outcome, const QString &message);

private:
    AlignCamera *const m_camera;
    std::unique_ptr<AlignRun> m_run;
    int m_writes = 0;
};

#endif // AUTOALIGNER_H
