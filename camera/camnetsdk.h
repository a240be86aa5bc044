/*
 * The camera SDK's one header: the CamNet_* functions the tool calls, the
 * records they exchange and the SDK's error codes. Plain C, usable from C and
 * C++. Any library implementing it can stand in for the SDK.
 *
 * Records are wire formats: integers little-endian, every byte not named is
 * zero because the caller clears each record before filling it. The offsets
 * checked below are those of a 32-bit build; on a 64-bit build a record that
 * holds pointers takes natural alignment, so its pointers sit on 8-byte
 * boundaries, and a size field it carries holds its real (larger) size.
 */
#ifndef CAMNETSDK_H
#define CAMNETSDK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define CAMNET_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define CAMNET_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(__GNUC__)
#define CAMNET_API __attribute__((visibility("default")))
#else
#define CAMNET_API
#endif

#define CAMNET_POINTER_IS_32BIT (UINTPTR_MAX == 0xFFFFFFFFu)

/* Error codes returned by CamNet_GetLastError. */
enum CamNet_ErrorCode
{
    CAMNET_ERR_NONE = 0,                  /* the last call succeeded */
    CAMNET_ERR_NOT_INITIALISED = 1,       /* CamNet_Init has not been called */
    CAMNET_ERR_BAD_ARGUMENT = 2,          /* a null record, bad size field or value out of range */
    CAMNET_ERR_UNKNOWN_LOGIN = 3,         /* the login identifier names no open login */
    CAMNET_ERR_CONNECTION_FAILED = 4,     /* the camera could not be reached or dropped the link */
    CAMNET_ERR_TIMED_OUT = 5,             /* the camera did not answer in time */
    CAMNET_ERR_AUTHENTICATION_FAILED = 6, /* the camera refused the user name or password */
    CAMNET_ERR_DEVICE_REFUSED = 7,        /* the camera answered the request with an error status */
    CAMNET_ERR_NOT_SUPPORTED = 8,         /* the camera does not know the command or resource */
    CAMNET_ERR_CHANNEL_UNAVAILABLE = 9,   /* the channel does not exist or cannot be streamed */
    CAMNET_ERR_BUFFER_TOO_SMALL = 10,     /* the reply did not fit the caller's buffer */
    CAMNET_ERR_OUT_OF_RESOURCES = 11,     /* memory, threads or sockets ran out */
    CAMNET_ERR_UNKNOWN_PREVIEW = 12,      /* the preview handle names no running preview */
    CAMNET_ERR_PROTOCOL = 13,             /* the camera's reply could not be understood */
    CAMNET_ERR_NO_DISPLAY = 14,           /* the preview window could not be drawn into */
    CAMNET_ERR_BAD_PROFILE = 15,          /* the device profile is unusable; see standard error */
    CAMNET_ERR_NO_PICTURE = 16            /* the preview has decoded no picture yet */
};

/* Login: filled by the caller, 400 bytes on every build. */
typedef struct LoginRequest
{
    char address[129]; /* local 8-bit text, zero-filled behind it */
    uint8_t reserved0;
    uint16_t port;
    char userName[32];
    uint8_t reserved1[32];
    char password[16];
    uint8_t reserved2[56];
    uint32_t loginMode; /* 0 */
    uint8_t reserved3[128];
} LoginRequest;

/* What the SDK reports about the device at login, 344 bytes. */
typedef struct DeviceInfoReply
{
    char deviceName[64];
    char model[64];
    char serialNumber[64];
    char firmwareVersion[64];
    uint32_t channelCount;
    uint8_t reserved[84];
} DeviceInfoReply;

/* One live preview. 280 bytes on a 32-bit build. The window handle is as wide
 * as the platform's native window id (uintptr_t, like Qt's WId): on a 64-bit
 * build it sits at offset 16 and the record is 288 bytes. */
typedef struct PreviewRequest
{
    int32_t channel;
    uint32_t streamType; /* 0 */
    uint32_t linkMode;   /* 0 */
    uintptr_t window;
    uint8_t reserved[264];
} PreviewRequest;

/* An ISAPI request: request line and optional body. 56 bytes on 32-bit. */
typedef struct XmlConfigInput
{
    uint32_t size; /* sizeof(XmlConfigInput) */
    const char *requestLine;
    uint32_t requestLineLength;
    const char *body;
    uint32_t bodyLength;
    uint8_t reserved[36];
} XmlConfigInput;

/* The reply buffers of an ISAPI request. 56 bytes on 32-bit. On return the
 * two size fields hold the number of bytes written into each buffer. */
