// What a preview's window says while it shows no video, so that a camera
// that sends nothing is not taken for one that sends black: that it connects,
// until the first frame is drawn; that the video stopped, once a stream that
// was drawn ended or stalled; which reconnect is under way after that or
// after a start that failed. Nothing while frames are drawn. Only decides the
// text; the window draws it.
#ifndef PREVIEWSTATUS_H
#define PREVIEWSTATUS_H

#include <chrono>
#include <cstdint>
#include <string>

class PreviewStatus
{
public:
    // silence: how long a stream that was drawn brings nothing before it is
    // restarted.
    explicit PreviewStatus(std::chrono::seconds silence) : m_silence(silence) {}

    // The sink's count of frames drawn so far; any new one shows video.
    void framesDrawn(uint32_t count);
    // The stream ended, failed or stalled, after count frames were drawn.
    void ended(uint32_t count);
    // Restart number attempt of the stream began.
    void reconnecting(uint32_t attempt);

    // Empty while video is shown.
    std::string text() const;

private:
    const std::chrono::seconds m_silence;
    uint32_t m_drawn = 0;
    bool m_showingVideo = false;
    bool m_videoLost = false;
    uint32_t m_attempt = 0;
};

#endif // PREVIEWSTATUS_H
