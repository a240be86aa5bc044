// Finding cameras, without a network: the probe as it goes out, the answers
// as cameras phrase them (any prefixes, either WS-Discovery generation,
// several addresses, duplicates) or garble them, and how the answers become
// the list the user picks from.
#include "cameradiscovery.h"

#include <QXmlStreamReader>
#include <QtTest>

namespace {

const char soap12[] = "http://www.w3.org/2003/05/soap-envelope";
const char wsa2004[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
const char wsd2005[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery";

// One ProbeMatches answer with the usual prefixes; body is the inside of
// ProbeMatches.
QByteArray answer(const QByteArray &body, const QByteArray &relatesTo = "urn:uuid:probe-1")
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") +
           soap12 + "\" xmlns:wsa=\"" + wsa2004 + "\" xmlns:wsdd=\"" + wsd2005 +
           "\"><SOAP-ENV:Header><wsa:MessageID>urn:uuid:answer</wsa:MessageID>"
           "<wsa:RelatesTo>" +
           relatesTo + "</wsa:RelatesTo></SOAP-ENV:Header><SOAP-ENV:Body><wsdd:ProbeMatches>" +
           body + "</wsdd:ProbeMatches></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

QByteArray match(const QByteArray &endpoint, const QByteArray &scopes, const QByteArray &xaddrs)
{
    return "<wsdd:ProbeMatch><wsa:EndpointReference><wsa:Address>" + endpoint +
           "</wsa:Address></wsa:EndpointReference>"
           "<wsdd:Types>dn:NetworkVideoTransmitter</wsdd:Types><wsdd:Scopes>" +
           scopes + "</wsdd:Scopes><wsdd:XAddrs>" + xaddrs +
           "</wsdd:XAddrs><wsdd:MetadataVersion>1</wsdd:MetadataVersion></wsdd:ProbeMatch>";
}

CameraDiscovery::ProbeMatch probeMatch(const QString &endpoint, const QStringList &xaddrs,
                                       const QStringList &scopes = {})
{
    CameraDiscovery::ProbeMatch m;
    m.endpoint = endpoint;
    m.xaddrs = xaddrs;
    m.scopes = scopes;
    return m;
}

QList<CameraDiscovery::Subnet> ourSubnets()
{
    return {{QHostAddress("192.168.1.10"), 24}, {QHostAddress("fe80::1"), 64}};
}

} // namespace

class TestCameraDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void probeIsAProbeForTransmitters();
    void answerWithSeveralMatches();
    void elementsAreKnownByNamespaceNotPrefix_data();
    void elementsAreKnownByNamespaceNotPrefix();
    void garbageYieldsNothing_data();
    void garbageYieldsNothing();
    void answersAreBounded();
    void duplicatesMergeByEndpoint();
    void addressesRankNearAndIpv4First();
    void listedCameraTakesNameScopeOrHost();
};

void TestCameraDiscovery::probeIsAProbeForTransmitters()
{
    const QByteArray probe = CameraDiscovery::probeMessage("urn:uuid:1234");
    QXmlStreamReader xml(probe);
    QString messageId, action, types;
    QStringList soapElements;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.namespaceUri() == soap12)
            soapElements << xml.name().toString();
        if (xml.name() == QLatin1String("MessageID") && xml.namespaceUri() == wsa2004)
            messageId = xml.readElementText();
        else if (xml.name() == QLatin1String("Action") && xml.namespaceUri() == wsa2004)
            action = xml.readElementText();
        else if (xml.name() == QLatin1String("Types") && xml.namespaceUri() == wsd2005)
            types = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(soapElements, (QStringList{"Envelope", "Header", "Body"}));
    QCOMPARE(messageId, QString("urn:uuid:1234"));
    QCOMPARE(action, QString("http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe"));
    // The type's prefix is declared, so a camera can resolve it.
    QCOMPARE(types, QString("dn:NetworkVideoTransmitter"));
    QVERIFY(probe.contains("xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""));
}

void TestCameraDiscovery::answerWithSeveralMatches()
{
    const QByteArray data = answer(
        match("urn:uuid:cam-a",
              "onvif://www.onvif.org/type/video_encoder\n  onvif://www.onvif.org/name/Gate%20North",
              "http://192.168.1.64/onvif/device_service  http://[fe80::4]/onvif/device_service") +
        match(" urn:uuid:cam-b ", "", "http://192.168.1.65:8080/onvif/device_service"));
    QString relatesTo;
    const QList<CameraDiscovery::ProbeMatch> matches =
        CameraDiscovery::parseProbeMatches(data, &relatesTo);
    QCOMPARE(relatesTo, QString("urn:uuid:probe-1"));
    QCOMPARE(matches.size(), 2);
    QCOMPARE(matches[0].endpoint, QString("urn:uuid:cam-a"));
    QCOMPARE(matches[0].types, QStringList{"dn:NetworkVideoTransmitter"});
    QCOMPARE(matches[0].scopes, (QStringList{"onvif://www.onvif.org/type/video_encoder",
                                             "onvif://www.onvif.org/name/Gate%20North"}));
    QCOMPARE(matches[0].xaddrs, (QStringList{"http://192.168.1.64/onvif/device_service",
                                             "http://[fe80::4]/onvif/device_service"}));
    QCOMPARE(matches[1].endpoint, QString("urn:uuid:cam-b"));
    QCOMPARE(matches[1].scopes, QStringList());
}

void TestCameraDiscovery::elementsAreKnownByNamespaceNotPrefix_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("found");
    const QByteArray body =
        "<ProbeMatch><EndpointReference xmlns=\"http://www.w3.org/2005/08/addressing\">"
        "<Address>urn:uuid:cam-c</Address></EndpointReference>"
        "<XAddrs>http://10.0.0.7/onvif/device_service</XAddrs></ProbeMatch>";
    // Default namespaces, WS-Discovery 1.1 and WS-Addressing 1.0.
    QTest::newRow("default namespaces")
        << QByteArray("<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Body>"
                      "<ProbeMatches xmlns=\"http://docs.oasis-open.org/ws-dd/ns/discovery/"
                      "2009/01\">") +
               body + "</ProbeMatches></Body></Envelope>"
        << 1;
    QTest::newRow("odd prefixes, SOAP 1.1")
        << QByteArray("<x:Envelope xmlns:x=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                      "xmlns:q=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
                      "xmlns:r=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"><x:Body>"
                      "<q:ProbeMatches><q:ProbeMatch><r:EndpointReference><r:Address>urn:uuid:"
                      "cam-d</r:Address></r:EndpointReference><q:XAddrs>http://10.0.0.8/</"
                      "q:XAddrs></q:ProbeMatch></q:ProbeMatches></x:Body></x:Envelope>")
        << 1;
    // The usual prefix bound to something else is not discovery.
    QTest::newRow("usual prefix, foreign namespace")
        << QByteArray("<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
                      "xmlns:d=\"http://example.org/not-discovery\"><s:Body><d:ProbeMatches>"
                      "<d:ProbeMatch><d:XAddrs>http://10.0.0.9/</d:XAddrs></d:ProbeMatch>"
                      "</d:ProbeMatches></s:Body></s:Envelope>")
        << 0;
    QTest::newRow("envelope not SOAP")
        << QByteArray("<Envelope><Body><ProbeMatches xmlns=\"http://schemas.xmlsoap.org/ws/"
                      "2005/04/discovery\">") +
               body + "</ProbeMatches></Body></Envelope>"
        << 0;
}

void TestCameraDiscovery::elementsAreKnownByNamespaceNotPrefix()
{
    QFETCH(QByteArray, data);
    QFETCH(int, found);
    const QList<CameraDiscovery::ProbeMatch> matches = CameraDiscovery::parseProbeMatches(data);
    QCOMPARE(matches.size(), found);
    if (found)
        QVERIFY(matches[0].endpoint.startsWith("urn:uuid:cam-"));
}

void TestCameraDiscovery::garbageYieldsNothing_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray good =
        answer(match("urn:uuid:cam-a", "", "http://192.168.1.64/onvif/device_service"));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not XML") << QByteArray("\x01\x02garbage\xff");
    QTest::newRow("truncated") << good.left(good.size() - 30);
    QTest::newRow("trailing garbage") << good + "<oops>";
    QTest::newRow("mismatched tags") << QByteArray(good).replace("</wsdd:ProbeMatches>", "</x>");
    QTest::newRow("entity bomb")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY a \"aaaaaaaaaa\">"
                      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>") +
               QByteArray(good).replace("urn:uuid:cam-a", "&b;").mid(38);
    QTest::newRow("oversized") << QByteArray(good).replace(
        "<wsdd:ProbeMatches>",
        "<wsdd:ProbeMatches><!--" + QByteArray(CameraDiscovery::maxDatagramBytes, 'x') + "-->");
}

