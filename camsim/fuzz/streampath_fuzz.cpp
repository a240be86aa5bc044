// libFuzzer entry: the simulator's reading of the channel in a stream path.
#include "camrequest.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray path(reinterpret_cast<const char *>(data), int(size));
    const int channel = CamRequest::streamChannel(path);
    if (channel < 0 ||
        (channel > 0 && (!path.startsWith("/camnet/channels/") || !path.endsWith("/stream")))) {
        std::fprintf(stderr, "channel %d read from a path of another form\n", channel);
        std::abort();
    }
    return 0;
}
