// libFuzzer entry: the SDK's splitting of an ISAPI request line into method
// and path.
#include "http/requestline.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void fault(const char *why, const std::string &line)
{
    std::fprintf(stderr, "%s: \"%s\"\n", why, line.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // libFuzzer's buffer ends exactly at size and the SDK's callers pass no
    // terminating zero, so a read past the length is caught.
    const std::string input(reinterpret_cast<const char *>(data), size);
    RequestLine line;
    if (!line.parse(reinterpret_cast<const char *>(data), size)) {
        if (!line.method().empty() || !line.path().empty())
            fault("refused line left method or path set", input);
        return 0;
    }
    // What goes out on the wire must be exactly the line the caller gave,
    // less its optional CR LF, and must not be able to start a second request
    // or header.
    const std::string rebuilt = line.method() + " " + line.path();
    if (input != rebuilt && input != rebuilt + "\r\n")
        fault("accepted line does not match method and path", input);
    if (line.path().empty() || line.path()[0] != '/')
        fault("accepted path does not start with a slash", input);
    for (unsigned char c : line.path()) {
        if (c <= 0x20 || c >= 0x7f)
            fault("accepted path carries a space or control byte", input);
    }
    const std::string &m = line.method();
    if (m != "GET" && m != "PUT" && m != "POST" && m != "DELETE")
        fault("accepted an unknown method", input);
    if (line.carriesBody() != (m == "PUT" || m == "POST"))
        fault("body flag does not follow the method", input);
    return 0;
}