typedef struct XmlConfigOutput
{
    uint32_t size; /* sizeof(XmlConfigOutput) */
    char *response;
    uint32_t responseSize;
    uint32_t reserved0;
    char *status;
    uint32_t statusSize;
    uint8_t reserved1[32];
} XmlConfigOutput;

/* A standard-configuration command's buffers. 64 bytes on 32-bit. */
typedef struct StdConfigRecord
{
    const void *condition;
    uint32_t conditionSize;
    const void *input;
    uint32_t inputSize;
    void *output;
    uint32_t outputSize;
    char *status;
    uint32_t statusSize;
    uint8_t reserved[32];
} StdConfigRecord;

/* The fusion switch of a thermal channel, 732 bytes. */
typedef struct FusionSwitchRecord
{
    uint32_t size; /* 732 */
    uint8_t enabled;
    uint8_t fusionState; /* 1 on, 2 off */
    uint8_t reserved[726];
} FusionSwitchRecord;

/* Frame counts of one running preview, for tests and benchmarks. A frame is
 * drawn when it reached the end of the pipeline: the window, or, with no
 * window to draw into, a sink that discards it. Reconnects counts the times
 * the SDK started the stream again after it ended or failed. */
typedef struct CamNet_PreviewStats
{
    uint32_t framesReceived;
    uint32_t framesDrawn;
    uint32_t reconnects;
    uint32_t reserved[5];
} CamNet_PreviewStats;

/* Pixel formats of CamNet_CapturePicture. */
enum CamNet_PixelFormat
{
    CAMNET_PIXEL_BGRX = 1 /* 4 bytes a pixel: blue, green, red, unused (255) */
};

/* One decoded picture of a preview, for CamNet_CapturePicture. 68 bytes on a
 * 32-bit x86 build (72 where a 64-bit integer is aligned to 8 bytes), 72 on a
 * 64-bit build, where data sits at offset 32 on its 8-byte boundary. */
typedef struct CamNet_Picture
{
    uint32_t size;         /* sizeof(CamNet_Picture), set by the caller */
    uint32_t pixelFormat;  /* out: CAMNET_PIXEL_BGRX */
    uint32_t width;        /* out: as decoded, never the window's scaled copy */
    uint32_t height;       /* out */
    uint32_t stride;       /* out: bytes from one row to the next, width * 4 */
    uint32_t frameNumber;  /* out: pictures decoded by this preview so far; 1 for the first */
    uint64_t decodedAtUs;  /* out: CLOCK_MONOTONIC time the picture left the decoder, in us */
    uint8_t *data;         /* in: the caller's buffer */
    uint32_t dataSize;     /* in: its size in bytes */
    uint32_t requiredSize; /* out: stride * height, also when the buffer was too small */
    uint32_t reserved[6];
} CamNet_Picture;

CAMNET_STATIC_ASSERT(sizeof(LoginRequest) == 400, "LoginRequest size");
CAMNET_STATIC_ASSERT(offsetof(LoginRequest, address) == 0, "LoginRequest address");
CAMNET_STATIC_ASSERT(offsetof(LoginRequest, port) == 130, "LoginRequest port");
CAMNET_STATIC_ASSERT(offsetof(LoginRequest, userName) == 132, "LoginRequest userName");
CAMNET_STATIC_ASSERT(offsetof(LoginRequest, password) == 196, "LoginRequest password");
CAMNET_STATIC_ASSERT(offsetof(LoginRequest, loginMode) == 268, "LoginRequest loginMode");
CAMNET_STATIC_ASSERT(sizeof(DeviceInfoReply) == 344, "DeviceInfoReply size");
CAMNET_STATIC_ASSERT(sizeof(FusionSwitchRecord) == 732, "FusionSwitchRecord size");
CAMNET_STATIC_ASSERT(offsetof(FusionSwitchRecord, enabled) == 4, "FusionSwitchRecord enabled");
CAMNET_STATIC_ASSERT(offsetof(FusionSwitchRecord, fusionState) == 5, "FusionSwitchRecord state");
CAMNET_STATIC_ASSERT(offsetof(PreviewRequest, channel) == 0, "PreviewRequest channel");
CAMNET_STATIC_ASSERT(offsetof(PreviewRequest, streamType) == 4, "PreviewRequest streamType");
CAMNET_STATIC_ASSERT(offsetof(PreviewRequest, linkMode) == 8, "PreviewRequest linkMode");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, pixelFormat) == 4, "CamNet_Picture pixelFormat");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, width) == 8, "CamNet_Picture width");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, height) == 12, "CamNet_Picture height");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, stride) == 16, "CamNet_Picture stride");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, frameNumber) == 20, "CamNet_Picture frameNumber");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, decodedAtUs) == 24, "CamNet_Picture decodedAtUs");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, data) == 32, "CamNet_Picture data");

