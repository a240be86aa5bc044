// Building and reading the calibration documents, compared with golden files.
#include "calibrationxml.h"
#include "testsupport.h"

#include <QtTest>

#include <limits>

using Values = QVector<int>;
Q_DECLARE_METATYPE(CalibrationDoc)

namespace {

Values valuesOf(const CalibrationDoc &d)
{
    return {d.distanceLevel, d.scaleHorizontal, d.scaleVertical, d.biasHorizontal, d.biasVertical};
}

Values valuesOf(const CapEntry &e)
{
    return {e.min, e.max, e.def};
}

QByteArray calibration(const QByteArray &inner, const QByteArray &root = "FusionCalibration")
{
    return "<?xml version=\"1.0\"?>\n<" + root + ">" + inner + "</" + root + ">\n";
}

} // namespace

class TestCalibrationXml : public QObject
{
    Q_OBJECT

private slots:
    void buildMatchesGoldenFile_data();
    void buildMatchesGoldenFile();
    void intToTextIsPlainDecimal();
    void parseCalibration_data();
    void parseCalibration();
    void parseKeepsFieldsItDoesNotFind();
    void parseDoesNotExpandEntities();
    void parseCapabilities();
    void parseCapabilityAttributes_data();
    void parseCapabilityAttributes();
    void parseResponseStatus();
};

void TestCalibrationXml::buildMatchesGoldenFile_data()
{
    QTest::addColumn<CalibrationDoc>("doc");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("nameSpace");
    QTest::addColumn<QString>("golden");

    QTest::newRow("example") << CalibrationDoc{4, 64, 64, -3, 12} << QByteArray() << QByteArray()
                             << "fusioncalibration_4_64_64_-3_12.xml";
    QTest::newRow("attributes and extremes")
        << CalibrationDoc{10, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max(), 0, -1}
        << QByteArray("2.0") << QByteArray("urn:example:calibration")
        << "fusioncalibration_versioned.xml";
}

void TestCalibrationXml::buildMatchesGoldenFile()
{
    QFETCH(CalibrationDoc, doc);
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, nameSpace);
    QFETCH(QString, golden);

    const QByteArray expected = TestSupport::readDataFile(golden);
    QVERIFY(!expected.isEmpty());
    const QByteArray built = buildFusionCalibrationXml(doc, version, nameSpace);
    QCOMPARE(built, expected);

    CalibrationDoc back;
    parseFusionCalibrationXml(back, built);
    QCOMPARE(valuesOf(back), valuesOf(doc));
}

void TestCalibrationXml::intToTextIsPlainDecimal()
{
    QCOMPARE(intToText(0), QByteArray("0"));
    QCOMPARE(intToText(7), QByteArray("7"));
    QCOMPARE(intToText(-3), QByteArray("-3"));
    QCOMPARE(intToText(1234567), QByteArray("1234567"));
    QCOMPARE(intToText(std::numeric_limits<int32_t>::min()), QByteArray("-2147483648"));
}

