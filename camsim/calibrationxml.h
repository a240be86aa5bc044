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

    // Why a client's document was refused: it is no XML document at all, or
    // it is one that does not hold what it must.
    struct Problem
    {
        enum Kind
        {
            None,
            Format,
            Content
        };
        Kind kind = None;
        QString text;
    };

    // Reads a FusionCalibration document strictly: every value must be present
    // and be a whole decimal integer. out is set only when nothing is wrong.
    static Problem parseCalibration(const QByteArray &text, CamState::Calibration *out);
};
