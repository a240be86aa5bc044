// libFuzzer entry: the SDK's check that a login's address names a host and
// nothing that could steer the URL elsewhere.
#include "http/hostaddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string address(reinterpret_cast<const char *>(data), size);
    std::string host;
    if (!hostForUrl(address, &host))
        return 0;
    for (const char c : host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
                             c == ':' || c == '[' || c == ']' || c == '%';
        if (!allowed) {
            std::fprintf(stderr, "URL host \"%s\" holds byte 0x%02x\n", host.c_str(),
                         unsigned(uint8_t(c)));
            std::abort();
        }
    }
    if (host.empty() || (host.find(':') != std::string::npos && host.front() != '[')) {
        std::fprintf(stderr, "URL host \"%s\" is empty or an unbracketed IPv6 literal\n",
                     host.c_str());
        std::abort();
    }
    return 0;
}
