#include "isapiinteract.h"

#include "appglobals.h"
#include "camnetsdk.h"
#include "zeroedbuffer.h"

#include <QAtomicPointer>
#include <QMutexLocker>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

QAtomicPointer<ISAPIInteract> s_instance;

// The reply text in buffer: up to its first NUL, never past written or the
// buffer's own capacity, whichever is smaller.
QByteArray takeReply(const char *buffer, uint32_t written, uint32_t capacity)
{
    const size_t limit = written < capacity ? written : capacity;
    const void *nul = std::memchr(buffer, '\0', limit);
    const size_t length = nul ? size_t(static_cast<const char *>(nul) - buffer) : limit;
    return QByteArray(buffer, int(length));
}

QVariant unsignedOf(int32_t value)
{
    return QVariant(static_cast<unsigned int>(value));
}

ParamRange rangeOf(const CapEntry &entry)
{
    return ParamRange{unsignedOf(entry.min), unsignedOf(entry.max), unsignedOf(entry.def)};
}

} // namespace

ISAPIInteract *ISAPIInteract::getInstance()
{
    ISAPIInteract *existing = s_instance.loadAcquire();
    if (existing)
        return existing;
    QMutexLocker locker(&exchangeMutex);
    existing = s_instance.loadAcquire();
    if (!existing) {
        existing = new ISAPIInteract;
        s_instance.storeRelease(existing);
    }
    return existing;
}

ISAPIInteract::ISAPIInteract() : QObject(nullptr) {}

QStringList ISAPIInteract::channelParams() const
{
    char text[64];
    std::snprintf(text, sizeof(text), "%d", THERMAL_CHANNEL);
    return QStringList{QString::fromLatin1(text)};
}

QByteArray ISAPIInteract::buildRequestUrl(Resource resource, Method method,
                                          const QStringList &pathParams) const
{
    QByteArray line = method == Method::Get ? "GET " : "PUT ";
    line += "/ISAPI/Thermal/channels/";
    if (!pathParams.isEmpty())
        line += pathParams.first().toUtf8();
    line += resource == Resource::Values ? "/fusionCalibration\r\n"
                                         : "/fusionCalibration/capabilities\r\n";
    return line;
}

bool ISAPIInteract::stdXmlExchange(int loginId, Resource resource, Method method,
                                   const QStringList &pathParams, const CalibrationDoc *doc,
                                   QByteArray &reply)
{
    const ZeroedBuffer response(RESPONSE_BUFFER_SIZE);
    std::unique_ptr<char[]> status(new char[STATUS_BUFFER_SIZE]());

    XmlConfigOutput output;
    std::memset(&output, 0, sizeof(output));
    output.size = sizeof(output);
    output.response = response.get();
    output.responseSize = RESPONSE_BUFFER_SIZE;
    output.status = status.get();
    output.statusSize = STATUS_BUFFER_SIZE;

    const QByteArray line = buildRequestUrl(resource, method, pathParams);
    XmlConfigInput input;
    std::memset(&input, 0, sizeof(input));
    input.size = sizeof(input);
    input.requestLine = line.constData();
    input.requestLineLength = uint32_t(line.size());

    QByteArray body;
    if (method == Method::Put) {
        body = buildFusionCalibrationXml(doc ? *doc : CalibrationDoc(), QByteArray(), QByteArray());
        if (body.isEmpty())
            return false;
        input.body = body.constData();
        input.bodyLength = uint32_t(body.size());
    }

    if (CamNet_StdXmlConfig(loginId, &input, &output) == 0)
        return false;
    if (method == Method::Get)
        reply = takeReply(response.get(), output.responseSize, RESPONSE_BUFFER_SIZE);
    else
        reply = takeReply(status.get(), output.statusSize, STATUS_BUFFER_SIZE);
    return true;
}

void ISAPIInteract::getFusionCalibrationCap(int loginId, SettingParamsCap &cap)
{
    CapabilityDoc doc;
    QByteArray reply;
    if (!stdXmlExchange(loginId, Resource::Capabilities, Method::Get, channelParams(), nullptr,
                        reply)) {
        m_lastError = CamNet_GetLastError();
        return;
    }
    parseFusionCalibrationCapXml(doc, reply);
    cap.distanceLevel = rangeOf(doc.distanceLevel);
    cap.horShift = rangeOf(doc.biasHorizontal);
    cap.verShift = rangeOf(doc.biasVertical);
    cap.horScale = rangeOf(doc.scaleHorizontal);
    cap.verScale = rangeOf(doc.scaleVertical);
}

void ISAPIInteract::getFusionCalibration(int loginId, SettingParams &params)
{
    CalibrationDoc doc;
    QByteArray reply;
    if (!stdXmlExchange(loginId, Resource::Values, Method::Get, channelParams(), nullptr, reply)) {
        m_lastError = CamNet_GetLastError();
        return;
    }
    parseFusionCalibrationXml(doc, reply);
    params.distanceLevel = doc.distanceLevel;
    params.horShift = doc.biasHorizontal;
    params.verShift = doc.biasVertical;
    params.horScale = doc.scaleHorizontal;
    params.verScale = doc.scaleVertical;
}

// A status reply without a readable statusCode gives 0.
int ISAPIInteract::setFusionCalibration(const SettingParams &params, int loginId)
{
    CalibrationDoc doc;
    doc.distanceLevel = params.distanceLevel;
    doc.biasHorizontal = params.horShift;
    doc.biasVertical = params.verShift;
    doc.scaleHorizontal = params.horScale;
    doc.scaleVertical = params.verScale;

    QByteArray reply;
    if (!stdXmlExchange(loginId, Resource::Values, Method::Put, channelParams(), &doc, reply)) {
        m_lastError = CamNet_GetLastError();
        return -1;
    }
    StatusDoc status;
    parseResponseStatusXml(status, reply);
    return status.statusCode;
}

namespace {

// The fusion switch travels as one record of thermal channel 2, read into the
// output or written from the input of a standard-configuration call.
struct SwitchExchange
{
    FusionSwitchRecord record;
    std::unique_ptr<char[]> status{new char[ISAPIInteract::STATUS_BUFFER_SIZE]()};
    const int32_t channel = ISAPIInteract::THERMAL_CHANNEL;
    StdConfigRecord config;

    explicit SwitchExchange(bool write)
    {
        std::memset(&record, 0, sizeof(record));
        record.size = sizeof(record);
        std::memset(&config, 0, sizeof(config));
        config.condition = &channel;
        config.conditionSize = sizeof(channel);
        if (write) {
            config.input = &record;
            config.inputSize = sizeof(record);
        } else {
            config.output = &record;
            config.outputSize = sizeof(record);
        }
        config.status = status.get();
        config.statusSize = ISAPIInteract::STATUS_BUFFER_SIZE;
    }
};

} // namespace

bool ISAPIInteract::getFusionSwitch(int loginId)
{
    SwitchExchange exchange(false);
    if (CamNet_GetStdConfig(loginId, FUSION_SWITCH_GET, &exchange.config) == 0) {
        m_lastError = CamNet_GetLastError();
        return false;
    }
    return exchange.record.fusionState == 1;
}

int ISAPIInteract::setFusionSwitch(int state, int loginId)
{
    SwitchExchange exchange(true);
    exchange.record.enabled = 1;
    exchange.record.fusionState = uint8_t(state & 0xFF);
    if (CamNet_SetStdConfig(loginId, FUSION_SWITCH_SET, &exchange.config) == 0) {
        m_lastError = CamNet_GetLastError();
        return -1;
    }
    return 0;
}
