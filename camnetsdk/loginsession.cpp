#include "loginsession.h"

#include "curlerror.h"
#include "sdkconfig.h"

#include <curl/curl.h>

#include <chrono>

namespace {

struct Sink
{
    std::string *body;
    size_t cap;
    bool *truncated;
};

size_t collect(char *data, size_t size, size_t count, void *userData)
{
    Sink *sink = static_cast<Sink *>(userData);
    const size_t n = size * count;
    const size_t room = sink->cap - sink->body->size();
    if (n > room) {
        // Keep what fits, then abort: the rest of an oversize reply is not
        // worth waiting for.
        sink->body->append(data, room);
        *sink->truncated = true;
        return 0;
    }
    sink->body->append(data, n);
    return n;
}

std::string hostPart(const std::string &address)
{
    // A bare IPv6 literal needs brackets inside a URL.
    if (address.find(':') != std::string::npos && address.front() != '[')
        return "[" + address + "]";
    return address;
}

void configure(CURL *curl, const std::string &user, const std::string &password)
{
    // Set once and kept: resetting the handle would also forget the Digest
    // nonce, and every request would pay for a fresh 401 challenge.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
}

HttpResult send(CURL *curl, const std::string &url, const std::string &method,
                const std::string *body, const char *contentType, size_t bodyCap, long timeoutMs)
{
    HttpResult result;
    const SdkConfig::ConnectLimits limits = SdkConfig::connectLimits();
    const uint32_t tries = limits.tries ? limits.tries : 1;

    curl_slist *headers = nullptr;
    if (body && contentType)
        headers = curl_slist_append(headers, (std::string("Content-Type: ") + contentType).c_str());
    // A 100-continue round trip would only slow every PUT down.
    headers = curl_slist_append(headers, "Expect:");

    Sink sink{&result.body, bodyCap, &result.truncated};
    CURLcode code = CURLE_OK;
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        result.body.clear();
        result.truncated = false;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(limits.waitMs ? limits.waitMs : 1));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        // The handle carries every option over from the previous request, so
        // whatever that one set and this one does not want is undone here.
        if (body) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
        } else {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(-1));
            curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        }
        const bool custom = method != "GET" && method != "POST";
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, custom ? method.c_str() : nullptr);
        code = curl_easy_perform(curl);
        if (code != CURLE_COULDNT_CONNECT)
            break;
    }
    // The handle outlives this call's header list, body and sink.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_slist_free_all(headers);

    if (code == CURLE_WRITE_ERROR && result.truncated)
        code = CURLE_OK;
    if (code != CURLE_OK) {
        result.error = camNetErrorOf(code);
        return result;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    return result;
}

} // namespace

LoginSession::LoginSession(const std::string &address, uint16_t port, const std::string &user,
                           const std::string &password)
    : m_curl(curl_easy_init()), m_base("http://" + hostPart(address) + ":" + std::to_string(port)),
      m_user(user), m_password(password)
{
    if (m_curl)
        configure(m_curl, m_user, m_password);
}

LoginSession::~LoginSession()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

HttpResult LoginSession::perform(const std::string &method, const std::string &path,
                                 const std::string *body, const char *contentType, size_t bodyCap)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string url = m_base + path;
    const auto start = std::chrono::steady_clock::now();
    HttpResult result =
        send(m_curl, url, method, body, contentType, bodyCap, SdkConfig::requestTimeoutMs);
    // A camera may refuse a nonce it issued without marking it stale (one that
    // forgot it, or one that saw the same nonce count from another client);
    // libcurl then gives up. A 401 therefore earns one fresh challenge within
    // what is left of the request's time; wrong credentials fail again.
    if (result.error == CAMNET_ERR_NONE && result.status == 401) {
        const long spent = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
        if (spent < SdkConfig::requestTimeoutMs) {
            curl_easy_reset(m_curl);
            configure(m_curl, m_user, m_password);
            result = send(m_curl, url, method, body, contentType, bodyCap,
                          SdkConfig::requestTimeoutMs - spent);
        }
    }
    return result;
}
