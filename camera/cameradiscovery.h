// Finds the network cameras on the networks this computer is on, the way
// cameras expect to be found: a WS-Discovery Probe for network video
// transmitters, multicast on every interface that can carry it, and the
// ProbeMatches that come back within a few seconds. The answers are merged per
// device and reduced to what the connection dialog needs: a name, an address
// and a port. The parsing, merging and ranking are plain functions, so that
// they are tested on canned answers without a network.
#ifndef CAMERADISCOVERY_H
#define CAMERADISCOVERY_H

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>

class QUdpSocket;

// One camera as the user picks it.
struct DiscoveredCamera
{
    QString name;
    QString address;
    int port = 0;
    // The device's identity across interfaces and address changes.
    QString endpoint;
    // Every service address it gave, best first.
    QStringList xaddrs;
};

class CameraDiscovery : public QObject
{
    Q_OBJECT

public:
    // What one ProbeMatch says about a device, as parsed.
    struct ProbeMatch
    {
        QString endpoint;
        QStringList types;
        QStringList scopes;
        QStringList xaddrs;
    };

    // A network this computer is on: an address of one of its interfaces and
    // the prefix length of that interface's subnet.
    using Subnet = QPair<QHostAddress, int>;

    // Answers larger than this are dropped unread; a real one is a few KiB.
    static constexpr int maxDatagramBytes = 32 * 1024;
    // How long it listens after the first probe.
    static constexpr int listenMs = 3000;
    // The pause before the probe is sent again, for a datagram lost on the way.
    static constexpr int repeatMs = 300;

    explicit CameraDiscovery(QObject *parent = nullptr);
    ~CameraDiscovery() override;

    // Creates the discovery the windows use; tests put one without a network
    // in its place with setFactory (an empty factory restores the real one).
    using Factory = std::function<CameraDiscovery *(QObject *parent)>;
    static CameraDiscovery *create(QObject *parent);
    static void setFactory(Factory factory);

    // Probes and listens; finished() follows after listenMs, or at once when
    // no interface can carry the probe. A run in progress is ended first.
    virtual void start();
    // Ends a run without finished().
    virtual void cancel();
    bool isRunning() const { return m_running; }

    // The cameras of the last run, sorted by name, and how many interfaces it
    // probed on (0: none was up and able to multicast).
    QList<DiscoveredCamera> cameras() const { return m_cameras; }
    int interfacesProbed() const { return m_interfacesProbed; }

    // The Probe as sent, with the given message id ("urn:uuid:...").
    static QByteArray probeMessage(const QString &messageId);
    // The matches in one answer; none for anything that is not a well-formed
    // SOAP envelope carrying ProbeMatches. relatesTo receives the id of the
    // probe it answers (empty when it names none).
    static QList<ProbeMatch> parseProbeMatches(const QByteArray &datagram,
                                               QString *relatesTo = nullptr);
    // Answers for the same device (same endpoint), from several probes or
    // interfaces, become one entry holding every service address and scope.
    static QList<ProbeMatch> mergeMatches(const QList<ProbeMatch> &matches);
    // Usable service addresses, best first: on one of our subnets before
    // elsewhere, IPv4 before IPv6, host names last; the device's own order
    // within each.
    static QStringList rankXAddrs(const QStringList &xaddrs, const QList<Subnet> &subnets);
    // The camera as listed: its name scope (or the host) and the best address.
    // False when it gave no usable service address.
    static bool describe(const ProbeMatch &match, const QList<Subnet> &subnets,
                         DiscoveredCamera *camera);

signals:
    void finished();

protected:
    // For a discovery that leaves the network alone: records a run's outcome.
    void setResult(const QList<DiscoveredCamera> &cameras, int interfacesProbed);
    void setRunning(bool running) { m_running = running; }

private:
    void sendProbes();
    void readAnswers();
    void finish();
    void closeSocket();

    QUdpSocket *m_socket = nullptr;
    QTimer m_repeatTimer;
    QTimer m_listenTimer;
    QList<int> m_interfaceIndexes;
    QSet<int> m_probedOn;
    QList<Subnet> m_subnets;
    QSet<QString> m_messageIds;
    QList<ProbeMatch> m_matches;
    QList<DiscoveredCamera> m_cameras;
    int m_interfacesProbed = 0;
    bool m_running = false;
};

#endif // CAMERADISCOVERY_H
