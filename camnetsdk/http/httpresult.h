// What one HTTP exchange with the camera gave: the SDK error it maps to (or
// none), the status code and as much of the body as was kept.
#ifndef HTTPRESULT_H
#define HTTPRESULT_H

#include "camnetsdk.h"

#include <string>

struct HttpResult
{
    int32_t error = CAMNET_ERR_NONE; // transport failure; NONE once a status arrived
    long status = 0;
    std::string body;
    bool truncated = false; // the body went past the cap given for it
};

#endif // HTTPRESULT_H
