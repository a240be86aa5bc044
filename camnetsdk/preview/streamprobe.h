// Asks the camera for a channel's stream with the login's credentials, so that
// starting a preview fails at once, with the camera's reason, when the channel
// cannot be streamed: over HTTP it hangs up as soon as the answer's headers
// are in; over RTSP it asks for the stream's description (DESCRIBE) and
// checks that it offers video.
#ifndef STREAMPROBE_H
#define STREAMPROBE_H

#include "http/httpclient.h"

#include <cstdint>
#include <string>

class StreamProbe
{
public:
    // allowBasic: whether an RTSP camera may be answered with Basic
    // authentication; HTTP cameras are only ever answered with Digest.
    StreamProbe(const std::string &url, const std::string &user, const std::string &password,
                bool allowBasic = false);

    // CAMNET_ERR_NONE when the camera starts sending the stream (HTTP), or
    // describes one with video (RTSP), in time.
    int32_t run(HttpClient::Deadline deadline);

    // After run: whether the camera challenged with Basic and nothing else.
    // Some such cameras send a challenge that GStreamer's RTSP client cannot
    // read, so the preview then sends the credentials before any challenge.
    bool basicChallengeOnly() const { return m_basicChallenge && !m_digestChallenge; }

private:
    // One request with this probe's callbacks; its libcurl result.
    CURLcode request(HttpClient::Deadline deadline);
    int32_t runHttp(HttpClient::Deadline deadline);
    int32_t runRtsp(HttpClient::Deadline deadline);
    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);

    std::string m_url;
    std::string m_user;
    std::string m_password;
    bool m_allowBasic = false;
    bool m_rtsp = false;
    long m_status = 0;
    bool m_multipart = false;
    bool m_sdp = false;
    bool m_accepted = false;
    bool m_basicChallenge = false;
    bool m_digestChallenge = false;
    size_t m_bodyBytes = 0;
    std::string m_body; // RTSP only: the description
};

#endif // STREAMPROBE_H
