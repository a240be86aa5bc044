#include "alignrun.h"

#include "camnetsdk.h"
#include "layerlocator.h"
#include "osdmask.h"
#include "structurecheck.h"
#include "targetestimator.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

// How long a channel may send no new picture before it counts as frozen.
constexpr quint64 frozenAfterUs = 3000000;
// Polling the newest picture this often costs a copy each time; a picture
// interval is 40 ms at 25 fps.
constexpr auto pollInterval = std::chrono::milliseconds(8);
// Two measurements of an unchanged overlay agree to within this (pixels);
// the same-modality fit is good to a few hundredths.
constexpr double settledPx = 0.15;
// A write that should move the overlay by this much must show before its
// measurement is believed, so that a picture made before the write is never
// taken for its result.
constexpr double visibleMovePx = 1.0;
// Pictures a write may take to show, at most.
constexpr quint64 settleTimeoutUs = 4000000;
// Probes: steps of each value, and how far a probe must move the overlay to
// be measured to a few per cent.
constexpr int probeSteps = 4;
constexpr double probeMovePx = 2.0;
constexpr int maxProbeSteps = 32;
// How far the first measurement looks from where the overlay must go.
constexpr double wideSearchScale = 0.18;
constexpr double wideSearchPx = 120;
// Pictures let pass after fusion is switched off.
constexpr int offSettleFrames = 3;
// Pictures of both channels the target is fitted on, and how close each
// fit lies to their mean (px).
constexpr int targetPictures = 4;
constexpr double agreementPx = 0.5;
// A residual that fell by less than this share did not fall.
constexpr double fallingShare = 0.05;

quint64 monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 1000000u + quint64(ts.tv_nsec) / 1000u;
}

bool sameValues(const SettingParams &a, const SettingParams &b)
{
    return a.distanceLevel == b.distanceLevel && a.horShift == b.horShift &&
           a.verShift == b.verShift && a.horScale == b.horScale && a.verScale == b.verScale;
}

QString refusalText(RegistrationRefusal refusal)
{
    switch (refusal) {
    case RegistrationRefusal::MissingPicture:
        return AutoAligner::tr("A channel shows a black or flat picture.");
    case RegistrationRefusal::FrozenStream:
        return AutoAligner::tr("A channel's picture does not change: its stream is frozen.");
    case RegistrationRefusal::FeaturelessThermal:
        return AutoAligner::tr("The thermal picture has too little structure to register (a "
                               "scene at one temperature).");
    case RegistrationRefusal::FeaturelessVisible:
        return AutoAligner::tr("The visible picture has too little structure to register.");
    case RegistrationRefusal::NoLayer:
        return AutoAligner::tr("Switching fusion on does not show the thermal picture in "
                               "channel 1.");
    case RegistrationRefusal::NoMatch:
        return AutoAligner::tr("No shift or scale makes the two pictures agree.");
    case RegistrationRefusal::TilesDisagree:
        return AutoAligner::tr("Parts of the picture lie at different distances and none "
                               "dominates: draw a region around the distance that matters.");
    case RegistrationRefusal::NotConverged:
        return AutoAligner::tr("The fit of the pictures did not converge.");
    case RegistrationRefusal::BadInput:
    case RegistrationRefusal::None:
        break;
    }
    return AutoAligner::tr("The pictures cannot be compared.");
}

} // namespace

AlignRun::AlignRun(AlignCamera *camera, const AutoAligner::Options &options)
    : m_camera(camera), m_options(options)
{
}

AlignRun::~AlignRun()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_abandoned = true;
    }
    m_cancelled = true;
    m_changed.notify_all();
    join();
}

void AlignRun::start()
{
    m_running = true;
    m_worker = std::thread([this] { work(); });
}

void AlignRun::join()
{
    if (m_worker.joinable())
        m_worker.join();
}

bool AlignRun::onGui(const std::function<void()> &f)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_abandoned)
        return false;
    bool done = false;
    // Queued to the bridge, which dies with this object: a call still
    // queued then is dropped, never run against a run that is gone.
    QMetaObject::invokeMethod(
        &m_bridge,
        [this, &f, &done] {
            f();
            {
                std::lock_guard<std::mutex> inner(m_mutex);
                done = true;
            }
            m_changed.notify_all();
        },
        Qt::QueuedConnection);
    m_changed.wait(lock, [&] { return done || m_abandoned; });
    return done;
}

bool AlignRun::stopping() const
{
    return m_stopped || m_cancelled;
}

