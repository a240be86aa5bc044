#include "digestputclient.h"

#include <curl/curl.h>

namespace {

size_t collect(char *data, size_t size, size_t count, void *userData)
{
    static_cast<std::string *>(userData)->append(data, size * count);
    return size * count;
}

} // namespace

DigestPutClient::DigestPutClient(const QByteArray &url, const char *user, const char *password)
    : m_curl(curl_easy_init()), m_url(url)
{
    if (!m_curl)
        return;
    m_headers = curl_slist_append(nullptr, "Content-Type: application/xml");
    // The tool's SDK suppresses it too; a 100-continue wait would dwarf the rest.
    m_headers = curl_slist_append(m_headers, "Expect:");
    curl_easy_setopt(m_curl, CURLOPT_URL, m_url.constData());
    curl_easy_setopt(m_curl, CURLOPT_PROXY, "");
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(m_curl, CURLOPT_HTTPAUTH, long(CURLAUTH_DIGEST));
    curl_easy_setopt(m_curl, CURLOPT_USERNAME, user);
    curl_easy_setopt(m_curl, CURLOPT_PASSWORD, password);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &m_reply);
}

DigestPutClient::~DigestPutClient()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
    curl_slist_free_all(m_headers);
}

bool DigestPutClient::put(const QByteArray &document)
{
    if (!m_curl)
        return false;
    m_reply.clear();
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, document.constData());
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(document.size()));
    long status = 0;
    return curl_easy_perform(m_curl) == CURLE_OK &&
           curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
           status == 200 && m_reply.find("<statusCode>1</statusCode>") != std::string::npos;
}
