// Control side of the recording fake SDK: tests script what each CamNet_*
// function returns and read back every call with copies of the bytes it was
// handed. Not thread-safe beyond a single mutex around its state.
#ifndef CAMNETSDKFAKE_H
#define CAMNETSDKFAKE_H

#include "camnetsdk.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace FakeSdk {

// One recorded SDK call. Byte copies are taken at the moment of the call.
struct Call
{
    std::string function;      // e.g. "CamNet_Login"
    std::vector<int64_t> args; // the integer arguments, in order
    std::string record;        // the record handed in, byte for byte
    std::string requestLine;   // CamNet_StdXmlConfig: requestLineLength bytes
    std::string body;          // CamNet_StdXmlConfig: bodyLength bytes
    std::string condition;     // std-config calls: conditionSize bytes
    std::string input;         // std-config calls: inputSize bytes; Login: the reply record
    std::string output;        // std-config calls: outputSize bytes of the output as handed in
    std::string outputRecord;  // CamNet_StdXmlConfig: the XmlConfigOutput, byte for byte
    std::string status;        // CamNet_StdXmlConfig, std-config calls: the status buffer
    bool bodyIsNull = false;
    CamNet_DataCallback callback = nullptr;
    void *context = nullptr;
    uint32_t responseCapacity = 0; // CamNet_StdXmlConfig: the sizes offered
    uint32_t statusCapacity = 0;
};

// Texts written into the caller's buffers by CamNet_StdXmlConfig. At most the
// buffer's capacity is written; a NUL follows when asked for and it fits. The
// size fields receive the bytes written, or the given override when >= 0.
struct XmlReply
{
    std::string response;
    std::string status;
    bool terminate = true;
    int64_t responseSizeField = -1;
    int64_t statusSizeField = -1;
};

// One scripted outcome. A failure (value 0, or negative for Login/RealPlay)
// makes CamNet_GetLastError return error afterwards.
struct Result
{
    int32_t value = 1;
    int32_t error = 0;
    XmlReply xml;
    std::string output; // CamNet_GetStdConfig: bytes copied into the output
};

// What CamNet_CapturePicture hands out: a BGRX picture (width * height * 4
// bytes, rows of width * 4) with its frame number, or, when error is set,
// that failure.
struct Picture
{
    uint32_t width = 0;
    uint32_t height = 0;
    std::string bgrx;
    uint32_t frameNumber = 1;
    uint64_t decodedAtUs = 0;
    int32_t error = 0;
};

// Forgets every call, every scripted result and every picture.
void reset();

// The picture of one preview handle, or of every preview of a channel (the
// channel its CamNet_RealPlay asked for); the handle's own one comes first.
// A preview with neither fails with CAMNET_ERR_NO_PICTURE. A result queued
// with push() for CamNet_CapturePicture overrides both once.
void setPicture(int32_t previewHandle, const Picture &picture);
void setChannelPicture(int32_t channel, const Picture &picture);

// Queues the outcome of the next unscripted call of function. Without a
// queued result: Login hands out 0, 1, 2, ...; RealPlay 100, 101, ...;
// every other function succeeds with 1 and writes nothing.
void push(const std::string &function, const Result &result);
void pushFailure(const std::string &function, int32_t error);
void pushXmlReply(const XmlReply &reply);
void pushStdOutput(const std::string &bytes);

// Runs hook inside every later call, with the function's name, before the
// call is recorded: what the caller shows while it waits on the camera.
// An empty hook, or reset(), ends it.
void setCallHook(std::function<void(const std::string &function)> hook);

std::vector<Call> calls();
std::vector<Call> calls(const std::string &function);
std::vector<std::string> callNames();

} // namespace FakeSdk

#endif // CAMNETSDKFAKE_H
