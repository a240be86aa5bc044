// Keeps GStreamer's RTSP source from answering a Basic challenge where the
// device profile does not allow it. The source answers whichever scheme the
// camera offers, strongest first, so Digest always wins when offered; a camera
// that offers only Basic would get the password in clear. Registered as an
// RTSP extension, which every RTSP source loads and shows each answer before
// it picks a scheme; there it removes a challenge that leaves Basic as the
// only choice, and the request fails as unauthorised instead.
#ifndef RTSPAUTHGUARD_H
#define RTSPAUTHGUARD_H

class RtspAuthGuard
{
public:
    // Around the creation of one RTSP source on this thread: the guard it
    // loads refuses Basic unless allowBasic. Scopes do not nest.
    explicit RtspAuthGuard(bool allowBasic);
    ~RtspAuthGuard();
    RtspAuthGuard(const RtspAuthGuard &) = delete;
    RtspAuthGuard &operator=(const RtspAuthGuard &) = delete;

    // Whether a source created in this scope loaded the guard. It does not
    // when GStreamer's RTSP plugin was loaded before the guard existed.
    bool loaded() const;

private:
    unsigned m_loadedBefore;
};

#endif // RTSPAUTHGUARD_H
