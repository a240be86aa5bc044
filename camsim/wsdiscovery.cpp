#include "wsdiscovery.h"

#include "camstate.h"
#include "onvifservice.h"
#include "onvifxml.h"
#include "soapmessage.h"

#include <QDateTime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

namespace Ns = OnvifXml::Ns;

const char group[] = "239.255.255.250";
// Probes are a few hundred bytes; a datagram beyond this is not read whole
// and is dropped.
constexpr size_t maxDatagram = 16 * 1024;

// A probe's types are met when each is one this camera is.
bool typesMatch(const QList<QPair<QByteArray, QByteArray>> &types)
{
    for (const auto &type : types) {
        const bool transmitter =
            type.first == Ns::network && type.second == "NetworkVideoTransmitter";
        const bool device = type.first == Ns::device && type.second == "Device";
        if (!transmitter && !device)
            return false;
    }
    return true;
}

// Each scope the probe names must match one of the camera's: equal under
// strcmp0, or a whole-segment prefix under the default RFC 3986 rule.
bool scopesMatch(const QByteArray &wanted, const QByteArray &matchBy,
                 const QList<QByteArray> &scopes)
{
    const bool exact = matchBy.endsWith("/strcmp0");
    if (!matchBy.isEmpty() && !exact && !matchBy.endsWith("/rfc3986"))
        return false;
    for (const QByteArray &scope : wanted.simplified().split(' ')) {
        if (scope.isEmpty())
            continue;
        bool found = false;
        for (const QByteArray &own : scopes) {
            found = found || own == scope ||
                    (!exact && own.startsWith(scope) &&
                     (scope.endsWith('/') || own.at(scope.size()) == '/'));
        }
        if (!found)
            return false;
    }
    return true;
}

QString systemError(const char *what)
{
    return QStringLiteral("ws-discovery: %1: %2")
        .arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

WsDiscovery::WsDiscovery(CamState &state, const OnvifService &onvif, const QString &listen)
    : m_state(state), m_onvif(onvif), m_listen(listen),
      m_instanceId(quint64(QDateTime::currentSecsSinceEpoch()))
{
}

WsDiscovery::~WsDiscovery()
{
    stop();
}

bool WsDiscovery::start(QString *error)
{
    in_addr listen{};
    if (inet_pton(AF_INET, m_listen.toLatin1().constData(), &listen) != 1) {
        *error = QStringLiteral("--ws-discovery needs an IPv4 --listen address");
        return false;
    }
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1, off = 0;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    // Only the group joined here is delivered, not every group some other
    // program on the machine joined.
    if (m_socket < 0 || setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) != 0 ||
        setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof(off)) != 0 ||
        bind(m_socket, reinterpret_cast<const sockaddr *>(&any), sizeof(any)) != 0) {
        *error = systemError("cannot bind UDP port 3702");
        return false;
    }
    if (!join(listen, error))
        return false;
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        *error = systemError("pipe");
        return false;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

bool WsDiscovery::join(in_addr listen, QString *error)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
        *error = systemError("cannot list interfaces");
        return false;
    }
    const bool everywhere = listen.s_addr == htonl(INADDR_ANY);
    for (const ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        const in_addr address = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
        if (everywhere ? !(i->ifa_flags & IFF_MULTICAST) : address.s_addr != listen.s_addr)
            continue;
        ip_mreqn request{};
        inet_pton(AF_INET, group, &request.imr_multiaddr);
        request.imr_address = address;
        request.imr_ifindex = int(if_nametoindex(i->ifa_name));
        if (setsockopt(m_socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) == 0)
            m_interfaces.insert(request.imr_ifindex);
    }
    freeifaddrs(list);
    if (m_interfaces.empty())
        *error = QStringLiteral("ws-discovery: no multicast interface holds %1").arg(m_listen);
    return !m_interfaces.empty();
}

void WsDiscovery::stop()
{
    if (m_thread.joinable()) {
        const char wake = 0;
        if (write(m_wake[1], &wake, 1) != 1)
            std::perror("ws-discovery: wake");
        m_thread.join();
    }
    for (int *fd : {&m_socket, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void WsDiscovery::run()
{
    QByteArray buffer(int(maxDatagram), '\0');
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_in from{};
        iovec data{buffer.data(), size_t(buffer.size())};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message{&from, sizeof(from), &data, 1, control, sizeof(control), 0};
        const ssize_t n = recvmsg(m_socket, &message, 0);
        if (n <= 0 || (message.msg_flags & MSG_TRUNC))
            continue;
        const in_pktinfo *info = nullptr;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                info = reinterpret_cast<const in_pktinfo *>(CMSG_DATA(c));
        }
        if (info && m_interfaces.count(info->ipi_ifindex))
            answer(QByteArray(buffer.constData(), int(n)), from, info->ipi_spec_dst);
    }
}

void WsDiscovery::answer(const QByteArray &datagram, const sockaddr_in &from, const in_addr &local)
{
    const SoapMessage probe(datagram);
    if (probe.problem() != SoapMessage::Problem::None || probe.operationNs() != Ns::discovery ||
        probe.operation() != "Probe")
        return;
    char fromText[INET_ADDRSTRLEN] = "", localText[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, fromText, sizeof(fromText));
    inet_ntop(AF_INET, &local, localText, sizeof(localText));
    const QList<QByteArray> scopes = m_onvif.scopeItems();
    const bool match = typesMatch(probe.bodyQNames(Ns::discovery, "Types")) &&
                       scopesMatch(probe.bodyText(Ns::discovery, "Scopes"),
                                   probe.bodyAttribute(Ns::discovery, "Scopes", "MatchBy"), scopes);
    m_state.countRequest(QStringLiteral("wsDiscoveryProbes"));
    if (match)
        m_state.countRequest(QStringLiteral("wsDiscoveryMatches"));
    std::printf("WS-Discovery Probe from %s:%u -> %s\n", fromText, unsigned(ntohs(from.sin_port)),
                match ? "ProbeMatches" : "no match");
    std::fflush(stdout);
    if (!match)
        return;
    // The address the probe came in on is the one the prober can reach.
    const QByteArray reply = OnvifXml::probeMatches(
        probe.headerText(Ns::addressing, "MessageID"), m_onvif.endpoint(), scopes,
        m_onvif.deviceXAddr(localText), m_instanceId, ++m_messageNumber);
    sendto(m_socket, reply.constData(), size_t(reply.size()), 0,
           reinterpret_cast<const sockaddr *>(&from), sizeof(from));
}
