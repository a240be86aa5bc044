// libFuzzer entry: the tool's reader of FusionCalibrationCap replies; the
// sanitizers are the judge.
#include "calibrationxml.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CapabilityDoc doc;
    parseFusionCalibrationCapXml(doc, QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
