// An RTSP/1.0 camera for tests whose control plane is written here by hand, so
// that a test decides how each request is answered: which transports and
// authentication schemes it takes, whether PLAY succeeds, how it refuses a path
// it does not serve, whether it answers at all, and how soon an idle session
// ends. The video is real: JPEG over RTP from a GStreamer pipeline, sent
// interleaved on the RTSP connection or to the client's UDP ports on
// 127.0.0.1. It runs on a thread of its own, can be killed (every socket
// closed) or frozen (nothing read, answered or sent) like a camera, and keeps
// a record of the requests it got.
#ifndef SCRIPTEDRTSPSERVER_H
#define SCRIPTEDRTSPSERVER_H

#include <QByteArray>
#include <QVector>

#include <memory>

namespace TestSupport {

class ScriptedRtspServer
{
public:
    // Which scheme DESCRIBE, SETUP and PLAY must be authorised with.
    // ...WithoutCSeq: its challenges carry no CSeq header.
    enum class Auth
    {
        None,
        Digest,
        DigestWithoutCSeq,
        Basic,
        BasicWithoutCSeq
    };
    // The transports a SETUP may ask for; the other one is refused with 461.
    enum class Transports
    {
        Both,
        UdpOnly,
        TcpOnly
    };
    // The shape of the 404 to a request for a path that is not served.
    enum class NotFound
    {
        Plain,
        WithBody,
        WithoutCSeq,
        WithoutCSeqWithBody,
        ThenClose
    };
    // Normal, or every request read and never answered, or answered with
    // bytes that are no RTSP.
    enum class Answers
    {
        Normal,
        Never,
        Garbage
    };

    struct Options
    {
        quint16 port = 0;                // 0: a free one
        QByteArray path = "/channels/1"; // the one stream served
        Auth auth = Auth::None;
        QByteArray user;
        QByteArray password;
        Transports transports = Transports::Both;
        bool silentUdp = false; // UDP set up and played, but not one packet sent
        int playStatus = 200;
        // Seconds a session lives without a request carrying its id, as
        // announced in "Session: id;timeout=N"; 0: none announced or enforced.
        int sessionTimeout = 0;
        NotFound notFound = NotFound::Plain;
        Answers answers = Answers::Normal;
    };

    struct Request
    {
        qint64 atMs;    // since the server started
        int connection; // numbered from 1 in the order they were accepted
        QByteArray method;
        QByteArray uri;
        QByteArray transport;
        QByteArray authorization;
        bool hadCSeq;
        // Carried the id of a session that was playing: it kept it alive.
        bool keptAlive;
    };

    // Starts serving; port() tells whether it came up.
    explicit ScriptedRtspServer(const Options &options);
    ~ScriptedRtspServer();
    ScriptedRtspServer(const ScriptedRtspServer &) = delete;
    ScriptedRtspServer &operator=(const ScriptedRtspServer &) = delete;

    // 0 when it is not listening.
    quint16 port() const;
    // Listens again on the same port after kill(); the record is kept.
    bool start();
    // Every socket closed at once, like a camera losing power.
    void kill();
    // Nothing read, answered or sent while frozen; every socket stays open.
    // Returns once the server's thread has taken the change.
    void freeze(bool frozen);

    QVector<Request> requests() const;
    // Methods of the requests, in order, e.g. "OPTIONS DESCRIBE SETUP PLAY".
    QByteArray methods() const;
    int keepAlives() const;
    // PLAY requests answered with 2xx.
    int playsAnswered() const;
    // Sessions ended because no request came within their timeout.
    int expiredSessions() const;
    int connections() const;
    // RTP packets sent so far, interleaved and over UDP.
    qint64 packetsSent(bool udp) const;
    // RTCP packets received, interleaved and over UDP.
    int rtcpReceived() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace TestSupport

#endif // SCRIPTEDRTSPSERVER_H
