// The camera address of a login as it may appear in a URL: a host name, an
// IPv4 literal or an IPv6 literal (bracketed or not, with an optional zone).
// Anything else could steer a request elsewhere ("host#", "host/x?",
// "user@host") and is refused before anything is sent.
#ifndef HOSTADDRESS_H
#define HOSTADDRESS_H

#include <string>

// False for anything but a host; otherwise urlHost is the host part of a URL:
// the address itself, or an IPv6 literal in brackets with its zone escaped.
bool hostForUrl(const std::string &address, std::string *urlHost);

#endif // HOSTADDRESS_H
