// The tool's one calibration exchange: reads the fusion-calibration ranges and
// values from the camera, writes new values, and reads or sets the fusion
// switch, all through the SDK on the caller's login.
#ifndef ISAPIINTERACT_H
#define ISAPIINTERACT_H

#include "calibrationxml.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

class ISAPIInteract : public QObject
{
    Q_OBJECT

public:
    static constexpr int THERMAL_CHANNEL = 2;
    static constexpr int FUSION_SWITCH_GET = 6768;
    static constexpr int FUSION_SWITCH_SET = 6769;
    static constexpr int RESPONSE_BUFFER_SIZE = 1048576;
    static constexpr int STATUS_BUFFER_SIZE = 16384;

    static ISAPIInteract *getInstance();

    void getFusionCalibrationCap(int loginId, SettingParamsCap &cap);
    void getFusionCalibration(int loginId, SettingParams &params);
    int setFusionCalibration(const SettingParams &params, int loginId);
    bool getFusionSwitch(int loginId);
    int setFusionSwitch(int state, int loginId);

    // The SDK's code of the latest failure; -1 until one happens.
    int lastError() const { return m_lastError; }

private:
    enum class Resource
    {
        Values,
        Capabilities
    };
    enum class Method
    {
        Get,
        Put
    };

    ISAPIInteract();

    bool stdXmlExchange(int loginId, Resource resource, Method method,
                        const QStringList &pathParams, const CalibrationDoc *doc,
                        QByteArray &reply);
    QByteArray buildRequestUrl(Resource resource, Method method,
                               const QStringList &pathParams) const;
    QStringList channelParams() const;

    int m_lastError = -1;
};

#endif // ISAPIINTERACT_H