void TestCalibrationXml::parseCalibration_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Values>("expected");

    const QByteArray scale = "<ScaleRatio><horizontal>60</horizontal><vertical>70</vertical>"
                             "</ScaleRatio>";
    const QByteArray bias = "<Bias><horizontal>-5</horizontal><vertical>5</vertical></Bias>";
    const QByteArray level = "<distanceLevel>3</distanceLevel>";

    QTest::newRow("namespace and version on root")
        << TestSupport::readDataFile("fusioncalibration_versioned.xml")
        << Values{10, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0,
                  -1};
    QTest::newRow("prefixed names") << QByteArray("<p:FusionCalibration xmlns:p=\"urn:x\">"
                                                  "<p:distanceLevel>2</p:distanceLevel>"
                                                  "</p:FusionCalibration>")
                                    << Values{2, 0, 0, 0, 0};
    QTest::newRow("root in other letter case")
        << calibration(level + scale + bias, "fusionCalibration") << Values{0, 0, 0, 0, 0};
    QTest::newRow("bias before scale ratio")
        << calibration(level + bias + scale) << Values{3, 60, 70, 0, 0};
    QTest::newRow("element before the last one found is not seen")
        << calibration(scale + level + bias) << Values{3, 0, 0, -5, 5};
    QTest::newRow("first duplicate wins")
        << calibration(level + "<distanceLevel>9</distanceLevel>" + scale + bias)
        << Values{3, 60, 70, -5, 5};
    QTest::newRow("white space, plus sign, trailing garbage")
        << calibration("<distanceLevel> \n 7 \t</distanceLevel><ScaleRatio>"
                       "<horizontal>12abc</horizontal><vertical>+8 mm</vertical></ScaleRatio>")
        << Values{7, 12, 8, 0, 0};
    QTest::newRow("whole text content, comments and CDATA")
        << calibration("<distanceLevel>1<!-- x -->2<b>3</b><![CDATA[4]]></distanceLevel>")
        << Values{1234, 0, 0, 0, 0};
    QTest::newRow("non-numeric and empty read as zero")
        << calibration("<distanceLevel>x5</distanceLevel><ScaleRatio><horizontal/>"
                       "<vertical>-</vertical></ScaleRatio>")
        << Values{0, 0, 0, 0, 0};
    QTest::newRow("out of range saturates")
        << calibration("<distanceLevel>99999999999</distanceLevel><ScaleRatio>"
                       "<horizontal>-2147483649</horizontal><vertical>2147483648</vertical>"
                       "</ScaleRatio>")
        << Values{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
                  std::numeric_limits<int32_t>::max(), 0, 0};
    QTest::newRow("malformed") << QByteArray("<FusionCalibration><distanceLevel>3</distanceLevel>")
                               << Values{0, 0, 0, 0, 0};
}

void TestCalibrationXml::parseCalibration()
{
    QFETCH(QByteArray, text);
    QFETCH(Values, expected);
    CalibrationDoc doc;
    parseFusionCalibrationXml(doc, text);
    QCOMPARE(valuesOf(doc), expected);
}

void TestCalibrationXml::parseKeepsFieldsItDoesNotFind()
{
    const CalibrationDoc prior{9, 8, 7, 6, 5};
    CalibrationDoc doc = prior;
    parseFusionCalibrationXml(doc, QByteArray());
    QCOMPARE(valuesOf(doc), valuesOf(prior));
    parseFusionCalibrationXml(doc, "not xml at all");
    QCOMPARE(valuesOf(doc), valuesOf(prior));
    parseFusionCalibrationXml(doc, calibration("<Bias><vertical>1</vertical></Bias>"));
    QCOMPARE(valuesOf(doc), (Values{9, 8, 7, 6, 1}));
}

void TestCalibrationXml::parseDoesNotExpandEntities()
{
    const QByteArray text = "<?xml version=\"1.0\"?>\n"
                            "<!DOCTYPE FusionCalibration [<!ENTITY seven \"7\">\n"
                            "<!ENTITY ext SYSTEM \"file:///etc/hostname\">]>\n"
                            "<FusionCalibration><distanceLevel>&seven;</distanceLevel>"
                            "<ScaleRatio><horizontal>&ext;</horizontal>"
                            "<vertical>4&seven;</vertical></ScaleRatio></FusionCalibration>";
    CalibrationDoc doc;
    parseFusionCalibrationXml(doc, text);
    QCOMPARE(valuesOf(doc), (Values{0, 0, 4, 0, 0}));
}

