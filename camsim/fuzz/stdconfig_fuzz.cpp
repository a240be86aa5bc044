// libFuzzer entry: the simulator's answer to POST /camnet/stdconfig/{command}.
//
// Input: three lines (the command, the conditionSize and the outputSize query
// values; a missing line is an absent value), then the request body.
#include "camrequest.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char *why)
{
    std::fprintf(stderr, "%s\n", why);
    std::abort();
}

uint32_t le32(const QByteArray &bytes)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uint8_t(bytes[i]);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray rest(reinterpret_cast<const char *>(data), int(size));
    QByteArray fields[3];
    bool present[3] = {false, false, false};
    for (int i = 0; i < 3; ++i) {
        const int eol = rest.indexOf('\n');
        if (eol < 0)
            break;
        fields[i] = rest.left(eol);
        present[i] = true;
        rest = rest.mid(eol + 1);
    }
    const QByteArray body = present[2] ? rest : QByteArray();

    CamState state;
    const bool fusionBefore = state.fusionOn();
    // A present value is never null, however short.
    const CamRequest::Reply reply =
        CamRequest::stdConfig(state, fields[0], present[1] ? fields[1] + "" : QByteArray(),
                              present[2] ? fields[2] + "" : QByteArray(), body);

    if (reply.status != 200) {
        if (state.fusionOn() != fusionBefore)
            fault("refused call changed the fusion switch");
        return 0;
    }
    const int command = fields[0].toInt();
    const int outputSize = fields[2].toInt();
    if (command == 6768) {
        // The client's buffer holds outputSize bytes; more would overrun it.
        if (reply.body.size() > outputSize || reply.body.size() > 732)
            fault("switch record reply longer than asked for");
        if (reply.body.size() >= 4 && le32(reply.body) != 732)
            fault("switch record does not start with its size");
    } else if (command == 6769) {
        if (body.size() != 4 + 732)
            fault("switch record of the wrong size accepted");
        if (state.fusionOn() != (uint8_t(body[4 + 5]) == 1))
            fault("fusion switch does not follow the record");
    } else {
        fault("unknown command answered");
    }
    return 0;
}
