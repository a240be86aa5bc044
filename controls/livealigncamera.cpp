#include "livealigncamera.h"

#include "busycursor.h"
#include "cameralinteract.h"
#include "camnetsdk.h"
#include "isapiinteract.h"
#include "settingwidget.h"
#include "statusbarinsertwidget.h"

#include <QSignalBlocker>

#include <cstring>

namespace {

// Room for a 1920x1080 picture; the buffer grows when a stream is larger.
constexpr size_t initialBufferSize = size_t(1920) * 1080 * 4;

} // namespace

LiveAlignCamera::LiveAlignCamera(SettingWidget *panel, StatusBarInsertWidget *status)
    : m_panel(panel), m_status(status)
{
}

int LiveAlignCamera::capturePicture(int channel, Picture *picture)
{
    const int handle = CameralInteract::instance()->previewHandle(channel);
    if (handle < 0)
        return CAMNET_ERR_UNKNOWN_PREVIEW;
    if (m_buffer.empty())
        m_buffer.resize(initialBufferSize);
    int error = copyPicture(handle, picture);
    // One retry with the size the SDK asked for; a stream may change its size
    // between the two calls, which the next capture meets again.
    if (error == CAMNET_ERR_BUFFER_TOO_SMALL)
        error = copyPicture(handle, picture);
    return error;
}

int LiveAlignCamera::copyPicture(int handle, Picture *picture)
{
    CamNet_Picture shot;
    std::memset(&shot, 0, sizeof(shot));
    shot.size = sizeof(shot);
    shot.data = m_buffer.data();
    shot.dataSize = uint32_t(m_buffer.size());
    if (CamNet_CapturePicture(handle, &shot) == 0) {
        const int error = CamNet_GetLastError();
        if (error == CAMNET_ERR_BUFFER_TOO_SMALL && shot.requiredSize > m_buffer.size())
            m_buffer.resize(shot.requiredSize);
        return error;
    }
    // A picture the SDK describes inconsistently is refused rather than read
    // past the buffer's end.
    const quint64 rowBytes = quint64(shot.width) * 4;
    if (shot.pixelFormat != CAMNET_PIXEL_BGRX || shot.width == 0 || shot.height == 0 ||
        shot.stride < rowBytes || quint64(shot.stride) * shot.height > m_buffer.size())
        return CAMNET_ERR_PROTOCOL;

    // BGRX bytes are Format_RGB32 words on a little-endian machine.
    QImage image(int(shot.width), int(shot.height), QImage::Format_RGB32);
    if (image.isNull())
        return CAMNET_ERR_OUT_OF_RESOURCES;
    for (uint32_t y = 0; y < shot.height; ++y)
        std::memcpy(image.scanLine(int(y)), m_buffer.data() + size_t(y) * shot.stride,
                    size_t(rowBytes));
    picture->image = image;
    picture->frameNumber = shot.frameNumber;
    picture->decodedAtUs = shot.decodedAtUs;
    return 0;
}

SettingParams LiveAlignCamera::calibration() const
{
    return m_panel->settingParams();
}

SettingParamsCap LiveAlignCamera::calibrationRanges() const
{
    return m_panel->settingRanges();
}

bool LiveAlignCamera::writeCalibration(const SettingParams &params, QString *error)
{
    const int status = m_panel->writeSettingParams(params);
    if (status == 1)
        return true;
    if (status == -1) {
        m_lost = true;
        if (error)
            *error = unreachable();
    } else if (error) {
        *error = tr("The camera refused the calibration (status %1).").arg(status);
    }
    return false;
}

bool LiveAlignCamera::fusionOn() const
{
    const BusyCursor busy;
    const bool on =
        ISAPIInteract::getInstance()->getFusionSwitch(CameralInteract::instance()->loginId());
    showFusion(on);
    return on;
}

bool LiveAlignCamera::setFusion(bool on, QString *error)
{
    const BusyCursor busy;
    if (ISAPIInteract::getInstance()->setFusionSwitch(on ? 1 : 2,
                                                      CameralInteract::instance()->loginId()) < 0) {
        m_lost = true;
        if (error)
            *error = unreachable();
        return false;
    }
    showFusion(on);
    return true;
}

void LiveAlignCamera::showFusion(bool on) const
{
    // The switch is already written; the box only shows it, so its change
    // must not reach the window's own switch write.
    const QSignalBlocker blocker(m_status);
    m_status->setFusionOn(on);
}

QString LiveAlignCamera::unreachable() const
{
    return tr("The camera could not be reached (error %1).")
        .arg(ISAPIInteract::getInstance()->lastError());
}
