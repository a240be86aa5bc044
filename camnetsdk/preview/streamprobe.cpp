#include "preview/streamprobe.h"

#include "camnetsdk.h"
#include "http/curlerror.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

// An error page is short; anything longer is not worth reading.
constexpr size_t errorBodyCap = 64 * 1024;

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Whether a session description has a video media section ("m=video ...").
bool hasVideoMedia(const std::string &sdp)
{
    size_t start = 0;
    while (start < sdp.size()) {
        size_t end = sdp.find('\n', start);
        if (end == std::string::npos)
            end = sdp.size();
        if (sdp.compare(start, 8, "m=video ") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

StreamProbe::StreamProbe(const std::string &url, const std::string &user,
                         const std::string &password, bool allowBasic)
    : m_url(url), m_user(user), m_password(password), m_allowBasic(allowBasic)
{
}

size_t StreamProbe::onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *probe = static_cast<StreamProbe *>(self);
    const size_t n = size * count;
    const std::string line = lowered(std::string(data, n));
    if (line.compare(0, 5, "http/") == 0 || line.compare(0, 5, "rtsp/") == 0) {
        const size_t space = line.find(' ');
        probe->m_status =
            space == std::string::npos ? 0 : std::strtol(line.c_str() + space, nullptr, 10);
        probe->m_multipart = false;
        probe->m_sdp = false;
        probe->m_body.clear();
        probe->m_bodyBytes = 0;
    } else if (line.compare(0, 17, "www-authenticate:") == 0) {
        const size_t scheme = line.find_first_not_of(" \t", 17);
        if (scheme != std::string::npos) {
            probe->m_basicChallenge |=
                line.compare(scheme, 6, "basic ") == 0 || line.compare(scheme, 6, "basic\r") == 0;
            probe->m_digestChallenge |= line.compare(scheme, 7, "digest ") == 0;
        }
    } else if (line.compare(0, 13, "content-type:") == 0) {
        probe->m_multipart = line.find("multipart/x-mixed-replace") != std::string::npos;
        probe->m_sdp = line.find("application/sdp") != std::string::npos;
    } else if (line == "\r\n" || line == "\n") {
        // Digest answers 401 first and the request is sent again; only a
        // success ends the probe, before the endless body. A description
        // is short and read whole.
        if (!probe->m_rtsp && probe->m_status >= 200 && probe->m_status < 300) {
            probe->m_accepted = true;
            return 0;
        }
    }
    return n;
}

size_t StreamProbe::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *probe = static_cast<StreamProbe *>(self);
    const size_t n = size * count;
    probe->m_bodyBytes += n;
    if (probe->m_bodyBytes > errorBodyCap)
        return 0;
    if (probe->m_rtsp)
        probe->m_body.append(data, n);
    return n;
}

int32_t StreamProbe::run(HttpClient::Deadline deadline)
{
    m_rtsp = lowered(m_url.substr(0, 7)) == "rtsp://";
    return m_rtsp ? runRtsp(deadline) : runHttp(deadline);
}

CURLcode StreamProbe::request(HttpClient::Deadline deadline)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return CURLE_OUT_OF_MEMORY;
    HttpClient::configure(curl, m_user, m_password);
    if (m_rtsp) {
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "rtsp");
        // Basic only where the profile accepts the password crossing in clear;
        // a camera that offers nothing else is then refused like a wrong password.
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH,
                         long(m_allowBasic ? CURLAUTH_DIGEST | CURLAUTH_BASIC : CURLAUTH_DIGEST));
        curl_easy_setopt(curl, CURLOPT_RTSP_STREAM_URI, m_url.c_str());
        curl_easy_setopt(curl, CURLOPT_RTSP_REQUEST, long(CURL_RTSPREQ_DESCRIBE));
    }
    curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &StreamProbe::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &StreamProbe::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    const CURLcode code = HttpClient::perform(curl, deadline);
    curl_easy_cleanup(curl);
    return code;
}

int32_t StreamProbe::runHttp(HttpClient::Deadline deadline)
{
    const CURLcode code = request(deadline);
    if (m_accepted)
        return m_multipart ? CAMNET_ERR_NONE : CAMNET_ERR_PROTOCOL;
    // A write error is the probe cutting an error reply short on purpose.
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR)
        return camNetErrorOf(code);
    // A success never gets here: its headers end the probe.
    const int32_t error = camNetErrorOfStatus(m_status, CAMNET_ERR_CHANNEL_UNAVAILABLE);
    return error ? error : CAMNET_ERR_PROTOCOL;
}

int32_t StreamProbe::runRtsp(HttpClient::Deadline deadline)
{
    const CURLcode code = request(deadline);
    // A refusal counts whatever shape it came in: a 404 without CSeq or
    // with a body cut short still says the path is not served.
    if (m_status >= 400) {
        // A Digest challenge libcurl would not answer for its missing CSeq
        // says nothing of the password; a Basic one the profile forbids does.
        if (m_status == 401 && code == CURLE_RTSP_CSEQ_ERROR && m_digestChallenge)
            return CAMNET_ERR_PROTOCOL;
        return camNetErrorOfStatus(m_status, CAMNET_ERR_CHANNEL_UNAVAILABLE);
    }
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR)
        return camNetErrorOf(code);
    if (const int32_t error = camNetErrorOfStatus(m_status, CAMNET_ERR_CHANNEL_UNAVAILABLE))
        return error;
    // A success that is no description, or one cut short, cannot be played.
    if (code != CURLE_OK || !m_sdp)
        return CAMNET_ERR_PROTOCOL;
    // A described stream without video (audio only, metadata) is a channel
    // that cannot be shown.
    return hasVideoMedia(m_body) ? CAMNET_ERR_NONE : CAMNET_ERR_CHANNEL_UNAVAILABLE;
}
