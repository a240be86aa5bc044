// libFuzzer entry: the tool's reading of WS-Discovery answers, and what the
// camera list makes of whatever it accepted.
#include "cameradiscovery.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void expect(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), int(size));
    QString relatesTo;
    const QList<CameraDiscovery::ProbeMatch> matches =
        CameraDiscovery::parseProbeMatches(datagram, &relatesTo);
    expect(matches.size() <= 64, "more matches kept than the bound");
    const QList<CameraDiscovery::Subnet> subnets = {{QHostAddress("192.168.1.10"), 24},
                                                    {QHostAddress("fe80::1"), 64}};
    for (const CameraDiscovery::ProbeMatch &match : CameraDiscovery::mergeMatches(matches)) {
        expect(match.xaddrs.size() <= 64 && match.scopes.size() <= 64,
               "more items kept than the bound");
        const QStringList ranked = CameraDiscovery::rankXAddrs(match.xaddrs, subnets);
        for (const QString &xaddr : ranked)
            expect(match.xaddrs.contains(xaddr), "a ranked address the camera did not give");
        DiscoveredCamera camera;
        if (!CameraDiscovery::describe(match, subnets, &camera)) {
            expect(ranked.isEmpty(), "a camera with addresses left out");
            continue;
        }
        expect(!camera.address.isEmpty() && !camera.name.isEmpty(), "a camera without name");
        expect(camera.port > 0 && camera.port <= 65535, "a port out of range");
        expect(camera.name.size() <= 128, "a name longer than the bound");
    }
    return 0;
}
