// What Auto Align needs of a camera, and nothing more than a technician has:
// the two live pictures, the fusion switch and the calibration resource. The
// tool's implementation goes through the setting panel and the status strip,
// so that they show every value written; tests put a simulated camera here.
// Every call is made on the GUI thread and returns within the SDK's bounds.
#ifndef ALIGNCAMERA_H
#define ALIGNCAMERA_H

#include "calibrationxml.h"

#include <QImage>
#include <QString>

class AlignCamera
{
public:
    // One decoded picture of a channel as the camera sent it.
    struct Picture
    {
        QImage image;            // Format_RGB32, the stream's own size
        quint32 frameNumber = 0; // pictures decoded by that preview so far
        quint64 decodedAtUs = 0; // CLOCK_MONOTONIC, microseconds
    };

    virtual ~AlignCamera() = default;

    // The newest picture of channel 1 or 2: 0, or the SDK's error code
    // (CAMNET_ERR_NO_PICTURE while none has arrived yet).
    virtual int capturePicture(int channel, Picture *picture) = 0;

    // The five values as the camera holds them now, and their ranges.
    virtual SettingParams calibration() const = 0;
    virtual SettingParamsCap calibrationRanges() const = 0;

    // Writes all five values as one full calibration document, exactly as a
    // key step does. False, with a message for the technician, when the
    // camera refused them or could not be reached.
    virtual bool writeCalibration(const SettingParams &params, QString *error) = 0;

    virtual bool fusionOn() const = 0;
    virtual bool setFusion(bool on, QString *error) = 0;

    // True once a call failed because the camera could not be reached (an
    // SDK failure rather than a refusal): nothing more is written then.
    virtual bool lost() const = 0;
};

#endif // ALIGNCAMERA_H
