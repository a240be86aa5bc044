// libFuzzer entry: the simulator's reader of PUT /camsim/faults bodies.
#include "camstate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CamState state;
    const QByteArray before = state.toJson();
    const QString error =
        state.applyFaults(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    // A refused body must leave every fault as it was, so that a test's typo
    // does not half-switch the camera it drives.
    if (!error.isEmpty() && state.toJson() != before) {
        std::fprintf(stderr, "refused body (%s) changed the faults\n", qPrintable(error));
        std::abort();
    }
    const CamState::Faults f = state.faults();
    if (f.delayMs < 0 || f.delayMs > 60000) {
        std::fprintf(stderr, "delay %d ms outside 0..60000\n", f.delayMs);
        std::abort();
    }
    return 0;
}
