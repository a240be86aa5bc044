#include "http/hostaddress.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isIpv4(const std::string &text)
{
    in_addr address;
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// "fe80::1" or "fe80::1%eth0"; a zone names a local interface.
bool ipv6ForUrl(const std::string &text, std::string *urlHost)
{
    const size_t percent = text.find('%');
    const std::string address = text.substr(0, percent);
    in6_addr parsed;
    if (inet_pton(AF_INET6, address.c_str(), &parsed) != 1)
        return false;
    std::string host = "[" + address;
    if (percent != std::string::npos) {
        const std::string zone = text.substr(percent + 1);
        if (zone.empty() || !std::all_of(zone.begin(), zone.end(), [](char c) {
                return isAlnum(c) || c == '-' || c == '_' || c == '.';
            }))
            return false;
        host += "%25" + zone;
    }
    *urlHost = host + "]";
    return true;
}

bool isHostName(const std::string &text)
{
    std::string name = text;
    if (name.size() > 1 && name.back() == '.')
        name.pop_back();
    if (name.empty() || name.size() > 253)
        return false;
    size_t start = 0;
    bool lastAllDigits = false;
    while (start <= name.size()) {
        size_t end = name.find('.', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string label = name.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        if (!std::all_of(label.begin(), label.end(),
                         [](char c) { return isAlnum(c) || c == '-' || c == '_'; }))
            return false;
        lastAllDigits = std::all_of(label.begin(), label.end(), isDigit);
        start = end + 1;
    }
    // A name ending in digits only would be a malformed IPv4 literal.
    return !lastAllDigits;
}

} // namespace

bool hostForUrl(const std::string &address, std::string *urlHost)
{
    // The literal checks below read up to the first zero byte only.
    if (address.empty() || address.find('\0') != std::string::npos)
        return false;
    if (address.front() == '[') {
        if (address.size() < 3 || address.back() != ']')
            return false;
        return ipv6ForUrl(address.substr(1, address.size() - 2), urlHost);
    }
    if (address.find(':') != std::string::npos)
        return ipv6ForUrl(address, urlHost);
    if (isIpv4(address) || isHostName(address)) {
        *urlHost = address;
        return true;
    }
    return false;
}
