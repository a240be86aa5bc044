// libFuzzer entry: the SDK's reading of the login check's DeviceInfo document.
#include "http/deviceinfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void expectTerminated(const char *field, size_t size, const char *name)
{
    if (strnlen(field, size) == size) {
        std::fprintf(stderr, "%s filled without its terminating zero\n", name);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string document(reinterpret_cast<const char *>(data), size);
    DeviceInfoReply reply;
    std::memset(&reply, 0x55, sizeof reply);
    if (!readDeviceInfo(document, &reply)) {
        for (size_t i = 0; i < sizeof reply; ++i) {
            if (reinterpret_cast<const uint8_t *>(&reply)[i] != 0x55) {
                std::fprintf(stderr, "a refused document changed the reply\n");
                std::abort();
            }
        }
        return 0;
    }
    expectTerminated(reply.deviceName, sizeof reply.deviceName, "deviceName");
    expectTerminated(reply.model, sizeof reply.model, "model");
    expectTerminated(reply.serialNumber, sizeof reply.serialNumber, "serialNumber");
    expectTerminated(reply.firmwareVersion, sizeof reply.firmwareVersion, "firmwareVersion");
    return 0;
}
