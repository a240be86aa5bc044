// ISAPIInteract against the recording fake SDK: the request bytes, where the
// reply is taken from, and what failures leave behind.
#include "calibrationvalues.h"
#include "camnetsdkfake.h"
#include "isapiinteract.h"
#include "testsupport.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using TestSupport::entries;
using TestSupport::valuesOf;

const std::string capLine = "GET /ISAPI/Thermal/channels/2/fusionCalibration/capabilities\r\n";
const std::string getLine = "GET /ISAPI/Thermal/channels/2/fusionCalibration\r\n";
const std::string putLine = "PUT /ISAPI/Thermal/channels/2/fusionCalibration\r\n";

QVariantList unsignedList(std::initializer_list<unsigned int> values)
{
    QVariantList out;
    for (unsigned int v : values)
        out << QVariant(v);
    return out;
}

FakeSdk::XmlReply replyOf(const std::string &response, const std::string &status = {})
{
    FakeSdk::XmlReply r;
    r.response = response;
    r.status = status;
    return r;
}

// The bytes of a record as the SDK would see them.
template<typename Record>
std::string bytesOf(const Record &record)
{
    return std::string(reinterpret_cast<const char *>(&record), sizeof(record));
}

// A record as recorded, with its pointer fields set to null: what remains must
// equal a cleared record holding only the expected sizes, so a reserved or
// padding byte left uncleared shows up.
template<typename Record>
Record recorded(const std::string &bytes)
{
    Record record;
    std::memcpy(&record, bytes.data(), sizeof(record));
    return record;
}

template<typename Record>
Record cleared()
{
    Record record;
    std::memset(&record, 0, sizeof(record));
    return record;
}

std::string inputWithoutPointers(const std::string &bytes)
{
    XmlConfigInput input = recorded<XmlConfigInput>(bytes);
    input.requestLine = nullptr;
    input.body = nullptr;
    return bytesOf(input);
}

std::string outputWithoutPointers(const std::string &bytes)
{
    XmlConfigOutput output = recorded<XmlConfigOutput>(bytes);
    output.response = nullptr;
    output.status = nullptr;
    return bytesOf(output);
}

std::string stdConfigWithoutPointers(const std::string &bytes)
{
    StdConfigRecord record = recorded<StdConfigRecord>(bytes);
    record.condition = nullptr;
    record.input = nullptr;
    record.output = nullptr;
    record.status = nullptr;
    return bytesOf(record);
}

// The bytes of a switch call's record as the exchange must fill it: the
// channel as condition, a status buffer, and the given record sizes.
std::string expectedSwitchCall(uint32_t inputSize, uint32_t outputSize)
{
    StdConfigRecord record = cleared<StdConfigRecord>();
    record.conditionSize = 4;
    record.inputSize = inputSize;
    record.outputSize = outputSize;
    record.statusSize = 16384;
    return bytesOf(record);
}

std::string expectedOutputRecord()
{
    XmlConfigOutput output = cleared<XmlConfigOutput>();
    output.size = sizeof(XmlConfigOutput);
    output.responseSize = 1048576;
    output.statusSize = 16384;
    return bytesOf(output);
}

// Leaves freed heap blocks of the status buffer's size full of non-zero
// bytes, so that a buffer taken from the heap without clearing it shows.
void dirtyTheHeap()
{
    for (int i = 0; i < 4; ++i) {
        std::unique_ptr<char[]> block(new char[16384]);
        std::memset(block.get(), 0x5a, 16384);
    }
}

// How many bytes of a buffer are not zero; 0 for a buffer of the status
// buffer's size means it was handed over cleared.
size_t nonZeroBytes(const std::string &bytes)
{
    return bytes.size() == 16384
               ? size_t(std::count_if(bytes.begin(), bytes.end(), [](char c) { return c != 0; }))
               : size_t(-1);
}

std::string switchRecord(uint8_t state)
{
    std::string bytes(sizeof(FusionSwitchRecord), '\0');
    bytes[0] = char(0xDC); // 732, little-endian
    bytes[1] = char(0x02);
    bytes[5] = char(state);
    return bytes;
}

} // namespace

class TestIsapiInteract : public QObject
{
    Q_OBJECT

private slots:
    void init() { FakeSdk::reset(); }

    void concurrentFirstUseGivesOneObject();
    void capabilityRead();
    void failedCapabilityReadKeepsPriorEntries();
    void capabilityReplyWithoutBias();
    void valueRead();
    void valueReadWithEmptyResponse();
    void replyStopsAtBufferEndWithoutNul();
    void valueWrite();
    void failedValueWrite();
    void fusionSwitchRead_data();
    void fusionSwitchRead();
    void fusionSwitchWrite();
    void lastErrorSurvivesALaterSuccess();
};

