#include "camrequest.h"

#include "calibrationxml.h"

#include <QString>

#include <cstring>

namespace {

const char streamPrefix[] = "/camnet/channels/";
const char streamSuffix[] = "/stream";
const char stdConfigPrefix[] = "/camnet/stdconfig/";
const QByteArray calibrationPath = "/ISAPI/Thermal/channels/2/fusionCalibration";
const QByteArray capabilitiesPath = "/ISAPI/Thermal/channels/2/fusionCalibration/capabilities";

// Status codes of the camera's ResponseStatus replies.
constexpr int statusOk = 1;
constexpr int statusInvalidOperation = 4;
constexpr int statusInvalidXmlFormat = 5;
constexpr int statusInvalidXmlContent = 6;

constexpr int fusionSwitchGet = 6768;
constexpr int fusionSwitchSet = 6769;
constexpr int thermalChannel = 2;
constexpr int switchRecordSize = 732;

int32_t readLe32(const QByteArray &bytes, int offset)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(bytes[offset + i]);
    return int32_t(v);
}

void writeLe32(QByteArray &bytes, int offset, int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char((uint32_t(value) >> (8 * i)) & 0xff);
}

CamRequest::Reply textReply(unsigned status, const QString &text)
{
    CamRequest::Reply reply;
    reply.status = status;
    reply.contentType = "text/plain";
    reply.body = text.toUtf8() + "\n";
    return reply;
}

CamRequest::Reply statusReply(unsigned status, int statusCode, const QString &text)
{
    CamRequest::Reply reply;
    reply.status = status;
    reply.body = CalibrationXml::responseStatus(statusCode, text);
    return reply;
}

CamRequest::Reply deviceInfo(CamState &state)
{
    state.countRequest(QStringLiteral("device"));
    CamRequest::Reply reply;
    reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<DeviceInfo>\n"
                 "  <deviceName>camsim</deviceName>\n"
                 "  <model>CAMSIM-DUAL</model>\n"
                 "  <serialNumber>CAMSIM0000000001</serialNumber>\n"
                 "  <firmwareVersion>1.0.0</firmwareVersion>\n"
                 "  <channels>2</channels>\n"
                 "</DeviceInfo>\n";
    return reply;
}

CamRequest::Reply readCalibration(CamState &state, bool caps, const CamState::Faults &faults)
{
    state.countRequest(caps ? QStringLiteral("capabilities") : QStringLiteral("calibrationGet"));
    CamRequest::Reply reply;
    if (caps && faults.omitCaps)
        reply.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<FusionCalibrationCap>\n</FusionCalibrationCap>\n";
    else
        reply.body = caps ? CalibrationXml::capabilities(state.caps())
                          : CalibrationXml::calibration(state.calibration());
    if (faults.malformedXml)
        reply.body.truncate(reply.body.size() / 2);
    if (faults.oversizeReply)
        reply.body.append("<!--" + QByteArray(1024 * 1024 + 1, 'x') + "-->\n");
    return reply;
}

CamRequest::Reply writeCalibration(CamState &state, const QByteArray &body,
                                   const CamState::Faults &faults)
{
    state.countRequest(QStringLiteral("calibrationPut"));
    if (faults.putStatusCode != 0)
        return statusReply(200, faults.putStatusCode, QStringLiteral("status set by fault"));
    CamState::Calibration c;
    const CalibrationXml::Problem problem = CalibrationXml::parseCalibration(body, &c);
    if (problem.kind != CalibrationXml::Problem::None)
        return statusReply(400,
                           problem.kind == CalibrationXml::Problem::Format
                               ? statusInvalidXmlFormat
                               : statusInvalidXmlContent,
                           problem.text);
    const QString rangeError = state.validate(c);
    if (!rangeError.isEmpty())
        return statusReply(400, statusInvalidXmlContent, rangeError);
    state.setCalibration(c);
    return statusReply(200, statusOk, QStringLiteral("OK"));
}

CamRequest::Reply isapi(CamState &state, const CamRequest::Request &request)
{
    const bool caps = request.path == capabilitiesPath;
    if (request.path != calibrationPath && !caps)
        return statusReply(404, statusInvalidOperation, QStringLiteral("no such resource"));
    const CamState::Faults faults = state.faults();
    if (request.method == "GET")
        return readCalibration(state, caps, faults);
    if (request.method != "PUT" || caps)
        return statusReply(405, statusInvalidOperation,
                           QStringLiteral("%1 is not allowed here").arg(QString(request.method)));
    return writeCalibration(state, request.body, faults);
}

} // namespace

