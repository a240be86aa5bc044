#include "cameradiscovery.h"

#include <QHash>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QUrl>
#include <QUuid>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

const char probeGroup[] = "239.255.255.250";
constexpr quint16 probePort = 3702;

// Limits on what one answer may make us keep, so that a flood of large or
// repetitive answers cannot grow without bound.
constexpr int maxMatchesPerAnswer = 64;
constexpr int maxMatchesPerRun = 1024;
constexpr int maxItemsPerList = 64;
constexpr int maxNameLength = 128;

const QString nsSoap12 = QStringLiteral("http://www.w3.org/2003/05/soap-envelope");
const QString nsSoap11 = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
const QString nsAddressing2004 = QStringLiteral("http://schemas.xmlsoap.org/ws/2004/08/addressing");
const QString nsAddressing2005 = QStringLiteral("http://www.w3.org/2005/08/addressing");
const QString nsDiscovery2005 = QStringLiteral("http://schemas.xmlsoap.org/ws/2005/04/discovery");
const QString nsDiscovery2009 =
    QStringLiteral("http://docs.oasis-open.org/ws-dd/ns/discovery/2009/01");
const QString nameScope = QStringLiteral("onvif://www.onvif.org/name/");

// Cameras of both WS-Discovery generations answer; the elements are known by
// their namespace, whatever prefix the camera chose.
bool isSoap(const QXmlStreamReader &xml)
{
    return xml.namespaceUri() == nsSoap12 || xml.namespaceUri() == nsSoap11;
}

bool isAddressing(const QXmlStreamReader &xml, const char *name)
{
    return xml.name() == QLatin1String(name) &&
           (xml.namespaceUri() == nsAddressing2004 || xml.namespaceUri() == nsAddressing2005);
}

bool isDiscovery(const QXmlStreamReader &xml, const char *name)
{
    return xml.name() == QLatin1String(name) &&
           (xml.namespaceUri() == nsDiscovery2005 || xml.namespaceUri() == nsDiscovery2009);
}

QStringList splitList(const QString &text)
{
    return text.simplified().split(' ', Qt::SkipEmptyParts).mid(0, maxItemsPerList);
}

