// The five fusion-calibration values, their capability ranges, and the three
// XML documents that carry them: FusionCalibration (read and written),
// FusionCalibrationCap and ResponseStatus (read only).
#ifndef CALIBRATIONXML_H
#define CALIBRATIONXML_H

#include <QByteArray>
#include <QVariant>

#include <cstdint>

// The values in the order of the setting panel's rows.
struct SettingParams
{
    int32_t distanceLevel = 0;
    int32_t horShift = 0;
    int32_t verShift = 0;
    int32_t horScale = 0;
    int32_t verScale = 0;
};

struct ParamRange
{
    QVariant min;
    QVariant max;
    QVariant def;
};

// Ranges in SettingParams order; the initial table stands until a capability
// read succeeds.
struct SettingParamsCap
{
    ParamRange distanceLevel{1, 10, 4};
    ParamRange horShift{1, -1, -1};
    ParamRange verShift{1, -1, -1};
    ParamRange horScale{1, 128, -1};
    ParamRange verScale{1, 128, -1};
};

// Document order: distance level, scale ratios, biases.
struct CalibrationDoc
{
    int32_t distanceLevel = 0;
    int32_t scaleHorizontal = 0;
    int32_t scaleVertical = 0;
    int32_t biasHorizontal = 0;
    int32_t biasVertical = 0;
};

struct CapEntry
{
    int32_t min = 0;
    int32_t max = 0;
    int32_t def = 0;
};

struct CapabilityDoc
{
    CapEntry distanceLevel;
    CapEntry scaleHorizontal;
    CapEntry scaleVertical;
    CapEntry biasHorizontal;
    CapEntry biasVertical;
};

struct StatusDoc
{
    int32_t statusCode = 0;
};

// The formatted UTF-8 document, or an empty text when libxml2 fails. A
// non-empty version or nameSpace becomes a root attribute.
QByteArray buildFusionCalibrationXml(const CalibrationDoc &doc, const QByteArray &version,
                                     const QByteArray &nameSpace);

// Each fills the fields whose element or attribute it finds and leaves the rest.
void parseFusionCalibrationXml(CalibrationDoc &doc, const QByteArray &text);
void parseFusionCalibrationCapXml(CapabilityDoc &doc, const QByteArray &text);
void parseResponseStatusXml(StatusDoc &doc, const QByteArray &text);
QByteArray intToText(int32_t value);

#endif // CALIBRATIONXML_H