void TestIsapiInteract::concurrentFirstUseGivesOneObject()
{
    std::atomic<bool> go{false};
    ISAPIInteract *seen[2] = {nullptr, nullptr};
    auto run = [&](int i) {
        while (!go.load())
            std::this_thread::yield();
        seen[i] = ISAPIInteract::getInstance();
    };
    std::thread a(run, 0);
    std::thread b(run, 1);
    go = true;
    a.join();
    b.join();
    QVERIFY(seen[0]);
    QCOMPARE(seen[0], seen[1]);
    QCOMPARE(ISAPIInteract::getInstance(), seen[0]);
    QCOMPARE(seen[0]->lastError(), -1);
    QVERIFY(!seen[0]->parent());
    QCOMPARE(seen[0]->metaObject()->className(), "ISAPIInteract");
    QVERIFY(FakeSdk::calls().empty());
}

void TestIsapiInteract::capabilityRead()
{
    FakeSdk::pushXmlReply(
        replyOf(TestSupport::readDataFile("fusioncalibrationcap_example.xml").toStdString(),
                "<ResponseStatus><statusCode>9</statusCode></ResponseStatus>"));
    SettingParamsCap cap;
    dirtyTheHeap();
    ISAPIInteract::getInstance()->getFusionCalibrationCap(3, cap);

    QCOMPARE(entries(cap),
             unsignedList({1, 10, 1, 0, 200, 100, 0, 200, 100, 1, 128, 64, 1, 128, 64}));
    for (const QVariant &v : entries(cap))
        QCOMPARE(v.userType(), int(QMetaType::UInt));

    const auto calls = FakeSdk::calls("CamNet_StdXmlConfig");
    QCOMPARE(calls.size(), size_t(1));
    const FakeSdk::Call &call = calls[0];
    QCOMPARE(call.args, std::vector<int64_t>{3});
    QCOMPARE(call.requestLine, capLine);
    QCOMPARE(call.requestLine.size(), size_t(62));
    QVERIFY(call.bodyIsNull);
    QCOMPARE(call.body.size(), size_t(0));
    QCOMPARE(call.responseCapacity, uint32_t(1048576));
    QCOMPARE(call.statusCapacity, uint32_t(16384));

    XmlConfigInput input;
    std::memcpy(&input, call.record.data(), sizeof(input));
    QCOMPARE(input.size, uint32_t(sizeof(XmlConfigInput)));
    QCOMPARE(input.requestLineLength, uint32_t(62));

    // Every byte of both records besides the named fields is zero, and the
    // status buffer arrives cleared.
    XmlConfigInput expectedInput = cleared<XmlConfigInput>();
    expectedInput.size = sizeof(XmlConfigInput);
    expectedInput.requestLineLength = 62;
    QCOMPARE(inputWithoutPointers(call.record), bytesOf(expectedInput));
    QCOMPARE(outputWithoutPointers(call.outputRecord), expectedOutputRecord());
    QVERIFY(recorded<XmlConfigOutput>(call.outputRecord).response);
    QCOMPARE(nonZeroBytes(call.status), size_t(0));
}

void TestIsapiInteract::failedCapabilityReadKeepsPriorEntries()
{
    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_TIMED_OUT);
    SettingParamsCap cap;
    ISAPIInteract::getInstance()->getFusionCalibrationCap(0, cap);
    QCOMPARE(entries(cap), (QVariantList{1, 10, 4, 1, -1, -1, 1, -1, -1, 1, 128, -1, 1, 128, -1}));
    QCOMPARE(cap.distanceLevel.min.userType(), int(QMetaType::Int));
    QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_TIMED_OUT));
}

void TestIsapiInteract::capabilityReplyWithoutBias()
{
    FakeSdk::pushXmlReply(replyOf("<FusionCalibrationCap>"
                                  "<distanceLevel min=\"1\" max=\"8\" default=\"2\"/>"
                                  "<ScaleRatio><horizontal min=\"-20\" max=\"99\" default=\"50\"/>"
                                  "<vertical min=\"2\" max=\"98\"/></ScaleRatio>"
                                  "</FusionCalibrationCap>"));
    SettingParamsCap cap;
    ISAPIInteract::getInstance()->getFusionCalibrationCap(0, cap);
    QCOMPARE(entries(cap),
             unsignedList({1, 8, 2, 0, 0, 0, 0, 0, 0, uint32_t(-20), 99, 50, 2, 98, 0}));
    QCOMPARE(cap.horScale.min.toInt(), -20);
}

