#include "http/curlerror.h"

#include "camnetsdk.h"

int32_t camNetErrorOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return CAMNET_ERR_NONE;
    case CURLE_OPERATION_TIMEDOUT:
        return CAMNET_ERR_TIMED_OUT;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return CAMNET_ERR_CONNECTION_FAILED;
    case CURLE_OUT_OF_MEMORY:
        return CAMNET_ERR_OUT_OF_RESOURCES;
    default:
        return CAMNET_ERR_PROTOCOL;
    }
}

int32_t camNetErrorOfStatus(long status, int32_t missing)
{
    if (status == 401 || status == 403)
        return CAMNET_ERR_AUTHENTICATION_FAILED;
    if (status == 404 || status == 405 || status == 501)
        return missing;
    if (status >= 400)
        return CAMNET_ERR_DEVICE_REFUSED;
    if (status < 200 || status >= 300)
        return CAMNET_ERR_PROTOCOL;
    return CAMNET_ERR_NONE;
}
