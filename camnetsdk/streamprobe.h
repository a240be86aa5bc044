// Asks the camera for a channel's stream with the login's credentials and
// hangs up as soon as the answer's headers are in, so that starting a preview
// fails at once, with the camera's reason, when the channel cannot be streamed.
#ifndef STREAMPROBE_H
#define STREAMPROBE_H

#include "httpclient.h"

#include <cstdint>
#include <string>

class StreamProbe
{
public:
    // allowBasic: whether an RTSP camera may be answered with Basic
    // authentication; HTTP cameras are only ever answered with Digest.
    StreamProbe(const std::string &url, const std::string &user, const std::string &password,
                bool allowBasic = false);

    // CAMNET_ERR_NONE when the camera starts sending the stream in time.
    int32_t run(HttpClient::Deadline deadline);

private:
    static size_t onHeader(char *data, size_t size, size_t count, void *self);
    static size_t onBody(char *data, size_t size, size_t count, void *self);

    std::string m_url;
    std::string m_user;
    std::string m_password;
    bool m_allowBasic = false;
    long m_status = 0;
    bool m_multipart = false;
    bool m_accepted = false;
    size_t m_bodyBytes = 0;
};

#endif // STREAMPROBE_H
