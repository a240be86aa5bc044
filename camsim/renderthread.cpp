#include "renderthread.h"

#include "scenerenderer.h"

RenderThread::RenderThread() : m_thread(&RenderThread::run, this) {}

RenderThread::~RenderThread()
{
    stop();
}

QImage RenderThread::render(int channel, const CamState::View &view, quint64 frame,
                            const QSize &size)
{
    Job job{channel, view, frame, size, QImage(), false};
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping)
        return QImage();
    m_jobs.push_back(&job);
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return job.done; });
    return job.image;
}

void RenderThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (Job *job : m_jobs)
            job->done = true;
        m_jobs.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void RenderThread::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping)
            return;
        Job *job = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        QImage image = SceneRenderer::render(job->channel, job->view, job->frame, job->size);
        lock.lock();
        // A job is only ever answered once: stop() leaves the one being drawn alone.
        job->image = std::move(image);
        job->done = true;
        m_changed.notify_all();
    }
}