void AlignRun::report(int percent, const QString &stage)
{
    QMetaObject::invokeMethod(
        &m_bridge, [this, percent, stage] { emit progressChanged(percent, stage); },
        Qt::QueuedConnection);
}

void AlignRun::work()
{
    const bool aligned = align();
    if (!aligned && !m_stopped && m_cancelled) {
        m_stop.outcome = AutoAligner::Outcome::Cancelled;
        m_stop.message = AutoAligner::tr("Cancelled. The calibration and the fusion switch are "
                                         "as they were before Auto Align.");
    }
    restore();
    const AutoAligner::Outcome outcome = m_stop.outcome;
    const QString message = m_stop.message;
    QMetaObject::invokeMethod(
        &m_bridge,
        [this, outcome, message] {
            m_running = false;
            emit finished(outcome, message);
        },
        Qt::QueuedConnection);
}

bool AlignRun::align()
{
    bool fusion = false;
    if (!onGui([&] {
            m_original = m_camera->calibration();
            m_ranges = m_camera->calibrationRanges();
            fusion = m_camera->fusionOn();
        }))
        return false;
    m_values = m_original;
    m_originalFusion = fusion;

    report(2, AutoAligner::tr("Looking at both channels without the overlay"));
    if (!lookWithoutOverlay())
        return false;

    report(20, AutoAligner::tr("Finding the overlay"));
    if (!setFusion(true))
        return false;
    // Where the overlay stands is not known yet; a camera is seldom far from
    // where it must go, so the search starts there, and wide.
    m_wideSearch = true;
    const bool found = measureSettled(m_target, monotonicUs(), false, &m_current);
    m_wideSearch = false;
    if (!found)
        return false;
    CalibrationSolver solver(m_ranges, m_region);
    showResidual(solver, std::numeric_limits<double>::quiet_NaN());

    report(30, AutoAligner::tr("Learning how the camera answers the bias"));
    if (!probe(solver, true))
        return false;
    report(45, AutoAligner::tr("Learning how the camera answers the scale ratio"));
    if (!probe(solver, false))
        return false;
    report(60, AutoAligner::tr("Correcting"));
    return correct(solver);
}

bool AlignRun::setFusion(bool on)
{
    bool ok = false;
    QString error;
    if (!onGui([&] {
            m_fusionTouched = true;
            ok = m_camera->setFusion(on, &error);
        }))
        return false;
    if (!ok) {
        m_stopped = true;
        m_stop.outcome = AutoAligner::Outcome::Failed;
        m_stop.message = AutoAligner::tr("The fusion switch could not be set: %1").arg(error);
        m_stop.lost = lostCamera();
    }
    return ok;
}

bool AlignRun::write(const SettingParams &values)
{
    if (m_writes >= m_options.writeBudget)
        return false;
    bool ok = false;
    QString error;
    if (!onGui([&] { ok = m_camera->writeCalibration(values, &error); }))
        return false;
    ++m_writes;
    QMetaObject::invokeMethod(
        &m_bridge, [this] { emit wrote(); }, Qt::QueuedConnection);
    if (!ok) {
        m_stopped = true;
        m_stop.outcome = AutoAligner::Outcome::Failed;
        m_stop.message = AutoAligner::tr("The camera did not take the calibration: %1").arg(error);
        m_stop.lost = lostCamera();
        return false;
    }
    m_values = values;
    return true;
}

bool AlignRun::lostCamera()
{
    bool lost = true;
    onGui([&] { lost = m_camera->lost(); });
    return lost;
}

void AlignRun::refuse(const QString &why)
{
    m_stopped = true;
    m_stop.outcome = AutoAligner::Outcome::Refused;
    m_stop.message = why;
}

