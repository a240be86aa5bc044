#include "onvif/usernametoken.h"

#include <glib.h>

#include <cstdio>

namespace {

constexpr size_t nonceBytes = 16;

std::string base64(const std::string &bytes)
{
    gchar *encoded = g_base64_encode(reinterpret_cast<const guchar *>(bytes.data()), bytes.size());
    const std::string text = encoded;
    g_free(encoded);
    return text;
}

// A camera may remember nonces to refuse replays; only unpredictable ones
// never collide with another client's.
std::string randomNonce()
{
    std::string nonce(nonceBytes, '\0');
    FILE *source = std::fopen("/dev/urandom", "rb");
    const bool read = source && std::fread(&nonce[0], 1, nonce.size(), source) == nonce.size();
    if (source)
        std::fclose(source);
    if (!read) {
        for (char &byte : nonce)
            byte = char(g_random_int_range(0, 256));
    }
    return nonce;
}

} // namespace

UsernameToken::UsernameToken(const std::string &user, const std::string &password, time_t cameraUtc)
    : m_user(user), m_created(timestamp(cameraUtc))
{
    const std::string nonce = randomNonce();
    m_nonceBase64 = base64(nonce);
    m_digest = passwordDigest(nonce, m_created, password);
}

std::string UsernameToken::passwordDigest(const std::string &nonce, const std::string &created,
                                          const std::string &password)
{
    GChecksum *sha1 = g_checksum_new(G_CHECKSUM_SHA1);
    const std::string input = nonce + created + password;
    g_checksum_update(sha1, reinterpret_cast<const guchar *>(input.data()), gssize(input.size()));
    guint8 digest[20];
    gsize length = sizeof digest;
    g_checksum_get_digest(sha1, digest, &length);
    g_checksum_free(sha1);
    return base64(std::string(reinterpret_cast<const char *>(digest), length));
}

std::string UsernameToken::timestamp(time_t utc)
{
    struct tm parts;
    if (!gmtime_r(&utc, &parts))
        return std::string();
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}
