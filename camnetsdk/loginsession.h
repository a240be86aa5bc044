// One open login: the camera's address and credentials and the one keep-alive
// libcurl handle every request of this login goes through, one at a time.
#ifndef LOGINSESSION_H
#define LOGINSESSION_H

#include "httpresult.h"

#include <mutex>
#include <string>

typedef void CURL;

class LoginSession
{
public:
    LoginSession(const std::string &address, uint16_t port, const std::string &user,
                 const std::string &password);
    ~LoginSession();
    LoginSession(const LoginSession &) = delete;
    LoginSession &operator=(const LoginSession &) = delete;

    bool valid() const { return m_curl != nullptr; }
    // "http://host:port", for requests that need a connection of their own.
    const std::string &baseUrl() const { return m_base; }
    const std::string &user() const { return m_user; }
    const std::string &password() const { return m_password; }

    // Sends one request and waits for its reply, keeping at most bodyCap
    // bytes of the body. contentType is used only when a body is sent.
    HttpResult perform(const std::string &method, const std::string &path, const std::string *body,
                       const char *contentType, size_t bodyCap);

private:
    std::mutex m_mutex;
    CURL *m_curl = nullptr;
    std::string m_base;
    std::string m_user;
    std::string m_password;
};

#endif // LOGINSESSION_H
