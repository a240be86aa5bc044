#include "streamprobe.h"

#include "camnetsdk.h"
#include "curlerror.h"
#include "sdkconfig.h"

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

} // namespace

StreamProbe::StreamProbe(const std::string &url, const std::string &user,
                         const std::string &password)
    : m_url(url), m_user(user), m_password(password)
{
}

size_t StreamProbe::onHeader(char *data, size_t size, size_t count, void *self)
{
    auto *probe = static_cast<StreamProbe *>(self);
    const size_t n = size * count;
    const std::string line = lowered(std::string(data, n));
    if (line.compare(0, 5, "http/") == 0) {
        const size_t space = line.find(' ');
        probe->m_status =
            space == std::string::npos ? 0 : std::strtol(line.c_str() + space, nullptr, 10);
        probe->m_multipart = false;
    } else if (line.compare(0, 13, "content-type:") == 0) {
        probe->m_multipart = line.find("multipart/x-mixed-replace") != std::string::npos;
    } else if (line == "\r\n" || line == "\n") {
        // Digest answers 401 first and the request is sent again; only a
        // success ends the probe, before the endless body.
        if (probe->m_status >= 200 && probe->m_status < 300) {
            probe->m_accepted = true;
            return 0;
        }
    }
    return n;
}

size_t StreamProbe::onBody(char *, size_t size, size_t count, void *self)
{
    auto *probe = static_cast<StreamProbe *>(self);
    const size_t n = size * count;
    probe->m_bodyBytes += n;
    return probe->m_bodyBytes > errorBodyCap ? 0 : n;
}

int32_t StreamProbe::run()
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return CAMNET_ERR_OUT_OF_RESOURCES;
    const SdkConfig::ConnectLimits limits = SdkConfig::connectLimits();
    curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
    curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(limits.waitMs ? limits.waitMs : 1));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, SdkConfig::requestTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &StreamProbe::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &StreamProbe::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);

    const uint32_t tries = limits.tries ? limits.tries : 1;
    int32_t result = CAMNET_ERR_NONE;
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        result = perform(curl);
        // Clients asking for the same stream in the same instant may be
        // handed the same nonce, and all but the first are refused; the
        // login proved the credentials, so ask again on the same handle,
        // which counts the nonce on instead of replaying it.
        for (int again = 0; again < 2 && result == CAMNET_ERR_AUTHENTICATION_FAILED; ++again)
            result = perform(curl);
        if (result != CAMNET_ERR_CONNECTION_FAILED)
            break;
    }
    curl_easy_cleanup(curl);
    return result;
}

int32_t StreamProbe::perform(void *curl)
{
    m_status = 0;
    m_multipart = false;
    m_accepted = false;
    m_bodyBytes = 0;
    const CURLcode code = curl_easy_perform(curl);

    if (m_accepted)
        return m_multipart ? CAMNET_ERR_NONE : CAMNET_ERR_PROTOCOL;
    // A write error is the probe cutting an error reply short on purpose.
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR)
        return camNetErrorOf(code);
    if (m_status == 401 || m_status == 403)
        return CAMNET_ERR_AUTHENTICATION_FAILED;
    if (m_status == 404)
        return CAMNET_ERR_CHANNEL_UNAVAILABLE;
    if (m_status >= 400)
        return CAMNET_ERR_DEVICE_REFUSED;
    return CAMNET_ERR_PROTOCOL;
}