void TestIsapiInteract::valueRead()
{
    FakeSdk::pushXmlReply(
        replyOf(TestSupport::readDataFile("fusioncalibration_4_64_64_-3_12.xml").toStdString(),
                "<FusionCalibration><distanceLevel>9</distanceLevel></FusionCalibration>"));
    SettingParams params;
    ISAPIInteract::getInstance()->getFusionCalibration(5, params);
    QCOMPARE(valuesOf(params), (QVector<int>{4, -3, 12, 64, 64}));

    const FakeSdk::Call call = FakeSdk::calls("CamNet_StdXmlConfig").at(0);
    QCOMPARE(call.requestLine, getLine);
    QCOMPARE(call.requestLine.size(), size_t(49));
    QVERIFY(call.bodyIsNull);
}

void TestIsapiInteract::valueReadWithEmptyResponse()
{
    FakeSdk::pushXmlReply(replyOf(""));
    SettingParams params{1, 2, 3, 4, 5};
    ISAPIInteract::getInstance()->getFusionCalibration(0, params);
    QCOMPARE(valuesOf(params), (QVector<int>{0, 0, 0, 0, 0}));

    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_CONNECTION_FAILED);
    SettingParams kept{1, 2, 3, 4, 5};
    ISAPIInteract::getInstance()->getFusionCalibration(0, kept);
    QCOMPARE(valuesOf(kept), (QVector<int>{1, 2, 3, 4, 5}));
}

void TestIsapiInteract::replyStopsAtBufferEndWithoutNul()
{
    // A status reply that fills the whole buffer with no NUL and claims more
    // than the buffer holds: still read, never past the end.
    const std::string head = "<ResponseStatus><statusCode>7</statusCode></ResponseStatus>";
    FakeSdk::XmlReply reply;
    reply.status = head + std::string(16384 - head.size(), ' ') + "garbage beyond";
    reply.terminate = false;
    reply.statusSizeField = 100000;
    FakeSdk::pushXmlReply(reply);
    QCOMPARE(ISAPIInteract::getInstance()->setFusionCalibration(SettingParams{}, 0), 7);

    // The size field bounds the text even when no NUL comes first: what lies
    // behind it would make the document malformed.
    const std::string doc = "<FusionCalibration><distanceLevel>45</distanceLevel>"
                            "</FusionCalibration>";
    FakeSdk::XmlReply bounded = replyOf(doc + "<junk/>");
    bounded.responseSizeField = int64_t(doc.size());
    FakeSdk::pushXmlReply(bounded);
    SettingParams params{9, 9, 9, 9, 9};
    ISAPIInteract::getInstance()->getFusionCalibration(0, params);
    QCOMPARE(valuesOf(params), (QVector<int>{45, 0, 0, 0, 0}));
}

void TestIsapiInteract::valueWrite()
{
    FakeSdk::pushXmlReply(
        replyOf("<FusionCalibration><distanceLevel>1</distanceLevel></FusionCalibration>",
                "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>"));
    const SettingParams params{4, -3, 12, 64, 64};
    dirtyTheHeap();
    QCOMPARE(ISAPIInteract::getInstance()->setFusionCalibration(params, 8), 1);

    const FakeSdk::Call call = FakeSdk::calls("CamNet_StdXmlConfig").at(0);
    QCOMPARE(call.args, std::vector<int64_t>{8});
    QCOMPARE(call.requestLine, putLine);
    const QByteArray golden = TestSupport::readDataFile("fusioncalibration_4_64_64_-3_12.xml");
    QCOMPARE(QByteArray::fromStdString(call.body), golden);
    XmlConfigInput input;
    std::memcpy(&input, call.record.data(), sizeof(input));
    QCOMPARE(input.bodyLength, uint32_t(golden.size()));
    QCOMPARE(input.requestLineLength, uint32_t(49));

    XmlConfigInput expectedInput = cleared<XmlConfigInput>();
    expectedInput.size = sizeof(XmlConfigInput);
    expectedInput.requestLineLength = 49;
    expectedInput.bodyLength = uint32_t(golden.size());
    QCOMPARE(inputWithoutPointers(call.record), bytesOf(expectedInput));
    QCOMPARE(outputWithoutPointers(call.outputRecord), expectedOutputRecord());
    // The reply of a PUT comes back in the status buffer, which starts cleared.
    QCOMPARE(nonZeroBytes(call.status), size_t(0));
}