CamRequest::Reply CamRequest::camera(CamState &state, const Request &request)
{
    const QByteArray &path = request.path;
    if (path == "/camnet/device" && request.method == "GET")
        return deviceInfo(state);
    if (path.startsWith(streamPrefix) && path.endsWith(streamSuffix) && request.method == "GET") {
        const int channel = streamChannel(path);
        if ((channel == 1 || channel == 2) && state.faults().refuseStream != channel) {
            state.countRequest(QStringLiteral("streams"));
            Reply reply;
            reply.streamChannel = channel;
            return reply;
        }
        return textReply(404, QStringLiteral("no such channel or channel unavailable"));
    }
    if (path.startsWith(stdConfigPrefix)) {
        if (request.method != "POST")
            return textReply(405, QStringLiteral("standard configuration takes POST"));
        state.countRequest(QStringLiteral("stdConfig"));
        return stdConfig(state, path.mid(int(std::strlen(stdConfigPrefix))), request.conditionSize,
                         request.outputSize, request.body);
    }
    if (path.startsWith("/ISAPI/"))
        return isapi(state, request);
    return textReply(404, QStringLiteral("no such resource"));
}

CamRequest::Reply CamRequest::control(CamState &state, const Request &request)
{
    Reply reply;
    reply.contentType = "application/json";
    if (request.path == "/camsim/state" && request.method == "GET") {
        reply.body = state.toJson();
    } else if (request.path == "/camsim/faults" && request.method == "PUT") {
        const QString error = state.applyFaults(request.body);
        if (!error.isEmpty())
            return textReply(400, error);
        reply.body = state.toJson();
    } else {
        return textReply(404, QStringLiteral("no such resource"));
    }
    return reply;
}

int CamRequest::streamChannel(const QByteArray &path)
{
    const int prefix = int(std::strlen(streamPrefix));
    const int suffix = int(std::strlen(streamSuffix));
    if (!path.startsWith(streamPrefix) || !path.endsWith(streamSuffix) ||
        path.size() < prefix + suffix)
        return 0;
    bool ok = false;
    const int channel = path.mid(prefix, path.size() - prefix - suffix).toInt(&ok);
    return ok && channel > 0 ? channel : 0;
}

CamRequest::Reply CamRequest::stdConfig(CamState &state, const QByteArray &command,
                                        const QByteArray &conditionSize,
                                        const QByteArray &outputSize, const QByteArray &body)
{
    Reply reply;
    reply.contentType = "application/octet-stream";
    auto fail = [](unsigned status, const QString &why) { return textReply(status, why); };
    bool ok = false;
    const int number = command.toInt(&ok);
    if (!ok || (number != fusionSwitchGet && number != fusionSwitchSet))
        return fail(404, QStringLiteral("unknown command"));
    bool csOk = false, osOk = false;
    const int cs = conditionSize.toInt(&csOk);
    const int os = outputSize.toInt(&osOk);
    if (conditionSize.isNull() || outputSize.isNull() || !csOk || !osOk || cs < 0 || os < 0 ||
        cs > body.size())
        return fail(400, QStringLiteral("bad conditionSize or outputSize"));
    if (cs != 4 || readLe32(body, 0) != thermalChannel)
        return fail(400, QStringLiteral("condition must be channel 2"));
    const QByteArray input = body.mid(cs);
    if (number == fusionSwitchGet) {
        QByteArray record(switchRecordSize, '\0');
        writeLe32(record, 0, switchRecordSize);
        record[4] = 1;
        record[5] = char(state.fusionOn() ? 1 : 2);
        reply.body = record.left(os);
        return reply;
    }
    if (input.size() != switchRecordSize || readLe32(input, 0) != switchRecordSize)
        return fail(400, QStringLiteral("the switch record is 732 bytes"));
    const int fusion = uint8_t(input[5]);
    if (fusion != 1 && fusion != 2)
        return fail(400, QStringLiteral("fusion state must be 1 or 2"));
    state.setFusionOn(fusion == 1);
    return reply;
}
