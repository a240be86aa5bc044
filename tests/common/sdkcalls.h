// Calls of the real SDK as the integration tests make them: logins to a
// simulator started through Camsim, ISAPI calls whose buffers carry guard bytes
// behind their ends, and standard-configuration calls on thermal channel 2.
// Header only, since only the tests that link the SDK include it.
#ifndef SDKCALLS_H
#define SDKCALLS_H

#include "camnetsdk.h"
#include "camsimprocess.h"

#include <QByteArray>
#include <QString>

#include <cstring>

namespace TestSupport {

inline QByteArray calibrationXml(int level, int hbias)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FusionCalibration>\n"
                          "<distanceLevel>%1</distanceLevel>\n<ScaleRatio><horizontal>64"
                          "</horizontal><vertical>64</vertical></ScaleRatio>\n<Bias><horizontal>%2"
                          "</horizontal><vertical>100</vertical></Bias>\n</FusionCalibration>\n")
        .arg(level)
        .arg(hbias)
        .toUtf8();
}

inline LoginRequest loginRequest(quint16 port, const char *pass = camsimPassword)
{
    LoginRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.address, "127.0.0.1");
    request.port = port;
    std::strcpy(request.userName, camsimUser);
    std::memcpy(request.password, pass, strnlen(pass, sizeof request.password));
    return request;
}

inline int32_t login(quint16 port, DeviceInfoReply *info = nullptr,
                     const char *pass = camsimPassword)
{
    DeviceInfoReply scratch;
    std::memset(&scratch, 0, sizeof scratch);
    const LoginRequest request = loginRequest(port, pass);
    return CamNet_Login(&request, info ? info : &scratch);
}

// The buffers of one ISAPI call, with guard bytes behind each one.
struct XmlCall
{
    static constexpr uint32_t guard = 16;
    QByteArray response;
    QByteArray status;
    XmlConfigOutput output;
    int32_t result = 0;
    int32_t error = 0;

    XmlCall(int32_t loginId, const QByteArray &line, const QByteArray &body = QByteArray(),
            uint32_t responseCapacity = 64 * 1024, uint32_t statusCapacity = 16 * 1024)
        : response(int(responseCapacity + guard), '#'), status(int(statusCapacity + guard), '#')
    {
        XmlConfigInput input;
        std::memset(&input, 0, sizeof input);
        input.size = sizeof input;
        input.requestLine = line.constData();
        input.requestLineLength = uint32_t(line.size());
        input.body = body.isEmpty() ? nullptr : body.constData();
        input.bodyLength = uint32_t(body.size());
        std::memset(&output, 0, sizeof output);
        output.size = sizeof output;
        output.response = response.data();
        output.responseSize = responseCapacity;
        output.status = status.data();
        output.statusSize = statusCapacity;
        result = CamNet_StdXmlConfig(loginId, &input, &output);
        error = CamNet_GetLastError();
    }
    QByteArray responseText() const { return response.left(int(output.responseSize)); }
    QByteArray statusText() const { return status.left(int(output.statusSize)); }
    bool guardsIntact(uint32_t responseCapacity, uint32_t statusCapacity) const
    {
        return response.mid(int(responseCapacity)) == QByteArray(int(guard), '#') &&
               status.mid(int(statusCapacity)) == QByteArray(int(guard), '#');
    }
};

inline int32_t stdConfig(bool set, int32_t loginId, uint32_t command, QByteArray *output,
                         const QByteArray &input = QByteArray())
{
    const int32_t channel = 2;
    char status[256] = {};
    StdConfigRecord record;
    std::memset(&record, 0, sizeof record);
    record.condition = &channel;
    record.conditionSize = sizeof channel;
    record.input = input.isEmpty() ? nullptr : input.constData();
    record.inputSize = uint32_t(input.size());
    record.output = output ? output->data() : nullptr;
    record.outputSize = output ? uint32_t(output->size()) : 0;
    record.status = status;
    record.statusSize = sizeof status;
    return set ? CamNet_SetStdConfig(loginId, command, &record)
               : CamNet_GetStdConfig(loginId, command, &record);
}

inline QByteArray switchRecord(uint8_t state)
{
    QByteArray record(732, '\0');
    const uint32_t size = 732;
    std::memcpy(record.data(), &size, 4);
    record[4] = 1;
    record[5] = char(state);
    return record;
}

} // namespace TestSupport

#endif // SDKCALLS_H
