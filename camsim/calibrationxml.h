#pragma once

#include "camstate.h"

#include <QByteArray>
#include <QString>

// The XML documents the simulated camera serves and accepts: the calibration
// values, their capabilities and the status reply.
class CalibrationXml
{
public:
    static QByteArray calibration(const CamState::Calibration &c);
    static QByteArray capabilities(const CamState::Caps &caps);
    static QByteArray responseStatus(int statusCode, const QString &statusString);

    // Reads a FusionCalibration document strictly: every value must be present
    // and be a whole decimal integer. Returns an empty text on success, else why not.
    static QString parseCalibration(const QByteArray &text, CamState::Calibration *out);
};
