#include "usernametokenauth.h"

#include <QCryptographicHash>

namespace {

// Nonces remembered at once; beyond that the oldest is forgotten early.
constexpr size_t maxNonces = 4096;
constexpr int maxNonceBytes = 64;

bool sameText(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= uchar(a[i] ^ b[i]);
    return difference == 0;
}

// xsd:dateTime; without a zone it is taken as UTC, as the token's own
// profile asks clients to send UTC.
QDateTime parseCreated(const QByteArray &text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (t.isValid() && t.timeSpec() == Qt::LocalTime)
        t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace

UsernameTokenAuth::UsernameTokenAuth(const QByteArray &user, const QByteArray &password)
    : m_user(user), m_password(password)
{
}

QByteArray UsernameTokenAuth::digest(const QByteArray &rawNonce, const QByteArray &created,
                                     const QByteArray &password)
{
    return QCryptographicHash::hash(rawNonce + created + password, QCryptographicHash::Sha1)
        .toBase64();
}

UsernameTokenAuth::Verdict UsernameTokenAuth::check(const Token &token, const QDateTime &now)
{
    const bool base64 =
        token.nonceEncoding.isEmpty() || token.nonceEncoding.endsWith("#Base64Binary");
    const auto decoded =
        QByteArray::fromBase64Encoding(token.nonce, QByteArray::AbortOnBase64DecodingErrors);
    if (token.passwordType != passwordDigestType || !base64 || !decoded ||
        decoded.decoded.isEmpty() || decoded.decoded.size() > maxNonceBytes ||
        token.created.isEmpty() || token.username != m_user ||
        !sameText(digest(decoded.decoded, token.created, m_password), token.password))
        return Verdict::Denied;
    const QDateTime created = parseCreated(token.created);
    if (!created.isValid() || qAbs(created.secsTo(now)) > windowSeconds)
        return Verdict::Expired;
    return takeNonce(decoded.decoded, now) ? Verdict::Accepted : Verdict::Replayed;
}

bool UsernameTokenAuth::takeNonce(const QByteArray &rawNonce, const QDateTime &now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_order.empty()) {
        const auto oldest = m_nonces.find(m_order.front());
        if (m_order.size() < maxNonces && oldest != m_nonces.end() && oldest->second > now)
            break;
        if (oldest != m_nonces.end())
            m_nonces.erase(oldest);
        m_order.pop_front();
    }
    const std::string key = rawNonce.toStdString();
    if (m_nonces.count(key))
        return false;
    // A token is accepted while its Created lies within the window either
    // side of now, so its nonce must be remembered for twice the window.
    m_nonces.emplace(key, now.addSecs(2 * windowSeconds));
    m_order.push_back(key);
    return true;
}
