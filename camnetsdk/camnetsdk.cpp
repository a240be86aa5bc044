// The camera SDK without a network transport: it honours the calling order and
// reports every camera request as unsupported through CamNet_GetLastError, so
// the tool runs and shows the failure instead of crashing or hanging.
#include "camnetsdk.h"

#include <atomic>

namespace {

thread_local int32_t lastError = CAMNET_ERR_NONE;
std::atomic<bool> initialised{false};

int32_t fail(int32_t code, int32_t result)
{
    lastError = code;
    return result;
}

int32_t unsupported(int32_t result)
{
    return fail(initialised ? CAMNET_ERR_NOT_SUPPORTED : CAMNET_ERR_NOT_INITIALISED, result);
}

} // namespace

int32_t CamNet_Init(void)
{
    initialised = true;
    lastError = CAMNET_ERR_NONE;
    return 1;
}

int32_t CamNet_SetConnectTime(uint32_t, uint32_t)
{
    lastError = CAMNET_ERR_NONE;
    return 1;
}

int32_t CamNet_SetReconnect(uint32_t, int32_t)
{
    lastError = CAMNET_ERR_NONE;
    return 1;
}

int32_t CamNet_Login(const LoginRequest *request, DeviceInfoReply *reply)
{
    if (!request || !reply)
        return fail(CAMNET_ERR_BAD_ARGUMENT, -1);
    return unsupported(-1);
}

int32_t CamNet_GetLastError(void)
{
    return lastError;
}

int32_t CamNet_RealPlay(int32_t, const PreviewRequest *, CamNet_DataCallback, void *)
{
    return fail(CAMNET_ERR_UNKNOWN_LOGIN, -1);
}

int32_t CamNet_StopRealPlay(int32_t)
{
    return fail(CAMNET_ERR_UNKNOWN_PREVIEW, 0);
}

int32_t CamNet_Logout(int32_t)
{
    return fail(CAMNET_ERR_UNKNOWN_LOGIN, 0);
}

int32_t CamNet_StdXmlConfig(int32_t, const XmlConfigInput *, XmlConfigOutput *)
{
    return fail(CAMNET_ERR_UNKNOWN_LOGIN, 0);
}

int32_t CamNet_GetStdConfig(int32_t, uint32_t, StdConfigRecord *)
{
    return fail(CAMNET_ERR_UNKNOWN_LOGIN, 0);
}

int32_t CamNet_SetStdConfig(int32_t, uint32_t, StdConfigRecord *)
{
    return fail(CAMNET_ERR_UNKNOWN_LOGIN, 0);
}

int32_t CamNet_GetPreviewStats(int32_t, CamNet_PreviewStats *)
{
    return fail(CAMNET_ERR_UNKNOWN_PREVIEW, 0);
}
