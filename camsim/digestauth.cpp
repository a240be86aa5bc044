#include "digestauth.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace {

// Nonces remembered at once; the oldest is forgotten first, and a client
// still holding it is told it is stale.
constexpr size_t maxNonces = 4096;

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, '\0');
    QRandomGenerator *random = QRandomGenerator::system();
    for (char &c : raw)
        c = char(random->bounded(256));
    return raw.toHex();
}

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

void skipSpace(const QByteArray &text, int *at)
{
    while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t'))
        ++*at;
}

// Equal in time independent of where the texts differ.
bool sameText(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= uchar(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

DigestAuth::DigestAuth(const QByteArray &realm, const QByteArray &user, const QByteArray &password,
                       unsigned nonceTimeoutSeconds)
    : m_realm(realm), m_user(user), m_ha1(md5Hex(user + ':' + realm + ':' + password)),
      m_opaque(randomHex(16)), m_nonceTimeout(nonceTimeoutSeconds)
{
}

bool DigestAuth::parseFields(const QByteArray &header, QMap<QByteArray, QByteArray> *fields)
{
    fields->clear();
    if (!header.toLower().startsWith("digest "))
        return false;
    int at = 7;
    for (;;) {
        skipSpace(header, &at);
        const int keyStart = at;
        while (at < header.size() && isTokenChar(header[at]))
            ++at;
        const QByteArray key = header.mid(keyStart, at - keyStart).toLower();
        skipSpace(header, &at);
        if (key.isEmpty() || at >= header.size() || header[at] != '=' || fields->contains(key))
            return false;
        ++at;
        skipSpace(header, &at);
        QByteArray value;
        if (at < header.size() && header[at] == '"') {
            for (++at;; ++at) {
                if (at >= header.size())
                    return false;
                if (header[at] == '"')
                    break;
                if (header[at] == '\\' && at + 1 < header.size())
                    ++at;
                value += header[at];
            }
            ++at;
        } else {
            const int valueStart = at;
            while (at < header.size() && isTokenChar(header[at]))
                ++at;
            value = header.mid(valueStart, at - valueStart);
        }
        fields->insert(key, value);
        skipSpace(header, &at);
        if (at == header.size())
            return true;
        if (header[at] != ',')
            return false;
        ++at;
    }
}

DigestAuth::Verdict DigestAuth::check(const QByteArray &method, const QByteArray &path,
                                      const QByteArray &authorization)
{
    QMap<QByteArray, QByteArray> f;
    if (!parseFields(authorization, &f))
        return Verdict::Denied;
    const QByteArray algorithm = f.value("algorithm", "MD5").toUpper();
    const QByteArray uri = f.value("uri");
    // The client signs the request target, query included; the server
    // compares the path it was asked for.
    const int query = uri.indexOf('?');
    if (f.value("username") != m_user || f.value("realm") != m_realm || algorithm != "MD5" ||
        f.value("qop") != "auth" || (query < 0 ? uri : uri.left(query)) != path ||
        f.value("nonce").isEmpty() || f.value("cnonce").isEmpty() || f.value("nc").size() != 8)
        return Verdict::Denied;
    bool ok = false;
    const quint32 count = f.value("nc").toUInt(&ok, 16);
    if (!ok)
        return Verdict::Denied;

    const QByteArray ha2 = md5Hex(method + ':' + uri);
    const QByteArray expected = md5Hex(m_ha1 + ':' + f.value("nonce") + ':' + f.value("nc") + ':' +
                                       f.value("cnonce") + ":auth:" + ha2);
    if (!sameText(expected, f.value("response").toLower()))
        return Verdict::Denied;
    return takeCount(f.value("nonce"), count) ? Verdict::Accepted : Verdict::Stale;
}

bool DigestAuth::takeCount(const QByteArray &nonce, quint32 count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_nonces.find(nonce.toStdString());
    if (it == m_nonces.end() || Clock::now() - it->second.issued > m_nonceTimeout ||
        count <= it->second.lastCount)
        return false;
    it->second.lastCount = count;
    return true;
}

QByteArray DigestAuth::challenge(bool stale)
{
    const QByteArray nonce = randomHex(16);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_issueOrder.size() >= maxNonces) {
            m_nonces.erase(m_issueOrder.front());
            m_issueOrder.pop_front();
        }
        m_nonces.emplace(nonce.toStdString(), Nonce{Clock::now(), 0});
        m_issueOrder.push_back(nonce.toStdString());
    }
    QByteArray header = "Digest realm=\"" + m_realm + "\", qop=\"auth\", nonce=\"" + nonce +
                        "\", opaque=\"" + m_opaque + "\", algorithm=MD5";
    if (stale)
        header += ", stale=true";
    return header;
}
