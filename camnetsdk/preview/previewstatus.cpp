#include "preview/previewstatus.h"

void PreviewStatus::framesDrawn(uint32_t count)
{
    if (count == m_drawn)
        return;
    m_drawn = count;
    m_showingVideo = true;
    m_videoLost = false;
    m_attempt = 0;
}

void PreviewStatus::ended(uint32_t count)
{
    // Frames drawn since the last look still count as video that was shown.
    framesDrawn(count);
    if (!m_showingVideo)
        return;
    m_showingVideo = false;
    m_videoLost = true;
}

void PreviewStatus::reconnecting(uint32_t attempt)
{
    if (!m_showingVideo)
        m_attempt = attempt;
}

std::string PreviewStatus::text() const
{
    if (m_showingVideo)
        return std::string();
    if (m_attempt > 0)
        return "No video: reconnecting (attempt " + std::to_string(m_attempt) + ")";
    if (m_videoLost)
        return "No video for " + std::to_string(m_silence.count()) + " s: reconnecting";
    return "Connecting\u2026";
}
