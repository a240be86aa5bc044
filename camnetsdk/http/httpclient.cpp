#include "http/httpclient.h"

#include "api/sdkconfig.h"

#include <algorithm>

namespace HttpClient {

Deadline callDeadline()
{
    const SdkConfig::ConnectLimits limits = SdkConfig::connectLimits();
    const uint64_t connectMs =
        uint64_t(std::max<uint32_t>(limits.waitMs, 1)) * std::max<uint32_t>(limits.tries, 1);
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(connectMs) +
           std::chrono::milliseconds(SdkConfig::requestTimeoutMs);
}

void configure(CURL *curl, const std::string &user, const std::string &password)
{
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    // Digest only: the password never crosses the network. libcurl answers a
    // challenge once, and again only when the camera marks its nonce stale,
    // so a wrong password costs the camera one failed attempt.
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
}

CURLcode perform(CURL *curl, Deadline deadline)
{
    const SdkConfig::ConnectLimits limits = SdkConfig::connectLimits();
    const uint32_t tries = std::max<uint32_t>(limits.tries, 1);
    const long waitMs = long(std::max<uint32_t>(limits.waitMs, 1));
    CURLcode code = CURLE_OPERATION_TIMEDOUT;
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        const long left = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now())
                                   .count());
        if (left <= 0)
            return CURLE_OPERATION_TIMEDOUT;
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(waitMs, left));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::min(SdkConfig::requestTimeoutMs, left));
        code = curl_easy_perform(curl);
        if (code != CURLE_COULDNT_CONNECT)
            break;
    }
    return code;
}

} // namespace HttpClient
