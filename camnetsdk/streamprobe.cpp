#include "streamprobe.h"

#include "camnetsdk.h"
#include "curlerror.h"

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
                         const std::string &password, bool allowBasic)
    : m_url(url), m_user(user), m_password(password), m_allowBasic(allowBasic)
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

int32_t StreamProbe::run(HttpClient::Deadline deadline)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return CAMNET_ERR_OUT_OF_RESOURCES;
    curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
    HttpClient::configure(curl, m_user, m_password);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &StreamProbe::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &StreamProbe::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    const CURLcode code = HttpClient::perform(curl, deadline);
    curl_easy_cleanup(curl);

    if (m_accepted)
        return m_multipart ? CAMNET_ERR_NONE : CAMNET_ERR_PROTOCOL;
    // A write error is the probe cutting an error reply short on purpose.
    if (code != CURLE_OK && code != CURLE_WRITE_ERROR)
        return camNetErrorOf(code);
    // A success never gets here: its headers end the probe.
    const int32_t error = camNetErrorOfStatus(m_status, CAMNET_ERR_CHANNEL_UNAVAILABLE);
    return error ? error : CAMNET_ERR_PROTOCOL;
}
