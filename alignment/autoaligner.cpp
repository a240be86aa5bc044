#include "autoaligner.h"

#include "alignrun.h"

AutoAligner::AutoAligner(AlignCamera *camera, QObject *parent) : QObject(parent), m_camera(camera)
{
    // The outcome crosses threads and queued connections.
    qRegisterMetaType<AutoAligner::Outcome>();
}

AutoAligner::~AutoAligner() = default;

void AutoAligner::start(const Options &options)
{
    if (isRunning())
        return;
    m_writes = 0;
    m_run = std::make_unique<AlignRun>(m_camera, options);
    AlignRun *run = m_run.get();
    connect(run, &AlignRun::progressChanged, this, &AutoAligner::progressChanged);
    connect(run, &AlignRun::residualChanged, this, &AutoAligner::residualChanged);
    connect(run, &AlignRun::wrote, this, [this] { ++m_writes; });
    connect(run, &AlignRun::finished, this, [this](Outcome outcome, const QString &message) {
        // The worker has ended; it is joined before anyone hears of the end.
        m_run->join();
        emit finished(outcome, message);
    });
    run->start();
}

void AutoAligner::cancel()
{
    if (m_run)
        m_run->cancel();
}

bool AutoAligner::isRunning() const
{
    return m_run && m_run->isRunning();
}

int AutoAligner::writes() const
{
    return m_writes;
}
