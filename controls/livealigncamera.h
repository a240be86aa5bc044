// The connected camera as Auto Align sees it: pictures from the running
// previews, the calibration through the setting panel and the fusion switch
// through the status strip, so that both show every value written.
#ifndef LIVEALIGNCAMERA_H
#define LIVEALIGNCAMERA_H

#include "aligncamera.h"

#include <QCoreApplication>

#include <vector>

class SettingWidget;
class StatusBarInsertWidget;

class LiveAlignCamera : public AlignCamera
{
    Q_DECLARE_TR_FUNCTIONS(LiveAlignCamera)

public:
    LiveAlignCamera(SettingWidget *panel, StatusBarInsertWidget *status);

    int capturePicture(int channel, Picture *picture) override;
    SettingParams calibration() const override;
    SettingParamsCap calibrationRanges() const override;
    bool writeCalibration(const SettingParams &params, QString *error) override;
    bool fusionOn() const override;
    bool setFusion(bool on, QString *error) override;
    bool lost() const override { return m_lost; }

    // A new connection: the camera is reachable again until a call fails.
    void reset() { m_lost = false; }

private:
    int copyPicture(int handle, Picture *picture);
    void showFusion(bool on) const;
    QString unreachable() const;

    SettingWidget *const m_panel;
    StatusBarInsertWidget *const m_status;
    std::vector<uint8_t> m_buffer;
    bool m_lost = false;
};

#endif // LIVEALIGNCAMERA_H
