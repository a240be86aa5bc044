#include "curlerror.h"

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