#if CAMNET_POINTER_IS_32BIT
CAMNET_STATIC_ASSERT(sizeof(PreviewRequest) == 280, "PreviewRequest size");
CAMNET_STATIC_ASSERT(offsetof(PreviewRequest, window) == 12, "PreviewRequest window");
CAMNET_STATIC_ASSERT(sizeof(XmlConfigInput) == 56, "XmlConfigInput size");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, requestLine) == 4, "XmlConfigInput line");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, requestLineLength) == 8, "XmlConfigInput length");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, body) == 12, "XmlConfigInput body");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, bodyLength) == 16, "XmlConfigInput bodyLength");
CAMNET_STATIC_ASSERT(sizeof(XmlConfigOutput) == 56, "XmlConfigOutput size");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, response) == 4, "XmlConfigOutput response");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, responseSize) == 8, "XmlConfigOutput respSize");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, status) == 16, "XmlConfigOutput status");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, statusSize) == 20, "XmlConfigOutput statusSize");
CAMNET_STATIC_ASSERT(sizeof(StdConfigRecord) == 64, "StdConfigRecord size");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, conditionSize) == 4, "StdConfigRecord condSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, input) == 8, "StdConfigRecord input");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, inputSize) == 12, "StdConfigRecord inputSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, output) == 16, "StdConfigRecord output");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, outputSize) == 20, "StdConfigRecord outputSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, status) == 24, "StdConfigRecord status");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, statusSize) == 28, "StdConfigRecord statusSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, dataSize) == 36, "CamNet_Picture dataSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, requiredSize) == 40, "CamNet_Picture requiredSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, reserved) == 44, "CamNet_Picture reserved");
CAMNET_STATIC_ASSERT(sizeof(CamNet_Picture) == 68 || sizeof(CamNet_Picture) == 72,
                     "CamNet_Picture size");
#else
CAMNET_STATIC_ASSERT(sizeof(PreviewRequest) == 288, "PreviewRequest size");
CAMNET_STATIC_ASSERT(offsetof(PreviewRequest, window) == 16, "PreviewRequest window");
CAMNET_STATIC_ASSERT(sizeof(XmlConfigInput) == 72, "XmlConfigInput size");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, requestLine) == 8, "XmlConfigInput line");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, requestLineLength) == 16, "XmlConfigInput length");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, body) == 24, "XmlConfigInput body");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigInput, bodyLength) == 32, "XmlConfigInput bodyLength");
CAMNET_STATIC_ASSERT(sizeof(XmlConfigOutput) == 72, "XmlConfigOutput size");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, response) == 8, "XmlConfigOutput response");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, responseSize) == 16, "XmlConfigOutput respSize");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, status) == 24, "XmlConfigOutput status");
CAMNET_STATIC_ASSERT(offsetof(XmlConfigOutput, statusSize) == 32, "XmlConfigOutput statusSize");
CAMNET_STATIC_ASSERT(sizeof(StdConfigRecord) == 96, "StdConfigRecord size");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, conditionSize) == 8, "StdConfigRecord condSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, input) == 16, "StdConfigRecord input");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, inputSize) == 24, "StdConfigRecord inputSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, output) == 32, "StdConfigRecord output");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, outputSize) == 40, "StdConfigRecord outputSize");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, status) == 48, "StdConfigRecord status");
CAMNET_STATIC_ASSERT(offsetof(StdConfigRecord, statusSize) == 56, "StdConfigRecord statusSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, dataSize) == 40, "CamNet_Picture dataSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, requiredSize) == 44, "CamNet_Picture requiredSize");
CAMNET_STATIC_ASSERT(offsetof(CamNet_Picture, reserved) == 48, "CamNet_Picture reserved");
CAMNET_STATIC_ASSERT(sizeof(CamNet_Picture) == 72, "CamNet_Picture size");
#endif

/* What the data callback is handed. */
enum CamNet_DataType
{
    CAMNET_DATA_FRAME = 1,      /* one whole JPEG frame, as received from the camera */
    CAMNET_DATA_ACCESS_UNIT = 2 /* one H.264 or H.265 access unit of an RTSP stream: all
                                   NAL units of one picture, as the decoder takes them */
};

