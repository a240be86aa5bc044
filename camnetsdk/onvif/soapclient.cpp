#include "onvif/soapclient.h"

#include "camnetsdk.h"
#include "http/curlerror.h"
#include "onvif/onvifnamespaces.h"
#include "onvif/onvifreplies.h"
#include "onvif/soapenvelope.h"
#include "onvif/usernametoken.h"

#include <strings.h>

namespace {

// The largest reply kept: a camera with many profiles answers some tens of
// kilobytes; anything far beyond is not a legitimate reply.
constexpr size_t replyCap = 512 * 1024;

bool success(long status)
{
    return status >= 200 && status < 300;
}

} // namespace

SoapClient::SoapClient(const std::string &deviceUrl, const std::string &user,
                       const std::string &password)
    : m_curl(curl_easy_init()), m_deviceUrl(deviceUrl), m_user(user), m_password(password)
{
    if (m_curl) {
        HttpClient::configure(m_curl, m_user, m_password);
        curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, header);
    }
}

SoapClient::~SoapClient()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

size_t SoapClient::collect(char *data, size_t size, size_t count, void *exchange)
{
    Exchange *into = static_cast<Exchange *>(exchange);
    const size_t n = size * count;
    const size_t room = replyCap - into->body.size();
    if (n > room) {
        into->truncated = true;
        return 0;
    }
    into->body.append(data, n);
    return n;
}

size_t SoapClient::header(char *data, size_t size, size_t count, void *exchange)
{
    Exchange *into = static_cast<Exchange *>(exchange);
    const size_t n = size * count;
    const std::string line(data, n);
    const std::string name = "WWW-Authenticate:";
    if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
        const size_t value = line.find_first_not_of(" \t", name.size());
        if (value != std::string::npos && strncasecmp(line.c_str() + value, "Digest", 6) == 0)
            into->digestOffered = true;
    }
    // Each response of a Digest exchange arrives here; only the last one's
    // body is the reply.
    if (line.compare(0, 5, "HTTP/") == 0)
        into->body.clear();
    return n;
}

SoapClient::Exchange SoapClient::post(const std::string &url, const Request &request,
                                      Credentials credentials, HttpClient::Deadline deadline)
{
    Exchange exchange;
    SoapEnvelope envelope(request.ns, request.operation);
    if (request.fill)
        request.fill(envelope);
    if (credentials == Credentials::Token)
        envelope.addToken(UsernameToken(m_user, m_password, time(nullptr) + m_clockOffset));
    const std::string body = envelope.text();

    // libcurl keeps a Digest session on the handle and would answer with it
    // unasked; without a user name it sends no Authorization at all.
    const bool digest = credentials == Credentials::Digest;
    curl_easy_setopt(m_curl, CURLOPT_USERNAME, digest ? m_user.c_str() : nullptr);
    curl_easy_setopt(m_curl, CURLOPT_PASSWORD, digest ? m_password.c_str() : nullptr);
    curl_easy_setopt(m_curl, CURLOPT_HTTPAUTH,
                     digest ? long(CURLAUTH_DIGEST) : long(CURLAUTH_NONE));

    const std::string contentType = std::string("Content-Type: application/soap+xml; "
                                                "charset=utf-8; action=\"") +
                                    request.ns + "/" + request.operation + "\"";
    curl_slist *headers = curl_slist_append(nullptr, contentType.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &exchange);
    CURLcode code = HttpClient::perform(m_curl, deadline);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, nullptr);
    curl_slist_free_all(headers);

    if (code == CURLE_WRITE_ERROR && exchange.truncated)
        code = CURLE_OK;
    exchange.error = camNetErrorOf(code);
    if (code == CURLE_OK)
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &exchange.status);
    return exchange;
}

int32_t SoapClient::readClock(HttpClient::Deadline deadline)
{
    const Exchange exchange = post(m_deviceUrl, {OnvifNs::device, "GetSystemDateAndTime", nullptr},
                                   Credentials::None, deadline);
    if (exchange.error)
        return exchange.error;
    SoapDocument reply;
    time_t cameraUtc = 0;
    // A camera that keeps its clock to itself leaves the offset as it was:
    // its tokens can only be dated by the local clock.
    if (success(exchange.status) && !exchange.truncated && reply.parse(exchange.body) &&
        OnvifReplies::systemTime(reply, &cameraUtc))
        m_clockOffset = cameraUtc - time(nullptr);
    return CAMNET_ERR_NONE;
}

int32_t SoapClient::call(const std::string &url, const Request &request,
                         HttpClient::Deadline deadline, SoapDocument *reply)
{
    for (;;) {
        const Credentials credentials = m_auth == Auth::Token    ? Credentials::Token
                                        : m_auth == Auth::Digest ? Credentials::Digest
                                                                 : Credentials::None;
        const Exchange exchange = post(url, request, credentials, deadline);
        if (exchange.error)
            return exchange.error;
        const bool soap = !exchange.truncated && reply->parse(exchange.body);
        const bool fault = soap && reply->isFault();
        if (success(exchange.status) && soap && !fault)
            return CAMNET_ERR_NONE;
        // Unasked, a camera may say no to a request without credentials in
        // many ways; once credentials went along, only a refusal counts.
        const bool refused = (soap && reply->notAuthorized()) || exchange.status == 401 ||
                             (exchange.status == 400 && (m_auth == Auth::Unknown || !fault));
        if (!refused) {
            if (fault)
                return CAMNET_ERR_DEVICE_REFUSED;
            const int32_t error = camNetErrorOfStatus(exchange.status, CAMNET_ERR_NOT_SUPPORTED);
            return error ? error : CAMNET_ERR_PROTOCOL;
        }
        if (m_auth == Auth::Unknown) {
            m_auth = exchange.status == 401 && exchange.digestOffered ? Auth::Digest : Auth::Token;
            continue;
        }
        // A token refused may only be dated wrong: the camera's clock may
        // have been set since it was read.
        if (m_auth == Auth::Token && !m_clockReread && !exchange.digestOffered) {
            m_clockReread = true;
            if (const int32_t error = readClock(deadline))
                return error;
            continue;
        }
        return CAMNET_ERR_AUTHENTICATION_FAILED;
    }
}
