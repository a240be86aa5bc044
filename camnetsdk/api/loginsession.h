// One open login: the camera's address and credentials and the one keep-alive
// libcurl handle every request of this login goes through, one at a time.
#ifndef LOGINSESSION_H
#define LOGINSESSION_H

#include "http/httpclient.h"
#include "http/httpresult.h"
#include "profile/deviceprofile.h"

#include <memory>
#include <mutex>
#include <string>

class OnvifResolver;

class LoginSession
{
public:
    // urlHost is the camera's host as a URL carries it (see hostForUrl).
    LoginSession(const std::string &urlHost, uint16_t port, const std::string &user,
                 const std::string &password, const DeviceProfile &profile);
    ~LoginSession();
    LoginSession(const LoginSession &) = delete;
    LoginSession &operator=(const LoginSession &) = delete;

    bool valid() const { return m_curl != nullptr; }
    // "http://host:port", for requests that need a connection of their own.
    const std::string &baseUrl() const { return m_base; }
    const std::string &user() const { return m_user; }
    const std::string &password() const { return m_password; }
    const DeviceProfile &profile() const { return m_profile; }
    // The channel's live stream as the profile places it.
    std::string streamUrl(int channel) const;
    // The URL a preview of the channel plays: the profile's, or the one the
    // camera names over ONVIF (asked once per login) when the profile says
    // streamUrl=onvif. CAMNET_ERR_NONE, or why there is none.
    int32_t resolveStreamUrl(int channel, HttpClient::Deadline deadline, std::string *url);

    // Sends one request and waits for its reply, keeping at most bodyCap
    // bytes of the body, and gives up at the deadline, including the time
    // spent waiting for another request of this login to finish.
    // contentType is used only when a body is sent.
    HttpResult perform(const std::string &method, const std::string &path, const std::string *body,
                       const char *contentType, size_t bodyCap, HttpClient::Deadline deadline);

private:
    std::timed_mutex m_mutex;
    CURL *m_curl = nullptr;
    std::string m_urlHost;
    uint16_t m_port;
    std::string m_base;
    std::string m_user;
    std::string m_password;
    DeviceProfile m_profile;
    std::unique_ptr<OnvifResolver> m_onvif;
};

#endif // LOGINSESSION_H
