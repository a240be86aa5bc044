#pragma once

#include <QByteArray>
#include <QDateTime>

#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

// WS-Security UsernameToken with a PasswordDigest, as the simulated camera
// checks it: Base64(SHA-1(nonce + created + password)), the Created time
// within a window of the camera's own clock (which may be off; a client must
// read it first), and each nonce taken once within the time it could be
// replayed in.
class UsernameTokenAuth
{
public:
    // The fields of a UsernameToken as sent; null when absent.
    struct Token
    {
        QByteArray username;
        QByteArray password;
        QByteArray passwordType;
        QByteArray nonce; // Base64 text
        QByteArray nonceEncoding;
        QByteArray created;
    };

    enum class Verdict
    {
        Accepted,
        Denied,   // wrong user or password, or not a password digest
        Expired,  // Created too far from the camera's clock
        Replayed, // the nonce was taken already
    };

    static constexpr int windowSeconds = 60;
    static constexpr const char *passwordDigestType =
        "http://docs.oasis-open.org/wss/2004/01/"
        "oasis-200401-wss-username-token-profile-1.0#PasswordDigest";

    UsernameTokenAuth(const QByteArray &user, const QByteArray &password);

    // now is the camera's clock, offset included.
    Verdict check(const Token &token, const QDateTime &now);

    static QByteArray digest(const QByteArray &rawNonce, const QByteArray &created,
                             const QByteArray &password);

private:
    bool takeNonce(const QByteArray &rawNonce, const QDateTime &now);

    const QByteArray m_user;
    const QByteArray m_password;
    std::mutex m_mutex;
    std::unordered_map<std::string, QDateTime> m_nonces; // nonce -> when it may be forgotten
    std::deque<std::string> m_order;
};