void TestIsapiInteract::failedValueWrite()
{
    FakeSdk::pushFailure("CamNet_StdXmlConfig", CAMNET_ERR_DEVICE_REFUSED);
    QCOMPARE(ISAPIInteract::getInstance()->setFusionCalibration(SettingParams{}, 0), -1);
    QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_DEVICE_REFUSED));

    // A status text without a statusCode reads as 0.
    FakeSdk::pushXmlReply(replyOf("", "not xml"));
    QCOMPARE(ISAPIInteract::getInstance()->setFusionCalibration(SettingParams{}, 0), 0);
}

void TestIsapiInteract::fusionSwitchRead_data()
{
    QTest::addColumn<int>("byte5");
    QTest::addColumn<bool>("on");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("2") << 2 << false;
}

void TestIsapiInteract::fusionSwitchRead()
{
    QFETCH(int, byte5);
    QFETCH(bool, on);
    FakeSdk::pushStdOutput(switchRecord(uint8_t(byte5)));
    dirtyTheHeap();
    QCOMPARE(ISAPIInteract::getInstance()->getFusionSwitch(4), on);

    const FakeSdk::Call call = FakeSdk::calls("CamNet_GetStdConfig").at(0);
    QCOMPARE(call.args, (std::vector<int64_t>{4, 6768}));
    QCOMPARE(call.condition, std::string("\2\0\0\0", 4));
    QCOMPARE(call.input.size(), size_t(0));
    StdConfigRecord record;
    std::memcpy(&record, call.record.data(), sizeof(record));
    QCOMPARE(record.conditionSize, uint32_t(4));
    QVERIFY(!record.input);
    QCOMPARE(record.inputSize, uint32_t(0));
    QCOMPARE(record.outputSize, uint32_t(732));
    QCOMPARE(record.statusSize, uint32_t(16384));

    // The output is a cleared 732-byte switch record that names its own size.
    QVERIFY(record.output);
    QCOMPARE(call.output, switchRecord(0));
    QCOMPARE(nonZeroBytes(call.status), size_t(0));
    QCOMPARE(stdConfigWithoutPointers(call.record), expectedSwitchCall(0, 732));
}

void TestIsapiInteract::fusionSwitchWrite()
{
    dirtyTheHeap();
    QCOMPARE(ISAPIInteract::getInstance()->setFusionSwitch(2, 6), 0);
    const FakeSdk::Call call = FakeSdk::calls("CamNet_SetStdConfig").at(0);
    QCOMPARE(call.args, (std::vector<int64_t>{6, 6769}));
    QCOMPARE(call.condition, std::string("\2\0\0\0", 4));
    std::string expected = switchRecord(2);
    expected[4] = 1;
    QCOMPARE(call.input, expected);
    StdConfigRecord record;
    std::memcpy(&record, call.record.data(), sizeof(record));
    QVERIFY(!record.output);
    QCOMPARE(record.outputSize, uint32_t(0));
    QCOMPARE(record.statusSize, uint32_t(16384));
    QCOMPARE(nonZeroBytes(call.status), size_t(0));
    QCOMPARE(stdConfigWithoutPointers(call.record), expectedSwitchCall(732, 0));

    FakeSdk::pushFailure("CamNet_SetStdConfig", CAMNET_ERR_NOT_SUPPORTED);
    QCOMPARE(ISAPIInteract::getInstance()->setFusionSwitch(1, 6), -1);
    QCOMPARE(ISAPIInteract::getInstance()->lastError(), int(CAMNET_ERR_NOT_SUPPORTED));
}

void TestIsapiInteract::lastErrorSurvivesALaterSuccess()
{
    ISAPIInteract *exchange = ISAPIInteract::getInstance();
    FakeSdk::pushFailure("CamNet_GetStdConfig", CAMNET_ERR_UNKNOWN_LOGIN);
    QVERIFY(!exchange->getFusionSwitch(0));
    QCOMPARE(exchange->lastError(), int(CAMNET_ERR_UNKNOWN_LOGIN));
    FakeSdk::pushStdOutput(switchRecord(1));
    QVERIFY(exchange->getFusionSwitch(0));
    SettingParams params;
    exchange->getFusionCalibration(0, params);
    QCOMPARE(exchange->lastError(), int(CAMNET_ERR_UNKNOWN_LOGIN));
}

QTEST_GUILESS_MAIN(TestIsapiInteract)
#include "tst_isapiinteract.moc"
