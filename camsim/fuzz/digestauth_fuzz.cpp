// libFuzzer entry: the simulator's reading of a client's Authorization header.
#include "digestauth.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static DigestAuth auth("camsim", "admin", "secret", 300);
    const QByteArray header(reinterpret_cast<const char *>(data), int(size));
    QMap<QByteArray, QByteArray> fields;
    DigestAuth::parseFields(header, &fields);
    // Accepting a header needs the password's MD5 answer to a nonce this
    // instance issued; no input of the fuzzer can know one.
    if (auth.check("GET", "/camnet/device", header) == DigestAuth::Verdict::Accepted) {
        std::fprintf(stderr, "a header without a known nonce was accepted\n");
        std::abort();
    }
    return 0;
}
