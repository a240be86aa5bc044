// The SDK error code a failed libcurl transfer stands for, shared by every
// request the SDK makes so that one camera fault reads the same everywhere.
#ifndef CURLERROR_H
#define CURLERROR_H

#include <curl/curl.h>

#include <cstdint>

int32_t camNetErrorOf(CURLcode code);

#endif // CURLERROR_H
