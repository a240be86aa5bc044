// One run of Auto Align: the worker thread that measures and decides, and
// the bridge that has every camera call made on the GUI thread, where the
// object itself lives. Its signals are emitted on the GUI thread. Deleting
// it abandons the run at its next step (nothing more reaches the camera) and
// waits for the worker.
#ifndef ALIGNRUN_H
#define ALIGNRUN_H

#include "aligncamera.h"
#include "autoaligner.h"
#include "calibrationsolver.h"
#include "overlaymap.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <opencv2/core.hpp>

class AlignRun : public QObject
{
    Q_OBJECT

public:
    AlignRun(AlignCamera *camera, const AutoAligner::Options &options);
    ~AlignRun() override;

    void start();
    void cancel() { m_cancelled = true; }
    bool isRunning() const { return m_running; }
    void join();

signals:
    void progressChanged(int percent, const QString &stage);
    void residualChanged(double residualPx, double floorPx);
    void wrote();
    void finished(AutoAligner::Outcome outcome, const QString &message);

private:
    // Why a run stops before its end; None while it goes on.
    struct Stop
    {
        AutoAligner::Outcome outcome = AutoAligner::Outcome::Aligned;
        QString message;
        bool lost = false; // the camera is gone: nothing more is written
    };

    // Pictures of one channel, as the analysis takes them.
    struct Frame
    {
        cv::Mat image; // CV_8UC4, owns its pixels
        quint32 frameNumber = 0;
        quint64 decodedAtUs = 0;
    };

    void work();
    bool align();
    void restore();
    void report(int percent, const QString &stage);

    // Runs f on the GUI thread and waits for it; false once abandoned.
    bool onGui(const std::function<void()> &f);
    bool stopping() const;

    // Camera steps, each ending the run with m_stop set when it fails.
    bool setFusion(bool on);
    bool write(const SettingParams &values);
    bool nextFrame(int channel, quint64 after, Frame *frame);
    bool lostCamera();
    void refuse(const QString &why);
    void showResidual(const CalibrationSolver &solver, double floorPx);

    // Picture steps.
    bool lookWithoutOverlay();
    // False after a refusal, or, when `retry` is given, after a split
    // between depths that a second set of pictures is to confirm first.
    bool estimateTarget(const Frame visible[], const Frame thermal[], bool *retry = nullptr);
    // The overlay's map on pictures made after a write has shown, starting
    // from where it should be; `expectMove` when the write moves it by an
    // amount not known yet.
    bool measureSettled(const OverlayMap &predicted, quint64 writtenAtUs, bool expectMove,
                        OverlayMap *map);
    bool probe(CalibrationSolver &solver, bool bias);
    bool correct(CalibrationSolver &solver);

    AlignCamera *const m_camera;
    const AutoAligner::Options m_options;
    QObject m_bridge; // context of the calls queued to the GUI thread

    std::thread m_worker;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_abandoned = false;

    // Touched by the worker only.
    Stop m_stop;
    bool m_stopped = false;
    SettingParams m_original;
    SettingParamsCap m_ranges;
    bool m_originalFusion = false;
    bool m_fusionTouched = false;
    SettingParams m_values;
    int m_writes = 0;
    cv::Mat m_visible, m_visibleMask, m_thermal, m_thermalMask;
    QRectF m_region;
    bool m_wideSearch = false; // the first measurement, from no prediction
    OverlayMap m_target;
    OverlayMap m_current;
    double m_residual = 0;
    quint64 m_frameUs = 40000;   // between pictures, as seen
    quint64 m_settleUs = 0;      // from a write to the first picture showing it
    quint32 m_lastFrame[3] = {}; // per channel
    SettingParams m_best;
    double m_bestResidual = -1;
};

#endif // ALIGNRUN_H
