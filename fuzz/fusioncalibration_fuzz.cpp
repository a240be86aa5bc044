// libFuzzer entry: the tool's reader of FusionCalibration replies.
#include "calibrationxml.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool sameValues(const CalibrationDoc &a, const CalibrationDoc &b)
{
    return a.distanceLevel == b.distanceLevel && a.scaleHorizontal == b.scaleHorizontal &&
           a.scaleVertical == b.scaleVertical && a.biasHorizontal == b.biasHorizontal &&
           a.biasVertical == b.biasVertical;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CalibrationDoc doc;
    parseFusionCalibrationXml(doc, QByteArray(reinterpret_cast<const char *>(data), int(size)));

    // The panel writes back what it read, so every value read must come back
    // unchanged from the document the tool writes. The starting values differ
    // from the expected ones, so a value the second read misses shows.
    const QByteArray written = buildFusionCalibrationXml(doc, QByteArray(), QByteArray());
    if (written.isEmpty()) {
        std::fprintf(stderr, "no document written\n");
        std::abort();
    }
    CalibrationDoc again;
    again.distanceLevel = doc.distanceLevel ^ 1;
    again.scaleHorizontal = doc.scaleHorizontal ^ 1;
    again.scaleVertical = doc.scaleVertical ^ 1;
    again.biasHorizontal = doc.biasHorizontal ^ 1;
    again.biasVertical = doc.biasVertical ^ 1;
    parseFusionCalibrationXml(again, written);
    if (!sameValues(doc, again)) {
        std::fprintf(stderr, "values changed on the way back:\n%s\n", written.constData());
        std::abort();
    }
    return 0;
}
