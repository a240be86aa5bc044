/* Compiles the SDK header as C, so its layout checks also hold for C users. */
#include "camnetsdk.h"

int32_t camnetsdk_fake_header_is_c(void)
{
    return (int32_t)sizeof(LoginRequest);
}
