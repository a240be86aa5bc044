#include "api/loginsession.h"

#include "http/curlerror.h"
#include "onvif/onvifresolver.h"

#include <curl/curl.h>

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

} // namespace

LoginSession::LoginSession(const std::string &urlHost, uint16_t port, const std::string &user,
                           const std::string &password, const DeviceProfile &profile)
    : m_curl(curl_easy_init()), m_urlHost(urlHost), m_port(port),
      m_base("http://" + urlHost + ":" + std::to_string(port)), m_user(user), m_password(password),
      m_profile(profile)
{
    // Set once and kept: resetting the handle would also forget the Digest
    // nonce, and every request would pay for a fresh 401 challenge.
    if (m_curl) {
        HttpClient::configure(m_curl, m_user, m_password);
        curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, collect);
    }
    if (m_profile.onvif())
        m_onvif.reset(new OnvifResolver(OnvifResolver::Camera{
            urlHost, m_profile.onvifPort() ? m_profile.onvifPort() : port, user, password,
            m_profile.rtspTransport(), m_profile.onvifThermalSource()}));
}

LoginSession::~LoginSession()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

std::string LoginSession::streamUrl(int channel) const
{
    return m_profile.streamUrl(m_urlHost, m_port, channel);
}

int32_t LoginSession::resolveStreamUrl(int channel, HttpClient::Deadline deadline, std::string *url)
{
    if (!m_onvif) {
        *url = streamUrl(channel);
        return CAMNET_ERR_NONE;
    }
    return m_onvif->streamUri(channel, deadline, url);
}

HttpResult LoginSession::perform(const std::string &method, const std::string &path,
                                 const std::string *body, const char *contentType, size_t bodyCap,
                                 HttpClient::Deadline deadline)
{
    HttpResult result;
    std::unique_lock<std::timed_mutex> lock(m_mutex, deadline);
    if (!lock.owns_lock()) {
        result.error = CAMNET_ERR_TIMED_OUT;
        return result;
    }

    curl_slist *headers = nullptr;
    if (body && contentType)
        headers = curl_slist_append(headers, (std::string("Content-Type: ") + contentType).c_str());
    // A 100-continue round trip would only slow every PUT down.
    headers = curl_slist_append(headers, "Expect:");

    Sink sink{&result.body, bodyCap, &result.truncated};
    const std::string url = m_base + path;
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &sink);
    // The handle carries every option over from the previous request, so
    // whatever that one set and this one does not want is undone here.
    if (body) {
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
    } else {
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, nullptr);
        curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(-1));
        curl_easy_setopt(m_curl, CURLOPT_HTTPGET, 1L);
    }
    const bool custom = method != "GET" && method != "POST";
    curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, custom ? method.c_str() : nullptr);
    CURLcode code = HttpClient::perform(m_curl, deadline);

    // The handle outlives this call's header list, body and sink.
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, nullptr);
    curl_slist_free_all(headers);

    if (code == CURLE_WRITE_ERROR && result.truncated)
        code = CURLE_OK;
    if (code != CURLE_OK) {
        result.error = camNetErrorOf(code);
        return result;
    }
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &result.status);
    return result;
}