bool AlignRun::nextFrame(int channel, quint64 after, Frame *frame)
{
    const quint64 since = monotonicUs();
    int error = 0;
    while (!stopping()) {
        AlignCamera::Picture picture;
        if (!onGui([&] { error = m_camera->capturePicture(channel, &picture); }))
            return false;
        if (error == 0 && picture.frameNumber != m_lastFrame[channel] &&
            picture.decodedAtUs > after) {
            m_lastFrame[channel] = picture.frameNumber;
            const QImage image = picture.image.convertToFormat(QImage::Format_RGB32);
            frame->image =
                cv::Mat(image.height(), image.width(), CV_8UC4,
                        const_cast<uchar *>(image.constBits()), size_t(image.bytesPerLine()))
                    .clone();
            frame->frameNumber = picture.frameNumber;
            frame->decodedAtUs = picture.decodedAtUs;
            return true;
        }
        if (error != 0 && error != CAMNET_ERR_NO_PICTURE) {
            refuse(
                AutoAligner::tr("Channel %1 shows no picture (error %2).").arg(channel).arg(error));
            return false;
        }
        if (monotonicUs() - since > frozenAfterUs) {
            refuse(AutoAligner::tr("Channel %1 sends no new pictures: its stream is frozen or "
                                   "missing.")
                       .arg(channel));
            return false;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    return false;
}

bool AlignRun::lookWithoutOverlay()
{
    if (!setFusion(false))
        return false;
    // Pictures made after the switch; a few are let pass, as a camera may
    // take some to drop the overlay.
    const quint64 switchedAt = monotonicUs();
    Frame visible[targetPictures], thermal[targetPictures];
    for (int skip = 0; skip < offSettleFrames; ++skip) {
        if (!nextFrame(1, switchedAt, &visible[0]))
            return false;
    }
    for (int i = 0; i < targetPictures; ++i) {
        if ((i > 0 && !nextFrame(1, switchedAt, &visible[i])) ||
            !nextFrame(2, switchedAt, &thermal[i]))
            return false;
    }
    m_region = m_options.region.isEmpty()
                   ? QRectF(0, 0, visible[0].image.cols, visible[0].image.rows)
                   : QRectF(m_options.region);
    OsdMask::Pictures pictures;
    pictures.channel1First = visible[0].image;
    pictures.channel1Second = visible[1].image;
    pictures.channel2First = thermal[0].image;
    pictures.channel2Second = thermal[1].image;
    const OsdMask::Masks masks = OsdMask::build(pictures);
    if (!masks.valid) {
        refuse(refusalText(RegistrationRefusal::BadInput));
        return false;
    }
    m_visible = visible[1].image;
    m_thermal = thermal[1].image;
    m_visibleMask = masks.channel1;
    m_thermalMask = masks.channel2;
    const StructureCheck::Result seen[] = {
        StructureCheck::checkLive(visible[0].image, visible[1].image, masks.channel1,
                                  StructureCheck::Channel::Visible),
        StructureCheck::checkLive(thermal[0].image, thermal[1].image, masks.channel2,
                                  StructureCheck::Channel::Thermal)};
    for (const StructureCheck::Result &r : seen) {
        if (r.refusal != RegistrationRefusal::None) {
            refuse(refusalText(r.refusal));
            return false;
        }
    }
    report(8, AutoAligner::tr("Finding where the overlay must go"));
    bool retry = false;
    if (estimateTarget(visible, thermal, &retry))
        return true;
    if (!retry)
        return false;
    // Noise now and then splits one picture's tiles; a scene at several
    // depths splits the next pictures again.
    const quint64 againAt = monotonicUs();
    for (int i = 0; i < targetPictures; ++i) {
        if (!nextFrame(1, againAt, &visible[i]) || !nextFrame(2, againAt, &thermal[i]))
            return false;
    }
    return estimateTarget(visible, thermal);
}

bool AlignRun::estimateTarget(const Frame visible[], const Frame thermal[], bool *retry)
{
    OverlayMap fits[targetPictures];
    for (int i = 0; i < targetPictures; ++i) {
        TargetEstimator::Input in;
        in.visible = visible[i].image;
        in.thermal = thermal[i].image;
        in.ignore1 = m_visibleMask;
        in.ignore2 = m_thermalMask;
        if (!m_options.region.isEmpty())
            in.region = cv::Rect(m_options.region.x(), m_options.region.y(),
                                 m_options.region.width(), m_options.region.height());
        const TargetEstimator::Result r = TargetEstimator::estimate(in);
        if (stopping())
            return false;
        if (retry && r.refusal == RegistrationRefusal::TilesDisagree) {
            *retry = true;
            return false;
        }
        if (r.refusal != RegistrationRefusal::None) {
            refuse(refusalText(r.refusal));
            return false;
        }
        fits[i] = r.map;
    }
    // Two pairs of pictures of one scene must give one answer.
    // Noise and the scene's own motion move each fit a little; their mean
    // is steadier, and fits far apart mean the pictures cannot tell.
    m_target = OverlayMap{{0, 0}, {0, 0}};
    for (const OverlayMap &fit : fits) {
        m_target.x.scale += fit.x.scale / targetPictures;
        m_target.x.offset += fit.x.offset / targetPictures;
        m_target.y.scale += fit.y.scale / targetPictures;
        m_target.y.offset += fit.y.offset / targetPictures;
    }
    for (const OverlayMap &fit : fits) {
        if (meanDistance(fit, m_target, m_region) > agreementPx) {
            refuse(AutoAligner::tr("The measurements disagree from one picture to the next, so "
                                   "where the overlay must go is not known well enough."));
            return false;
        }
    }
    return true;
}

bool AlignRun::measureSettled(const OverlayMap &predicted, quint64 writtenAtUs, bool expectMove,
                              OverlayMap *map)
{
    // Until the camera's delay is known, a picture counts as showing the
    // write only once the overlay has left where it stood; after that, any
    // picture made that long after the write does.
    const bool learnDelay = expectMove && m_settleUs == 0;
    const bool mustMove =
        learnDelay || meanDistance(predicted, m_current, m_region) >= visibleMovePx;
    OverlayMap previous;
    bool havePrevious = false;
    int misses = 0;
    // Until half the time is up, an overlay that has not appeared or moved
    // yet is waited for; then what the pictures show is what the write did.
    const quint64 patience = writtenAtUs + settleTimeoutUs / 2;
    while (monotonicUs() < writtenAtUs + settleTimeoutUs) {
        Frame fused;
        if (!nextFrame(1, writtenAtUs + m_settleUs, &fused))
            return false;
        LayerLocator::Input in;
        in.fusionOn = fused.image;
        in.fusionOff = m_visible;
        in.channel2 = m_thermal;
        in.ignore1 = m_visibleMask;
        in.ignore2 = m_thermalMask;
        in.predicted = havePrevious ? previous : predicted;
        if (m_wideSearch && !havePrevious) {
            in.searchScale = wideSearchScale;
            in.maximumShift = wideSearchPx;
        }
        const LayerLocator::Result fit = LayerLocator::locate(in);
        if (stopping())
            return false;
        if (fit.refusal != RegistrationRefusal::None) {
            // The overlay may not have appeared yet after the switch.
            havePrevious = false;
            if (monotonicUs() > patience && ++misses > 2) {
                refuse(refusalText(fit.refusal));
                return false;
            }
            continue;
        }
        const bool moved = meanDistance(fit.map, m_current, m_region) >= visibleMovePx / 2;
        if (mustMove && !moved && monotonicUs() < patience) {
            havePrevious = false;
            continue;
        }
        if (havePrevious && meanDistance(fit.map, previous, m_region) < settledPx) {
            if (learnDelay && fused.decodedAtUs > writtenAtUs)
                m_settleUs = std::min<quint64>(fused.decodedAtUs - writtenAtUs, 2000000);
            *map = fit.map;
            return true;
        }
        previous = fit.map;
        havePrevious = true;
    }
    refuse(AutoAligner::tr("The overlay does not stand still after a write, so it cannot be "
                           "measured."));
    return false;
}

bool AlignRun::probe(CalibrationSolver &solver, bool bias)
{
    using Axis = CalibrationSolver::Axis;
    const Axis axes[] = {CalibrationSolver::Horizontal, CalibrationSolver::Vertical};
    int steps[2] = {probeSteps, probeSteps};
    bool pending[2] = {true, true};
    while (pending[0] || pending[1]) {
        SettingParams to = m_values;
        int taken[2] = {0, 0};
        for (Axis axis : axes) {
            if (!pending[axis])
                continue;
            CalibrationSolver::AxisValues v = CalibrationSolver::axisValues(to, axis);
            const CalibrationSolver::AxisRanges r = solver.ranges(axis);
            const int lo = bias ? r.biasMin : r.scaleMin, hi = bias ? r.biasMax : r.scaleMax;
            int &value = bias ? v.bias : v.scale;
            // Towards the side with more room, so that the probe fits.
            const int target = hi - value >= value - lo ? std::min(hi, value + steps[axis])
                                                        : std::max(lo, value - steps[axis]);
            taken[axis] = target - value;
            value = target;
            CalibrationSolver::setAxisValues(&to, axis, v);
        }
        const OverlayMap before = m_current;
        const SettingParams from = m_values;
        const quint64 writtenAt = monotonicUs();
        if (!write(to) ||
            !measureSettled(solver.predict(from, before, to), writtenAt, true, &m_current))
            return false;
        for (Axis axis : axes) {
            if (!pending[axis])
                continue;
            pending[axis] = false;
            if (taken[axis] == 0) {
                refuse(AutoAligner::tr("A calibration value has no room to be tried."));
                return false;
            }
            solver.learnProbe(axis, bias, taken[axis], CalibrationSolver::axisMap(before, axis),
                              CalibrationSolver::axisMap(m_current, axis));
            // A camera with fine steps moves too little in a short probe to
            // be measured to a few per cent: try again, further.
            if (solver.axisMovePx(axis, before, m_current) < probeMovePx &&
                steps[axis] < maxProbeSteps) {
                steps[axis] *= 4;
                pending[axis] = true;
            }
        }
        showResidual(solver, std::numeric_limits<double>::quiet_NaN());
    }
    return true;
}

void AlignRun::showResidual(const CalibrationSolver &solver, double floorPx)
{
    m_residual = solver.residual(m_current, m_target);
    if (m_bestResidual < 0 || m_residual < m_bestResidual) {
        m_bestResidual = m_residual;
        m_best = m_values;
    }
    const double residual = m_residual;
    QMetaObject::invokeMethod(
        &m_bridge, [this, residual, floorPx] { emit residualChanged(residual, floorPx); },
        Qt::QueuedConnection);
}

bool AlignRun::correct(CalibrationSolver &solver)
{
    int stalls = 0;
    double floorPx = std::numeric_limits<double>::quiet_NaN();
    while (!stopping()) {
        const CalibrationSolver::Proposal next = solver.propose(m_values, m_current, m_target);
        floorPx = next.predictedResidual;
        showResidual(solver, floorPx);
        // Nothing the integer steps allow would be better, or the residual
        // is under half the finest step.
        if (sameValues(next.values, m_values) || m_residual < solver.smallestStepPx() / 2)
            break;
        if (m_writes + 1 >= m_options.writeBudget)
            break;
        const OverlayMap before = m_current;
        const SettingParams from = m_values;
        const double residualBefore = m_residual;
        const quint64 writtenAt = monotonicUs();
        if (!write(next.values) || !measureSettled(next.predicted, writtenAt, false, &m_current))
            return false;
        solver.learnMove(from, next.values, before, m_current);
        const double now = solver.residual(m_current, m_target);
        stalls = now > residualBefore * (1 - fallingShare) ? stalls + 1 : 0;
        if (stalls >= 2)
            break;
        const int percent = 60 + std::min(35, 5 * m_writes);
        report(percent, AutoAligner::tr("Correcting"));
    }
    if (stopping())
        return false;
    showResidual(solver, floorPx);
    // The best values measured may lie behind the loop when it ended on a
    // step that did not help.
    if (!sameValues(m_best, m_values) && m_bestResidual < m_residual - 0.05) {
        const quint64 writtenAt = monotonicUs();
        const OverlayMap predicted = solver.predict(m_values, m_current, m_best);
        if (!write(m_best) || !measureSettled(predicted, writtenAt, false, &m_current))
            return false;
        showResidual(solver, floorPx);
    }
    m_stop.outcome = AutoAligner::Outcome::Aligned;
    m_stop.message = AutoAligner::tr("Aligned: the overlay is %1 px off (the camera's steps "
                                     "allow %2 px), after %3 writes.")
                         .arg(m_residual, 0, 'f', 2)
                         .arg(std::isfinite(floorPx) ? floorPx : m_residual, 0, 'f', 2)
                         .arg(m_writes);
    return true;
}

void AlignRun::restore()
{
    if (m_stop.lost || m_abandoned)
        return;
    const bool keepValues = m_stop.outcome == AutoAligner::Outcome::Aligned;
    QString error;
    bool ok = true;
    if (!keepValues && !sameValues(m_values, m_original)) {
        // The budget does not bound putting the camera back.
        onGui([&] { ok = m_camera->writeCalibration(m_original, &error); });
        ++m_writes;
        QMetaObject::invokeMethod(
            &m_bridge, [this] { emit wrote(); }, Qt::QueuedConnection);
        if (ok)
            m_values = m_original;
    }
    bool fusionNow = m_originalFusion;
    if (ok && m_fusionTouched) {
        onGui([&] {
            fusionNow = m_camera->fusionOn();
            if (fusionNow != m_originalFusion)
                ok = m_camera->setFusion(m_originalFusion, &error);
        });
    }
    if (!ok) {
        m_stop.outcome = AutoAligner::Outcome::Failed;
        m_stop.message += QLatin1Char(' ') +
                          AutoAligner::tr("The camera could not be put back as it was: %1. "
                                          "Use Calibration > Revert Calibration once it answers.")
                              .arg(error);
    }
}
