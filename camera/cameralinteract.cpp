#include "cameralinteract.h"

#include "appglobals.h"
#include "camnetsdk.h"

#include <QAtomicPointer>
#include <QByteArray>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

static_assert(sizeof(WId) == sizeof(PreviewRequest::window),
              "the preview record must carry a whole native window id");

namespace {

QAtomicPointer<CameralInteract> s_instance;

// The SDK draws the video itself; frames handed back here are of no use.
void previewDataCallback(int32_t, uint32_t, uint8_t *, uint32_t, void *) {}

void copyText(char *field, size_t limit, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::memcpy(field, bytes.constData(), std::min<size_t>(limit, size_t(bytes.size())));
}

} // namespace

CameralInteract *CameralInteract::instance()
{
    CameralInteract *existing = s_instance.loadAcquire();
    if (existing)
        return existing;
    QMutexLocker locker(&cameraLinkMutex);
    existing = s_instance.loadAcquire();
    if (!existing) {
        existing = new CameralInteract;
        s_instance.storeRelease(existing);
    }
    return existing;
}

CameralInteract::CameralInteract() : QObject(nullptr)
{
    CamNet_Init();
}

CameralInteract::~CameralInteract()
{
    logout();
}

int CameralInteract::login(const QString &address, int port, const QString &userName,
                           const QString &password)
{
    if (m_loginId >= 0)
        logout();

    CamNet_SetConnectTime(1000, 1);
    CamNet_SetReconnect(1000, 1);

    LoginRequest request;
    DeviceInfoReply reply;
    std::memset(&request, 0, sizeof(request));
    std::memset(&reply, 0, sizeof(reply));
    copyText(request.address, sizeof(request.address), address);
    copyText(request.userName, sizeof(request.userName), userName);
    copyText(request.password, sizeof(request.password), password);
    request.port = static_cast<uint16_t>(port & 0xFFFF);
    request.loginMode = 0;

    m_loginId = CamNet_Login(&request, &reply);
    if (m_loginId >= 0)
        return 0;
    return CamNet_GetLastError();
}

bool CameralInteract::realPlay(WId window, int channel)
{
    if (m_loginId < 0)
        return false;
    // Only channels 1 to 4 have a slot to remember their preview in; any
    // other channel could never be stopped, so it is not started.
    if (channel < 1 || channel > ChannelSlots)
        return false;
    int &slot = m_previewHandles[channel - 1];
    if (slot >= 0) {
        CamNet_StopRealPlay(slot);
        slot = -1;
    }

    PreviewRequest request;
    std::memset(&request, 0, sizeof(request));
    request.channel = channel;
    request.streamType = 0;
    request.linkMode = 0;
    request.window = static_cast<uintptr_t>(window);

    slot = CamNet_RealPlay(m_loginId, &request, previewDataCallback, this);
    return slot >= 0;
}

int CameralInteract::previewHandle(int channel) const
{
    if (channel < 1 || channel > ChannelSlots)
        return -1;
    return m_previewHandles[channel - 1];
}

void CameralInteract::logout()
{
    for (int &slot : m_previewHandles) {
        if (slot >= 0) {
            CamNet_StopRealPlay(slot);
            slot = -1;
        }
    }
    if (m_loginId >= 0) {
        CamNet_Logout(m_loginId);
        m_loginId = -1;
    }
}