CameraDiscovery::ProbeMatch readProbeMatch(QXmlStreamReader &xml)
{
    CameraDiscovery::ProbeMatch match;
    while (xml.readNextStartElement()) {
        if (isAddressing(xml, "EndpointReference")) {
            while (xml.readNextStartElement()) {
                if (isAddressing(xml, "Address"))
                    match.endpoint =
                        xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                else
                    xml.skipCurrentElement();
            }
        } else if (isDiscovery(xml, "Types")) {
            match.types = splitList(xml.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (isDiscovery(xml, "Scopes")) {
            match.scopes = splitList(xml.readElementText(QXmlStreamReader::SkipChildElements));
        } else if (isDiscovery(xml, "XAddrs")) {
            match.xaddrs = splitList(xml.readElementText(QXmlStreamReader::SkipChildElements));
        } else {
            xml.skipCurrentElement();
        }
    }
    return match;
}

void readBody(QXmlStreamReader &xml, QList<CameraDiscovery::ProbeMatch> *matches)
{
    while (xml.readNextStartElement()) {
        if (!isDiscovery(xml, "ProbeMatches")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (isDiscovery(xml, "ProbeMatch") && matches->size() < maxMatchesPerAnswer)
                *matches << readProbeMatch(xml);
            else
                xml.skipCurrentElement();
        }
    }
}

// 0: on one of our subnets; then by family; host names last.
int rankOf(const QUrl &url, const QList<CameraDiscovery::Subnet> &subnets)
{
    const QHostAddress host(url.host());
    if (host.isNull())
        return 4;
    const bool v4 = host.protocol() == QAbstractSocket::IPv4Protocol;
    for (const CameraDiscovery::Subnet &subnet : subnets) {
        if (host.isInSubnet(subnet.first, subnet.second))
            return v4 ? 0 : 1;
    }
    return v4 ? 2 : 3;
}

// An address nobody can connect to a camera at; it names the camera's own
// unconfigured side, not where it can be reached.
bool isUsableHost(const QString &text)
{
    const QHostAddress host(text);
    if (host.isNull())
        return !text.isEmpty();
    return host != QHostAddress::AnyIPv4 && host != QHostAddress::AnyIPv6 && !host.isMulticast() &&
           host != QHostAddress::Broadcast;
}

CameraDiscovery::Factory &installedFactory()
{
    static CameraDiscovery::Factory factory;
    return factory;
}

} // namespace

CameraDiscovery::CameraDiscovery(QObject *parent) : QObject(parent)
{
    m_repeatTimer.setSingleShot(true);
    m_listenTimer.setSingleShot(true);
    connect(&m_repeatTimer, &QTimer::timeout, this, &CameraDiscovery::sendProbes);
    connect(&m_listenTimer, &QTimer::timeout, this, &CameraDiscovery::finish);
}

CameraDiscovery::~CameraDiscovery() = default;

CameraDiscovery *CameraDiscovery::create(QObject *parent)
{
    const Factory &factory = installedFactory();
    return factory ? factory(parent) : new CameraDiscovery(parent);
}

void CameraDiscovery::setFactory(Factory factory)
{
    installedFactory() = std::move(factory);
}

void CameraDiscovery::setResult(const QList<DiscoveredCamera> &cameras, int interfacesProbed)
{
    m_cameras = cameras;
    m_interfacesProbed = interfacesProbed;
}

QByteArray CameraDiscovery::probeMessage(const QString &messageId)
{
    QByteArray message(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
        " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
        " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
        " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
        "<s:Header>"
        "<a:Action s:mustUnderstand=\"1\">"
        "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
        "<a:MessageID>@ID@</a:MessageID>"
        "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
        "</s:Header>"
        "<s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types></d:Probe></s:Body>"
        "</s:Envelope>");
    // The id is ours (a UUID URN), so it needs no escaping.
    return message.replace("@ID@", messageId.toUtf8());
}

QList<CameraDiscovery::ProbeMatch> CameraDiscovery::parseProbeMatches(const QByteArray &datagram,
                                                                      QString *relatesTo)
{
    QList<ProbeMatch> matches;
    QString relation;
    if (datagram.size() > maxDatagramBytes)
        return matches;
    QXmlStreamReader xml(datagram);
    // A document type could declare entities; an answer has no use for one.
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD)
            return matches;
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement || !isSoap(xml) ||
        xml.name() != QLatin1String("Envelope"))
        return matches;
    while (xml.readNextStartElement()) {
        if (isSoap(xml) && xml.name() == QLatin1String("Header")) {
            while (xml.readNextStartElement()) {
                if (isAddressing(xml, "RelatesTo"))
                    relation = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                else
                    xml.skipCurrentElement();
            }
        } else if (isSoap(xml) && xml.name() == QLatin1String("Body")) {
            readBody(xml, &matches);
        } else {
            xml.skipCurrentElement();
        }
    }
    // Whatever follows must still be well-formed, or none of it is trusted.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return {};
    if (relatesTo)
        *relatesTo = relation;
    return matches;
}

QList<CameraDiscovery::ProbeMatch> CameraDiscovery::mergeMatches(const QList<ProbeMatch> &matches)
{
    QList<ProbeMatch> merged;
    QHash<QString, int> byKey;
    const auto addNew = [](QStringList &into, const QStringList &from) {
        for (const QString &item : from) {
            if (!into.contains(item) && into.size() < maxItemsPerList)
                into << item;
        }
    };
    for (const ProbeMatch &match : matches) {
        // A device without an endpoint is known by what it offers instead.
        const QString key = match.endpoint.isEmpty()
                                ? QStringLiteral("xaddrs:") + match.xaddrs.join(' ')
                                : match.endpoint.toLower();
        if (match.endpoint.isEmpty() && match.xaddrs.isEmpty())
            continue;
        const auto known = byKey.constFind(key);
        if (known == byKey.constEnd()) {
            byKey.insert(key, merged.size());
            merged << match;
            continue;
        }
        ProbeMatch &into = merged[*known];
        addNew(into.types, match.types);
        addNew(into.scopes, match.scopes);
        addNew(into.xaddrs, match.xaddrs);
    }
    return merged;
}