/* Called from the SDK's thread for each received frame of a preview. Once
 * CamNet_StopRealPlay or CamNet_Logout has returned, no call for that preview
 * begins. A call under way has returned by then too (unless the stop was made
 * from it), except one that outlasts the 400 ms the stop waits for it. */
typedef void (*CamNet_DataCallback)(int32_t previewHandle, uint32_t dataType, uint8_t *data,
                                    uint32_t dataSize, void *context);

/* Results: nonzero (or, for Login and RealPlay, a value >= 0) means success.
 * Every call that talks to the camera returns within one deadline, whatever
 * the camera does: waitMs x tries of CamNet_SetConnectTime plus the request
 * timeout of 5 s, shared by all its connect tries and Digest round trips.
 * Login and preview identifiers are not handed out again soon, so a stale one
 * names nothing rather than a newer login or preview. */
CAMNET_API int32_t CamNet_Init(void);
CAMNET_API int32_t CamNet_SetConnectTime(uint32_t waitMs, uint32_t tries);
CAMNET_API int32_t CamNet_SetReconnect(uint32_t intervalMs, int32_t enable);
/* The address is a host name, an IPv4 literal or an IPv6 literal (bracketed
 * or not, with an optional %zone); anything else fails with
 * CAMNET_ERR_BAD_ARGUMENT before anything is sent.
 * Each login reads the device profile: the INI file named by the environment
 * variable CAMNETSDK_PROFILE (when set and not empty), else camnetsdk.ini
 * beside this library, else none, which means the simulator's own protocol.
 * Its [General] group, overridden key by key by a group named after the
 * address exactly as given, may set loginCheck, streamUrl, rtspTransport,
 * rtspBasicAuth and stdConfigPath (see camnetsdk.ini.example). A profile that
 * cannot be read, does not parse, or holds an unknown key or a bad value fails
 * the login with CAMNET_ERR_BAD_PROFILE and one line on standard error naming
 * the file, the line and the fault; nothing falls back to a default. A wrong password costs the
 * camera one failed attempt: a refused Digest answer is repeated only when
 * the camera marks its nonce stale. */
CAMNET_API int32_t CamNet_Login(const LoginRequest *request, DeviceInfoReply *reply);
CAMNET_API int32_t CamNet_GetLastError(void);
CAMNET_API int32_t CamNet_RealPlay(int32_t loginId, const PreviewRequest *request,
                                   CamNet_DataCallback callback, void *context);
CAMNET_API int32_t CamNet_StopRealPlay(int32_t previewHandle);
CAMNET_API int32_t CamNet_Logout(int32_t loginId);
CAMNET_API int32_t CamNet_StdXmlConfig(int32_t loginId, const XmlConfigInput *input,
                                       XmlConfigOutput *output);
CAMNET_API int32_t CamNet_GetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record);
CAMNET_API int32_t CamNet_SetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record);

/* Not used by the tool: what one running preview has done so far. */
CAMNET_API int32_t CamNet_GetPreviewStats(int32_t previewHandle, CamNet_PreviewStats *stats);

/* Copies the newest picture a running preview has decoded into picture->data,
 * as the decoder made it: the stream's own width and height, never the copy
 * scaled for the window, converted to CAMNET_PIXEL_BGRX with rows of
 * width * 4 bytes. Headless previews (window 0) capture too. While the
 * stream runs the SDK only keeps a reference to its newest picture; the
 * conversion is made here, on the caller's thread, and only when asked for.
 * Returns within the time of one conversion and never waits for a frame:
 * CAMNET_ERR_NO_PICTURE at once while none has been decoded. After the stream
 * ended and while the SDK reconnects, the newest picture of the previous
 * connection is still returned; its frameNumber stays and its decodedAtUs
 * tells how old it is. Failures: CAMNET_ERR_NOT_INITIALISED; a null record, a
 * size field other than sizeof(CamNet_Picture) or a null data pointer
 * CAMNET_ERR_BAD_ARGUMENT; a handle naming no running preview
 * CAMNET_ERR_UNKNOWN_PREVIEW; CAMNET_ERR_NO_PICTURE; dataSize below
 * stride * height CAMNET_ERR_BUFFER_TOO_SMALL, with every out field but the
 * pixels filled (requiredSize among them) and nothing written to data; a
 * picture the SDK cannot convert CAMNET_ERR_NOT_SUPPORTED. */
CAMNET_API int32_t CamNet_CapturePicture(int32_t previewHandle, CamNet_Picture *picture);

#ifdef __cplusplus
}
#endif

#endif /* CAMNETSDK_H */
