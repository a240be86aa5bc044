// Keeps GStreamer's RTSP source from answering a Basic challenge where the
// device profile does not allow it. The source answers whichever scheme the
// camera offers, strongest first, so Digest always wins when offered; a camera
// that offers only Basic would get the password in clear. Registered as an
// RTSP extension, which every RTSP source loads and which sees each answer
// to a request before the source picks a scheme; there it removes a
// challenge that leaves Basic as the only choice, and the request fails as
// unauthorised instead. The answers to keep-alives over UDP bypass
// extensions, so once the stream plays the guard takes the password back
// from the source: its connection keeps the Digest state it needs. A UDP
// session that the source may still move to TCP keeps the password, since
// that move starts over with DESCRIBE.
// Seeing every answer, the guard also tells its preview what each request
// got, so that a stream counts as started only once PLAY was accepted, and
// it can send credentials before a challenge for a camera whose challenge
// the source cannot read.
#ifndef RTSPAUTHGUARD_H
#define RTSPAUTHGUARD_H

typedef struct _GstElement GstElement;

// The preview behind one RTSP source; called on the source's own thread.
class RtspExchangeListener
{
public:
    // method: a GstRTSPMethod; status: the answer's status code, 0 when no
    // answer could be read.
    virtual void rtspAnswered(int method, int status) = 0;
    // A SETUP accepted: whether RTP comes interleaved on the RTSP
    // connection, and after how many seconds without a request the camera
    // ends the session.
    virtual void rtspSessionSetUp(bool overTcp, unsigned timeoutSeconds) = 0;
    // An Authorization header's value to send with every request before any
    // challenge, or null for none.
    virtual const char *presetAuthorization() const = 0;
    // Whether the source may set a UDP session up again over TCP by itself,
    // which needs the password once more.
    virtual bool mayFallBackToTcp() const = 0;

protected:
    ~RtspExchangeListener() = default;
};

class RtspAuthGuard
{
public:
    // Around the creation of one RTSP source on this thread: the guard it
    // loads refuses Basic unless allowBasic. Scopes do not nest.
    explicit RtspAuthGuard(bool allowBasic);
    ~RtspAuthGuard();
    RtspAuthGuard(const RtspAuthGuard &) = delete;
    RtspAuthGuard &operator=(const RtspAuthGuard &) = delete;

    // Registers the guard with GStreamer, which must happen before its RTSP
    // plugin loads; idempotent.
    static void registerGuard();

    // Hands the guard that the source created in this scope loaded the
    // source itself and the listener, which outlives the source; false when
    // it loaded none, which happens when GStreamer's RTSP plugin was loaded
    // before the guard existed.
    bool attach(GstElement *source, RtspExchangeListener *listener);

private:
    unsigned m_loadedBefore;
};

#endif // RTSPAUTHGUARD_H