QStringList CameraDiscovery::rankXAddrs(const QStringList &xaddrs, const QList<Subnet> &subnets)
{
    QList<QPair<int, QString>> ranked;
    QStringList seen;
    for (const QString &xaddr : xaddrs) {
        const QUrl url(xaddr, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
            !isUsableHost(url.host()) || url.port() == 0 || seen.contains(xaddr))
            continue;
        seen << xaddr;
        ranked << qMakePair(rankOf(url, subnets), xaddr);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList best;
    for (const auto &entry : ranked)
        best << entry.second;
    return best;
}

bool CameraDiscovery::describe(const ProbeMatch &match, const QList<Subnet> &subnets,
                               DiscoveredCamera *camera)
{
    const QStringList ranked = rankXAddrs(match.xaddrs, subnets);
    if (ranked.isEmpty())
        return false;
    const QUrl best(ranked.first());
    camera->address = best.host();
    camera->port = best.port(best.scheme() == QLatin1String("https") ? 443 : 80);
    camera->endpoint = match.endpoint;
    camera->xaddrs = ranked;
    camera->name.clear();
    for (const QString &scope : match.scopes) {
        if (!scope.startsWith(nameScope, Qt::CaseInsensitive))
            continue;
        const QString name =
            QUrl::fromPercentEncoding(scope.mid(nameScope.size()).toUtf8()).simplified();
        if (!name.isEmpty()) {
            camera->name = name.left(maxNameLength);
            break;
        }
    }
    if (camera->name.isEmpty())
        camera->name = camera->address;
    return true;
}

void CameraDiscovery::start()
{
    cancel();
    m_matches.clear();
    m_cameras.clear();
    m_messageIds.clear();
    m_subnets.clear();
    m_interfaceIndexes.clear();
    m_probedOn.clear();
    m_interfacesProbed = 0;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        bool hasIpv4 = false;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            m_subnets << qMakePair(entry.ip(), entry.prefixLength());
            hasIpv4 = hasIpv4 || entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
        }
        // The probe goes to an IPv4 group, so it leaves only where IPv4 is.
        if (hasIpv4 && flags.testFlag(QNetworkInterface::CanMulticast))
            m_interfaceIndexes << iface.index();
    }
    m_running = true;
    m_socket = new QUdpSocket(this);
    if (m_interfaceIndexes.isEmpty() || !m_socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        QMetaObject::invokeMethod(this, &CameraDiscovery::finish, Qt::QueuedConnection);
        return;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &CameraDiscovery::readAnswers);
    sendProbes();
    m_repeatTimer.start(repeatMs);
    m_listenTimer.start(listenMs);
}

void CameraDiscovery::sendProbes()
{
    if (!m_socket)
        return;
    for (const int index : qAsConst(m_interfaceIndexes)) {
        const QNetworkInterface iface = QNetworkInterface::interfaceFromIndex(index);
        if (!iface.isValid())
            continue;
        // Each interface needs the probe of its own: a multicast datagram
        // leaves through one interface only.
        m_socket->setMulticastInterface(iface);
        const QString id =
            QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_messageIds.insert(id);
        if (m_socket->writeDatagram(probeMessage(id), QHostAddress(QLatin1String(probeGroup)),
                                    probePort) >= 0)
            m_probedOn.insert(index);
    }
}

void CameraDiscovery::readAnswers()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        if (size < 0 || size > maxDatagramBytes) {
            m_socket->readDatagram(nullptr, 0);
            continue;
        }
        QByteArray datagram(int(size), '\0');
        if (m_socket->readDatagram(datagram.data(), size) < 0)
            continue;
        QString relatesTo;
        const QList<ProbeMatch> matches = parseProbeMatches(datagram, &relatesTo);
        // An answer to someone else's probe is not about our networks.
        if (!relatesTo.isEmpty() && !m_messageIds.contains(relatesTo))
            continue;
        for (const ProbeMatch &match : matches) {
            if (m_matches.size() < maxMatchesPerRun)
                m_matches << match;
        }
    }
}

void CameraDiscovery::finish()
{
    if (!m_running)
        return;
    readAnswers();
    closeSocket();
    m_running = false;
    m_interfacesProbed = m_probedOn.size();
    m_cameras.clear();
    for (const ProbeMatch &match : mergeMatches(m_matches)) {
        DiscoveredCamera camera;
        if (describe(match, m_subnets, &camera))
            m_cameras << camera;
    }
    std::stable_sort(m_cameras.begin(), m_cameras.end(),
                     [](const DiscoveredCamera &a, const DiscoveredCamera &b) {
                         return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
                     });
    emit finished();
}

void CameraDiscovery::cancel()
{
    m_running = false;
    closeSocket();
}

void CameraDiscovery::closeSocket()
{
    m_repeatTimer.stop();
    m_listenTimer.stop();
    if (m_socket) {
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

// Compiled here rather than with the library's other meta-objects, so that
// using the discovery does not pull in the rest of the library.
#include "moc_cameradiscovery.cpp"
