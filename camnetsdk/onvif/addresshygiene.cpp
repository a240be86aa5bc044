#include "onvif/addresshygiene.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool validPort(const std::string &text)
{
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    const long port = std::stol(text);
    return port >= 1 && port <= 65535;
}

// "host", "host:port", "host:port:port", "[v6]:port"; false when the host is
// missing or a port is not a port.
bool splitAuthority(const std::string &authority, std::string *host,
                    std::vector<std::string> *ports)
{
    size_t hostEnd = 0;
    if (!authority.empty() && authority[0] == '[') {
        hostEnd = authority.find(']');
        if (hostEnd == std::string::npos)
            return false;
        ++hostEnd;
    } else {
        hostEnd = std::min(authority.find(':'), authority.size());
    }
    *host = authority.substr(0, hostEnd);
    if (host->empty() || host->find_first_of("/?#@ ") != std::string::npos)
        return false;
    std::string rest = authority.substr(hostEnd);
    while (!rest.empty()) {
        if (rest[0] != ':')
            return false;
        const size_t next = rest.find(':', 1);
        const std::string port = rest.substr(1, next == std::string::npos ? next : next - 1);
        if (!validPort(port))
            return false;
        ports->push_back(port);
        rest = next == std::string::npos ? std::string() : rest.substr(next);
    }
    return true;
}

} // namespace

bool AddressHygiene::clean(const std::string &address, std::string *cleaned,
                           std::string *change) const
{
    const size_t schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0)
        return false;
    const size_t authorityStart = schemeEnd + 3;
    const size_t authorityEnd =
        std::min(address.find_first_of("/?#", authorityStart), address.size());
    std::string authority = address.substr(authorityStart, authorityEnd - authorityStart);
    const std::string scheme = address.substr(0, authorityStart);
    const std::string tail = address.substr(authorityEnd);

    std::vector<std::string> changes;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
        changes.push_back("credentials removed");
    }
    std::string host;
    std::vector<std::string> ports;
    if (!splitAuthority(authority, &host, &ports))
        return false;
    if (ports.size() > 1)
        changes.push_back("port given " + std::to_string(ports.size()) + " times");
    if (lower(host) != lower(m_loginHost))
        changes.push_back("host " + host + ", not the " + m_loginHost + " logged in to");

    *cleaned = scheme + m_loginHost + (ports.empty() ? std::string() : ":" + ports[0]) + tail;
    change->clear();
    if (changes.empty())
        return true;
    // The original is shown without its credentials, which never go to a log.
    const std::string shown = scheme + authority + tail;
    for (size_t i = 0; i < changes.size(); ++i)
        *change += (i ? ", " : "") + changes[i];
    *change = shown + " (" + *change + "); using " + *cleaned;
    return true;
}
