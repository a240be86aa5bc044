// libFuzzer entry: the tool's reader of ResponseStatus replies; the sanitizers
// are the judge.
#include "calibrationxml.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StatusDoc doc;
    parseResponseStatusXml(doc, QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
