// The SDK error code a failed libcurl transfer or a camera's HTTP status stands
// for, shared by every request the SDK makes so that one camera fault reads
// the same everywhere.
#ifndef CURLERROR_H
#define CURLERROR_H

#include <curl/curl.h>

#include <cstdint>

int32_t camNetErrorOf(CURLcode code);
// CAMNET_ERR_NONE for a 2xx status. missing is what the camera not knowing the
// resource means for the caller (404, 405 and 501).
int32_t camNetErrorOfStatus(long status, int32_t missing);

#endif // CURLERROR_H
