// Makes the addresses a camera names for its services and streams usable from
// here. Cameras often name an address of their own view of the network: a
// loopback or unspecified address, the address of another interface or of
// the far side of a NAT, or a port appended twice. The address the user typed
// is the one that reaches the camera, so every address goes to that host,
// keeping the camera's scheme, port and path; and the SDK never puts
// credentials into a URL, so any the camera wrote in are dropped.
#ifndef ADDRESSHYGIENE_H
#define ADDRESSHYGIENE_H

#include <string>

class AddressHygiene
{
public:
    // loginHost: the host of the login as a URL carries it (see hostForUrl).
    explicit AddressHygiene(const std::string &loginHost) : m_loginHost(loginHost) {}

    // False when address is no scheme://host URL or its port is not a
    // number from 1 to 65535. Otherwise cleaned is the address to use and,
    // when that is not address itself, change says what was changed (without
    // any credentials it held).
    bool clean(const std::string &address, std::string *cleaned, std::string *change) const;

private:
    std::string m_loginHost;
};

#endif // ADDRESSHYGIENE_H
