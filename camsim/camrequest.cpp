#include "camrequest.h"

#include <QString>

#include <cstring>

namespace {

const char streamPrefix[] = "/camnet/channels/";
const char streamSuffix[] = "/stream";
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

} // namespace

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
                                        const char *conditionSize, const char *outputSize,
                                        const QByteArray &body)
{
    Reply reply;
    auto fail = [&reply](unsigned status, const QString &why) {
        reply.status = status;
        reply.contentType = "text/plain";
        reply.body = why.toUtf8() + "\n";
        return reply;
    };
    bool ok = false;
    const int number = command.toInt(&ok);
    if (!ok || (number != fusionSwitchGet && number != fusionSwitchSet))
        return fail(404, QStringLiteral("unknown command"));
    bool csOk = false, osOk = false;
    const int cs = QByteArray(conditionSize).toInt(&csOk);
    const int os = QByteArray(outputSize).toInt(&osOk);
    if (!conditionSize || !outputSize || !csOk || !osOk || cs < 0 || os < 0 || cs > body.size())
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
