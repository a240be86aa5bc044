// The baseline's client: bare libcurl, one easy handle kept for every PUT, so
// that the connection stays open and the Digest nonce is reused.
#ifndef DIGESTPUTCLIENT_H
#define DIGESTPUTCLIENT_H

#include <QByteArray>

#include <string>

typedef void CURL;
struct curl_slist;

class DigestPutClient
{
public:
    DigestPutClient(const QByteArray &url, const char *user, const char *password);
    ~DigestPutClient();
    DigestPutClient(const DigestPutClient &) = delete;
    DigestPutClient &operator=(const DigestPutClient &) = delete;

    // True when the camera accepted the document (status 200, statusCode 1).
    bool put(const QByteArray &document);

private:
    CURL *m_curl = nullptr;
    curl_slist *m_headers = nullptr;
    QByteArray m_url;
    std::string m_reply;
};

#endif // DIGESTPUTCLIENT_H
