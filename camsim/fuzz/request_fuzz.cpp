// libFuzzer entry: what the simulated camera answers an authenticated request.
//
// Input: the method on the first line, the path on the second, then the body.
#include "camrequest.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char *why, const CamRequest::Request &request)
{
    std::fprintf(stderr, "%s: %s %s\n", why, request.method.constData(), request.path.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const QList<QByteArray> lines = input.split('\n');
    CamRequest::Request request;
    request.method = lines.value(0);
    request.path = lines.value(1);
    request.conditionSize = "4";
    request.outputSize = "732";
    request.body = input.mid(request.method.size() + request.path.size() + 2);

    CamState state;
    const CamState::Calibration before = state.calibration();
    const CamRequest::Reply reply = CamRequest::camera(state, request);
    if (reply.status < 200 || reply.status > 599)
        fault("status out of range", request);
    if (reply.streamChannel && (request.method != "GET" || reply.status != 200 ||
                                reply.streamChannel != CamRequest::streamChannel(request.path)))
        fault("stream answered for something else", request);
    const CamState::Calibration after = state.calibration();
    const bool changed = before.distanceLevel != after.distanceLevel ||
                         before.horScale != after.horScale || before.verScale != after.verScale ||
                         before.horShift != after.horShift || before.verShift != after.verShift;
    if (changed && (request.method != "PUT" || reply.status != 200))
        fault("calibration changed by a request that was not an accepted write", request);
    if (!state.validate(after).isEmpty())
        fault("calibration left outside its capabilities", request);
    return 0;
}
