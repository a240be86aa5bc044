#pragma once

#include <QByteArray>
#include <QMap>

#include <chrono>
#include <deque>
#include <mutex>
#include <unordered_map>

// HTTP Digest authentication (MD5, qop "auth") as the simulated camera checks
// it. Every challenge carries a nonce of its own, and each nonce count is
// taken once: a request whose answer is right for a nonce the camera no longer
// accepts (expired, forgotten or counted already) is told its nonce is stale,
// so the client retries without asking for the password again; a wrong
// answer is refused outright.
class DigestAuth
{
public:
    enum class Verdict
    {
        Accepted,
        Stale,  // right credentials, nonce no longer accepted
        Denied, // no or wrong credentials
    };

    DigestAuth(const QByteArray &realm, const QByteArray &user, const QByteArray &password,
               unsigned nonceTimeoutSeconds);

    // path is the request's path without its query; authorization the
    // Authorization header as sent, empty when there was none.
    Verdict check(const QByteArray &method, const QByteArray &path,
                  const QByteArray &authorization);
    // A WWW-Authenticate value with a fresh nonce.
    QByteArray challenge(bool stale);

    // The fields of a "Digest k=v, k="v", ..." header; false for anything else.
    static bool parseFields(const QByteArray &header, QMap<QByteArray, QByteArray> *fields);

private:
    using Clock = std::chrono::steady_clock;
    struct Nonce
    {
        Clock::time_point issued;
        quint32 lastCount = 0;
    };
    // Whether the nonce is current and count is new for it; records count.
    bool takeCount(const QByteArray &nonce, quint32 count);

    const QByteArray m_realm;
    const QByteArray m_user;
    const QByteArray m_ha1;
    const QByteArray m_opaque;
    const std::chrono::seconds m_nonceTimeout;

    std::mutex m_mutex;
    std::unordered_map<std::string, Nonce> m_nonces;
    std::deque<std::string> m_issueOrder;
};
