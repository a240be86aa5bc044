#pragma once

#include "camstate.h"

#include <QImage>
#include <QSize>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The thread that draws the RTSP viewers' frames. QPainter keeps font and
// gradient caches per thread; drawn on the media library's pooled streaming
// threads, those caches would outlive the pipelines and be torn down by
// whichever pooled thread happens to end, possibly while the process exits.
// This thread is the simulator's own and is joined when RTSP stops.
class RenderThread
{
public:
    RenderThread();
    ~RenderThread();
    RenderThread(const RenderThread &) = delete;
    RenderThread &operator=(const RenderThread &) = delete;

    // The frame, drawn on this thread; a null image once stopped.
    QImage render(int channel, const CamState::View &view, quint64 frame, const QSize &size);
    // Answers what is waiting with null images, and joins the thread.
    void stop();

private:
    struct Job
    {
        int channel;
        CamState::View view;
        quint64 frame;
        QSize size;
        QImage image;
        bool done = false;
    };

    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job *> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};