void TestCameraDiscovery::garbageYieldsNothing()
{
    QFETCH(QByteArray, data);
    QString relatesTo = "untouched";
    QCOMPARE(CameraDiscovery::parseProbeMatches(data, &relatesTo).size(), 0);
}

void TestCameraDiscovery::answersAreBounded()
{
    // A well-formed answer listing far more than any camera does is kept
    // to a bounded number of matches and addresses.
    QByteArray xaddrs;
    for (int i = 0; i < 200; ++i)
        xaddrs += "http://10.0.0." + QByteArray::number(i) + "/ ";
    QByteArray many = match("urn:uuid:first", "", xaddrs);
    for (int i = 0; i < 70; ++i)
        many += match("urn:uuid:m" + QByteArray::number(i), "", "http://10.0.1.1/");
    const QByteArray data = answer(many);
    QVERIFY(data.size() < CameraDiscovery::maxDatagramBytes);
    const QList<CameraDiscovery::ProbeMatch> matches = CameraDiscovery::parseProbeMatches(data);
    QCOMPARE(matches.size(), 64);
    QCOMPARE(matches[0].xaddrs.size(), 64);
    QCOMPARE(matches[0].xaddrs.last(), QString("http://10.0.0.63/"));
}

void TestCameraDiscovery::duplicatesMergeByEndpoint()
{
    // The same camera answered the probes of two interfaces, each time with
    // the address on that side; another camera answered once.
    const QList<CameraDiscovery::ProbeMatch> merged = CameraDiscovery::mergeMatches({
        probeMatch("urn:uuid:CAM-A", {"http://192.168.1.64/onvif/device_service"},
                   {"onvif://www.onvif.org/name/A"}),
        probeMatch("urn:uuid:cam-b", {"http://192.168.1.65/onvif/device_service"}),
        probeMatch(
            "urn:uuid:cam-a",
            {"http://10.0.0.64/onvif/device_service", "http://192.168.1.64/onvif/device_service"},
            {"onvif://www.onvif.org/name/A", "onvif://www.onvif.org/location/x"}),
        probeMatch("", {"http://10.0.0.99/onvif/device_service"}),
        probeMatch("", {"http://10.0.0.99/onvif/device_service"}),
        probeMatch("", {}),
    });
    QCOMPARE(merged.size(), 3);
    QCOMPARE(merged[0].endpoint, QString("urn:uuid:CAM-A"));
    QCOMPARE(merged[0].xaddrs, (QStringList{"http://192.168.1.64/onvif/device_service",
                                            "http://10.0.0.64/onvif/device_service"}));
    QCOMPARE(merged[0].scopes,
             (QStringList{"onvif://www.onvif.org/name/A", "onvif://www.onvif.org/location/x"}));
    QCOMPARE(merged[1].endpoint, QString("urn:uuid:cam-b"));
    QCOMPARE(merged[2].xaddrs, QStringList{"http://10.0.0.99/onvif/device_service"});
}

