// Keeps GStreamer's RTSP source from answering a Basic challenge where the
// device profile does not allow it. The source answers whichever scheme the
// camera offers, strongest first, so Digest always wins when offered; a camera
// that offers only Basic would get the password in clear. Registered as an
// RTSP extension, which every RTSP source loads and which sees each answer
// to a request before the source picks a scheme; there it removes a
// challenge that leaves Basic as the only choice, and the request fails as
// unauthorised instead. The answers to keep-alives over UDP bypass
// extensions, so once the stream plays the guard takes the password back
// from the source: its connection keeps the Digest state it needs.
#ifndef RTSPAUTHGUARD_H
#define RTSPAUTHGUARD_H

typedef struct _GstElement GstElement;

class RtspAuthGuard
{
public:
    // Around the creation of one RTSP source on this thread: the guard it
    // loads refuses Basic unless allowBasic. Scopes do not nest.
    explicit RtspAuthGuard(bool allowBasic);
    ~RtspAuthGuard();
    RtspAuthGuard(const RtspAuthGuard &) = delete;
    RtspAuthGuard &operator=(const RtspAuthGuard &) = delete;

    // Hands the guard that the source created in this scope loaded the
    // source itself; false when it loaded none, which happens when
    // GStreamer's RTSP plugin was loaded before the guard existed.
    bool attach(GstElement *source);

private:
    unsigned m_loadedBefore;
};

#endif // RTSPAUTHGUARD_H