void TestCalibrationXml::parseCapabilities()
{
    CapabilityDoc doc;
    parseFusionCalibrationCapXml(doc,
                                 TestSupport::readDataFile("fusioncalibrationcap_example.xml"));
    QCOMPARE(valuesOf(doc.distanceLevel), (Values{1, 10, 1}));
    QCOMPARE(valuesOf(doc.scaleHorizontal), (Values{1, 128, 64}));
    QCOMPARE(valuesOf(doc.scaleVertical), (Values{1, 128, 64}));
    QCOMPARE(valuesOf(doc.biasHorizontal), (Values{0, 200, 100}));
    QCOMPARE(valuesOf(doc.biasVertical), (Values{0, 200, 100}));

    // Without a Bias element both bias entries keep what they held.
    CapabilityDoc partial;
    partial.biasHorizontal = CapEntry{5, 6, 7};
    parseFusionCalibrationCapXml(
        partial, "<FusionCalibrationCap><distanceLevel min=\"2\" max=\"3\" default=\"2\"/>"
                 "<ScaleRatio><vertical min=\"1\" max=\"9\" default=\"4\">55</vertical>"
                 "</ScaleRatio></FusionCalibrationCap>");
    QCOMPARE(valuesOf(partial.distanceLevel), (Values{2, 3, 2}));
    QCOMPARE(valuesOf(partial.scaleHorizontal), (Values{0, 0, 0}));
    QCOMPARE(valuesOf(partial.scaleVertical), (Values{1, 9, 4}));
    QCOMPARE(valuesOf(partial.biasHorizontal), (Values{5, 6, 7}));
    QCOMPARE(valuesOf(partial.biasVertical), (Values{0, 0, 0}));

    CapabilityDoc wrongRoot;
    parseFusionCalibrationCapXml(wrongRoot,
                                 calibration("<distanceLevel min=\"2\" max=\"3\" default=\"2\"/>"));
    QCOMPARE(valuesOf(wrongRoot.distanceLevel), (Values{0, 0, 0}));
}

void TestCalibrationXml::parseCapabilityAttributes_data()
{
    QTest::addColumn<QByteArray>("attributes");
    QTest::addColumn<Values>("expected");

    QTest::newRow("negative is two's complement")
        << QByteArray("min=\"-20\" max=\"20\" default=\"0\"") << Values{-20, 20, 0};
    QTest::newRow("absent and empty keep prior")
        << QByteArray("min=\"\" max=\"3\"") << Values{11, 3, 33};
    QTest::newRow("white space and trailing garbage")
        << QByteArray("min=\" 7 units\" max=\"+9x\" default=\"\t12\"") << Values{7, 9, 12};
    QTest::newRow("full unsigned range") << QByteArray("min=\"4294967295\" max=\"2147483648\"")
                                         << Values{-1, std::numeric_limits<int32_t>::min(), 33};
    QTest::newRow("beyond 32 bits saturates, non-numeric is zero")
        << QByteArray("min=\"99999999999\" max=\"-99999999999\" default=\"abc\"")
        << Values{-1, -1, 0};
}

void TestCalibrationXml::parseCapabilityAttributes()
{
    QFETCH(QByteArray, attributes);
    QFETCH(Values, expected);
    CapabilityDoc doc;
    doc.distanceLevel = CapEntry{11, 22, 33};
    parseFusionCalibrationCapXml(doc, "<FusionCalibrationCap><distanceLevel " + attributes +
                                          "/></FusionCalibrationCap>");
    QCOMPARE(valuesOf(doc.distanceLevel), expected);
}

void TestCalibrationXml::parseResponseStatus()
{
    StatusDoc doc;
    parseResponseStatusXml(doc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ResponseStatus>"
                                "<requestURL>/x</requestURL>\n  <statusCode>4</statusCode>"
                                "<statusString>Invalid</statusString><statusCode>1</statusCode>"
                                "</ResponseStatus>");
    QCOMPARE(doc.statusCode, 4);

    StatusDoc unchanged;
    unchanged.statusCode = 3;
    parseResponseStatusXml(unchanged,
                           "<responseStatus><statusCode>1</statusCode></responseStatus>");
    QCOMPARE(unchanged.statusCode, 3);
    parseResponseStatusXml(unchanged, "<ResponseStatus><code>1</code></ResponseStatus>");
    QCOMPARE(unchanged.statusCode, 3);
}

QTEST_GUILESS_MAIN(TestCalibrationXml)
#include "tst_calibrationxml.moc"
