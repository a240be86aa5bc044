// A WS-Security UsernameToken with a PasswordDigest, as ONVIF cameras that do
// not speak HTTP Digest want it: a fresh random nonce, the creation time as
// the camera's clock reads it (a camera refuses a token whose time is far off
// its own), and Base64(SHA-1(nonce + created + password)).
#ifndef USERNAMETOKEN_H
#define USERNAMETOKEN_H

#include <ctime>
#include <string>

class UsernameToken
{
public:
    // cameraUtc: the camera's time now, that is local UTC plus the offset
    // read from it.
    UsernameToken(const std::string &user, const std::string &password, time_t cameraUtc);

    const std::string &user() const { return m_user; }
    const std::string &nonceBase64() const { return m_nonceBase64; }
    const std::string &created() const { return m_created; }
    const std::string &digest() const { return m_digest; }

    // nonce as raw bytes, not in Base64.
    static std::string passwordDigest(const std::string &nonce, const std::string &created,
                                      const std::string &password);
    // "YYYY-MM-DDThh:mm:ssZ".
    static std::string timestamp(time_t utc);

private:
    std::string m_user;
    std::string m_nonceBase64;
    std::string m_created;
    std::string m_digest;
};

#endif // USERNAMETOKEN_H
