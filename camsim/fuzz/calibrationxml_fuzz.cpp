// libFuzzer entry: the simulator's parser of client PUT documents.
#include "calibrationxml.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CamState::Calibration calibration;
    const CalibrationXml::Problem problem = CalibrationXml::parseCalibration(
        QByteArray(reinterpret_cast<const char *>(data), int(size)), &calibration);
    // A document that is accepted must carry values the reply can serialise again.
    if (problem.kind == CalibrationXml::Problem::None)
        CalibrationXml::calibration(calibration);
    return 0;
}
