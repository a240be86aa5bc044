#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>

#include <netinet/in.h>

class CamState;
class OnvifService;

// The simulated camera's WS-Discovery responder, run only when asked for
// (--ws-discovery). It joins the group 239.255.255.250 on UDP port 3702 on
// the interface that holds the --listen address, or on every multicast
// interface when that is 0.0.0.0, and answers a Probe that came in on one of
// them and asks for a network video transmitter (or for any device) with one
// ProbeMatches sent back to the prober alone. It never announces itself:
// no Hello, no Bye, nothing sent to the group.
class WsDiscovery
{
public:
    static constexpr uint16_t port = 3702;

    WsDiscovery(CamState &state, const OnvifService &onvif, const QString &listen);
    ~WsDiscovery();
    WsDiscovery(const WsDiscovery &) = delete;
    WsDiscovery &operator=(const WsDiscovery &) = delete;

    bool start(QString *error);
    void stop();

private:
    bool join(in_addr listen, QString *error);
    void run();
    void answer(const QByteArray &datagram, const sockaddr_in &from, const in_addr &local);

    CamState &m_state;
    const OnvifService &m_onvif;
    const QString m_listen;
    int m_socket = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::set<int> m_interfaces; // indexes of the interfaces joined on
    const quint64 m_instanceId;
    std::atomic<quint64> m_messageNumber{0};
};
