// Sends a login's ONVIF requests to a camera over plain HTTP and reads the
// replies, authenticating as the camera wants: first without WS-Security;
// when it challenges for HTTP Digest, with Digest only from then on; when it
// answers NotAuthorized without a Digest challenge, with a UsernameToken whose
// time is the camera's clock (read without credentials, and once more when a
// token is refused). A request never carries both.
#ifndef SOAPCLIENT_H
#define SOAPCLIENT_H

#include "http/httpclient.h"
#include "onvif/soapdocument.h"

#include <curl/curl.h>

#include <ctime>
#include <functional>
#include <string>

class SoapEnvelope;

class SoapClient
{
public:
    // One operation: the service's namespace, the operation's name and what
    // goes into its element.
    struct Request
    {
        const char *ns;
        const char *operation;
        std::function<void(SoapEnvelope &)> fill;
    };

    // deviceUrl: the device service, where the clock is read.
    SoapClient(const std::string &deviceUrl, const std::string &user, const std::string &password);
    ~SoapClient();
    SoapClient(const SoapClient &) = delete;
    SoapClient &operator=(const SoapClient &) = delete;

    bool valid() const { return m_curl != nullptr; }
    // GetSystemDateAndTime without credentials; keeps the camera's offset
    // from local UTC. An error only when the camera could not be reached.
    int32_t readClock(HttpClient::Deadline deadline);
    time_t clockOffset() const { return m_clockOffset; }

    // CAMNET_ERR_NONE with reply holding the response; DEVICE_REFUSED for a
    // fault other than NotAuthorized, NOT_SUPPORTED for a missing service,
    // PROTOCOL for a reply that is not SOAP, AUTHENTICATION_FAILED when the
    // credentials are refused, or the transport's error.
    int32_t call(const std::string &url, const Request &request, HttpClient::Deadline deadline,
                 SoapDocument *reply);

private:
    enum class Auth
    {
        Unknown,
        Digest,
        Token
    };
    enum class Credentials
    {
        None,
        Digest,
        Token
    };
    struct Exchange
    {
        int32_t error = 0;
        long status = 0;
        std::string body;
        bool truncated = false;
        bool digestOffered = false; // some response of it challenged for Digest
    };

    Exchange post(const std::string &url, const Request &request, Credentials credentials,
                  HttpClient::Deadline deadline);
    static size_t collect(char *data, size_t size, size_t count, void *exchange);
    static size_t header(char *data, size_t size, size_t count, void *exchange);

    CURL *m_curl = nullptr;
    std::string m_deviceUrl;
    std::string m_user;
    std::string m_password;
    Auth m_auth = Auth::Unknown;
    time_t m_clockOffset = 0;
    bool m_clockReread = false;
};

#endif // SOAPCLIENT_H