void TestCameraDiscovery::addressesRankNearAndIpv4First()
{
    const QStringList ranked = CameraDiscovery::rankXAddrs(
        {
            "http://camera.example/onvif/device_service",
            "http://[2001:db8::5]/onvif/device_service",
            "http://10.0.0.5/onvif/device_service",
            "http://[fe80::5]/onvif/device_service",
            "http://0.0.0.0/onvif/device_service",
            "http://192.168.1.7:0/onvif/device_service",
            "ftp://192.168.1.5/",
            "not an address",
            "http://192.168.1.5:8080/onvif/device_service",
            "http://10.0.0.5/onvif/device_service",
            "http://192.168.1.6/onvif/device_service",
        },
        ourSubnets());
    QCOMPARE(ranked, (QStringList{
                         "http://192.168.1.5:8080/onvif/device_service",
                         "http://192.168.1.6/onvif/device_service",
                         "http://[fe80::5]/onvif/device_service",
                         "http://10.0.0.5/onvif/device_service",
                         "http://[2001:db8::5]/onvif/device_service",
                         "http://camera.example/onvif/device_service",
                     }));
    // Without a subnet in common, IPv4 still comes first.
    QCOMPARE(CameraDiscovery::rankXAddrs({"http://[2001:db8::5]/", "http://10.0.0.5/"}, {}),
             (QStringList{"http://10.0.0.5/", "http://[2001:db8::5]/"}));
}

void TestCameraDiscovery::listedCameraTakesNameScopeOrHost()
{
    DiscoveredCamera camera;
    QVERIFY(CameraDiscovery::describe(
        probeMatch("urn:uuid:a",
                   {"http://10.0.0.5/onvif/device_service",
                    "http://192.168.1.5:8080/onvif/device_service"},
                   {"onvif://www.onvif.org/hardware/X1",
                    "onvif://www.onvif.org/name/Gate%20North%20%E2%84%962"}),
        ourSubnets(), &camera));
    QCOMPARE(camera.name, QString::fromUtf8("Gate North №2"));
    QCOMPARE(camera.address, QString("192.168.1.5"));
    QCOMPARE(camera.port, 8080);
    QCOMPARE(camera.endpoint, QString("urn:uuid:a"));
    QCOMPARE(camera.xaddrs.size(), 2);

    // No name scope: the host; default ports by scheme; IPv6 without brackets.
    QVERIFY(CameraDiscovery::describe(probeMatch("urn:uuid:b",
                                                 {"https://[2001:db8::7]/onvif/device_service"},
                                                 {"onvif://www.onvif.org/name/"}),
                                      ourSubnets(), &camera));
    QCOMPARE(camera.name, QString("2001:db8::7"));
    QCOMPARE(camera.address, QString("2001:db8::7"));
    QCOMPARE(camera.port, 443);
    QVERIFY(CameraDiscovery::describe(probeMatch("urn:uuid:c", {"http://10.1.2.3/x"}), ourSubnets(),
                                      &camera));
    QCOMPARE(camera.port, 80);
    QCOMPARE(camera.name, QString("10.1.2.3"));

    // Nothing to connect to: not listed.
    QVERIFY(!CameraDiscovery::describe(probeMatch("urn:uuid:d", {"http://0.0.0.0/x", "junk"}),
                                       ourSubnets(), &camera));
}

QTEST_MAIN(TestCameraDiscovery)
#include "tst_cameradiscovery.moc"
