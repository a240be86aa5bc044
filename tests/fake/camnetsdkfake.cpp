// The recording fake SDK: implements every function of camnetsdk.h from a
// script, and keeps each call for the tests to inspect.
#include "camnetsdkfake.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace {

struct State
{
    std::mutex mutex;
    std::vector<FakeSdk::Call> calls;
    std::map<std::string, std::deque<FakeSdk::Result>> script;
    std::function<void(const std::string &)> hook;
    int32_t lastError = 0;
    int32_t nextLogin = 0;
    int32_t nextPreview = 100;
    std::map<int32_t, int32_t> previewChannels;
    std::map<int32_t, FakeSdk::Picture> handlePictures;
    std::map<int32_t, FakeSdk::Picture> channelPictures;
};

State &state()
{
    static State s;
    return s;
}

// Runs the hook outside the lock, so that it may look at the calls so far.
void enter(const std::string &function)
{
    State &s = state();
    std::function<void(const std::string &)> hook;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        hook = s.hook;
    }
    if (hook)
        hook(function);
}

std::string bytesOf(const void *data, size_t size)
{
    if (!data)
        return std::string();
    return std::string(static_cast<const char *>(data), size);
}

// Takes the next scripted result of function, or the default one.
FakeSdk::Result next(State &s, const std::string &function, int32_t defaultValue)
{
    auto it = s.script.find(function);
    if (it == s.script.end() || it->second.empty()) {
        FakeSdk::Result r;
        r.value = defaultValue;
        return r;
    }
    FakeSdk::Result r = it->second.front();
    it->second.pop_front();
    return r;
}

void settle(State &s, const FakeSdk::Result &r, bool failed)
{
    s.lastError = failed ? r.error : 0;
}

// Writes text into buffer without passing capacity; returns the bytes written.
uint32_t writeInto(char *buffer, uint32_t capacity, const std::string &text, bool terminate)
{
    if (!buffer || capacity == 0)
        return 0;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size(), capacity));
    std::memcpy(buffer, text.data(), n);
    if (terminate && n < capacity)
        buffer[n] = '\0';
    return n;
}

int32_t simple(const std::string &function, std::vector<int64_t> args)
{
    enter(function);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = function;
    call.args = std::move(args);
    s.calls.push_back(call);
    FakeSdk::Result r = next(s, function, 1);
    settle(s, r, r.value == 0);
    return r.value;
}

} // namespace

namespace FakeSdk {

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.script.clear();
    s.hook = nullptr;
    s.lastError = 0;
    s.nextLogin = 0;
    s.nextPreview = 100;
    s.previewChannels.clear();
    s.handlePictures.clear();
    s.channelPictures.clear();
}

void setPicture(int32_t previewHandle, const Picture &picture)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.handlePictures[previewHandle] = picture;
}

void setChannelPicture(int32_t channel, const Picture &picture)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.channelPictures[channel] = picture;
}

void push(const std::string &function, const Result &result)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.script[function].push_back(result);
}

void pushFailure(const std::string &function, int32_t error)
{
    Result r;
    r.value = (function == "CamNet_Login" || function == "CamNet_RealPlay") ? -1 : 0;
    r.error = error;
    push(function, r);
}

void pushXmlReply(const XmlReply &reply)
{
    Result r;
    r.xml = reply;
    push("CamNet_StdXmlConfig", r);
}

void pushStdOutput(const std::string &bytes)
{
    Result r;
    r.output = bytes;
    push("CamNet_GetStdConfig", r);
}

void setCallHook(std::function<void(const std::string &function)> hook)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.hook = std::move(hook);
}

std::vector<Call> calls()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::vector<Call> calls(const std::string &function)
{
    std::vector<Call> all = calls();
    std::vector<Call> picked;
    for (const Call &c : all) {
        if (c.function == function)
            picked.push_back(c);
    }
    return picked;
}

std::vector<std::string> callNames()
{
    std::vector<std::string> names;
    for (const Call &c : calls())
        names.push_back(c.function);
    return names;
}

} // namespace FakeSdk

extern "C" {

int32_t CamNet_Init(void)
{
    return simple("CamNet_Init", {});
}

int32_t CamNet_SetConnectTime(uint32_t waitMs, uint32_t tries)
{
    return simple("CamNet_SetConnectTime", {waitMs, tries});
}

int32_t CamNet_SetReconnect(uint32_t intervalMs, int32_t enable)
{
    return simple("CamNet_SetReconnect", {intervalMs, enable});
}

int32_t CamNet_Login(const LoginRequest *request, DeviceInfoReply *reply)
{
    enter("CamNet_Login");
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = "CamNet_Login";
    call.record = bytesOf(request, sizeof(LoginRequest));
    call.input = bytesOf(reply, sizeof(DeviceInfoReply));
    s.calls.push_back(call);
    FakeSdk::Result r = next(s, call.function, s.nextLogin);
    if (r.value == s.nextLogin)
        ++s.nextLogin;
    if (r.value >= 0 && reply) {
        std::strncpy(reply->deviceName, "fake device", sizeof(reply->deviceName) - 1);
        reply->channelCount = 2;
    }
    settle(s, r, r.value < 0);
    return r.value;
}

int32_t CamNet_GetLastError(void)
{
    enter("CamNet_GetLastError");
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = "CamNet_GetLastError";
    s.calls.push_back(call);
    return s.lastError;
}

int32_t CamNet_RealPlay(int32_t loginId, const PreviewRequest *request,
                        CamNet_DataCallback callback, void *context)
{
    enter("CamNet_RealPlay");
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = "CamNet_RealPlay";
    call.args = {loginId};
    call.record = bytesOf(request, sizeof(PreviewRequest));
    call.callback = callback;
    call.context = context;
    s.calls.push_back(call);
    FakeSdk::Result r = next(s, call.function, s.nextPreview);
    if (r.value == s.nextPreview)
        ++s.nextPreview;
    if (r.value >= 0 && request)
        s.previewChannels[r.value] = request->channel;
    settle(s, r, r.value < 0);
    return r.value;
}

int32_t CamNet_StopRealPlay(int32_t previewHandle)
{
    return simple("CamNet_StopRealPlay", {previewHandle});
}

int32_t CamNet_Logout(int32_t loginId)
{
    return simple("CamNet_Logout", {loginId});
}

int32_t CamNet_StdXmlConfig(int32_t loginId, const XmlConfigInput *input, XmlConfigOutput *output)
{
    enter("CamNet_StdXmlConfig");
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = "CamNet_StdXmlConfig";
    call.args = {loginId};
    if (input) {
        call.record = bytesOf(input, sizeof(XmlConfigInput));
        call.requestLine = bytesOf(input->requestLine, input->requestLineLength);
        call.body = bytesOf(input->body, input->bodyLength);
        call.bodyIsNull = input->body == nullptr;
    }
    if (output) {
        call.outputRecord = bytesOf(output, sizeof(XmlConfigOutput));
        call.status = bytesOf(output->status, output->statusSize);
        call.responseCapacity = output->responseSize;
        call.statusCapacity = output->statusSize;
    }
    s.calls.push_back(call);
    FakeSdk::Result r = next(s, call.function, 1);
    if (r.value != 0 && output) {
        const FakeSdk::XmlReply &x = r.xml;
        const uint32_t rn =
            writeInto(output->response, output->responseSize, x.response, x.terminate);
        const uint32_t sn = writeInto(output->status, output->statusSize, x.status, x.terminate);
        output->responseSize =
            x.responseSizeField >= 0 ? static_cast<uint32_t>(x.responseSizeField) : rn;
        output->statusSize = x.statusSizeField >= 0 ? static_cast<uint32_t>(x.statusSizeField) : sn;
    }
    settle(s, r, r.value == 0);
    return r.value;
}

static int32_t stdConfig(const char *function, int32_t loginId, uint32_t command,
                         StdConfigRecord *record)
{
    enter(function);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = function;
    call.args = {loginId, command};
    if (record) {
        call.record = bytesOf(record, sizeof(StdConfigRecord));
        call.condition = bytesOf(record->condition, record->conditionSize);
        call.input = bytesOf(record->input, record->inputSize);
        call.output = bytesOf(record->output, record->outputSize);
        call.status = bytesOf(record->status, record->statusSize);
    }
    s.calls.push_back(call);
    FakeSdk::Result r = next(s, call.function, 1);
    if (r.value != 0 && record && record->output && !r.output.empty()) {
        const size_t n = std::min<size_t>(r.output.size(), record->outputSize);
        std::memcpy(record->output, r.output.data(), n);
    }
    settle(s, r, r.value == 0);
    return r.value;
}

int32_t CamNet_GetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record)
{
    return stdConfig("CamNet_GetStdConfig", loginId, command, record);
}

int32_t CamNet_SetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record)
{
    return stdConfig("CamNet_SetStdConfig", loginId, command, record);
}

int32_t CamNet_CapturePicture(int32_t previewHandle, CamNet_Picture *picture)
{
    enter("CamNet_CapturePicture");
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    FakeSdk::Call call;
    call.function = "CamNet_CapturePicture";
    call.args = {previewHandle};
    call.record = bytesOf(picture, sizeof(CamNet_Picture));
    s.calls.push_back(call);
    const FakeSdk::Result r = next(s, call.function, 1);
    if (r.value == 0) {
        settle(s, r, true);
        return 0;
    }
    const FakeSdk::Picture *p = nullptr;
    const auto own = s.handlePictures.find(previewHandle);
    const auto channel = s.previewChannels.find(previewHandle);
    if (own != s.handlePictures.end()) {
        p = &own->second;
    } else if (channel != s.previewChannels.end()) {
        const auto shared = s.channelPictures.find(channel->second);
        p = shared == s.channelPictures.end() ? nullptr : &shared->second;
    }
    if (!picture || picture->size != sizeof(CamNet_Picture) || !picture->data)
        s.lastError = CAMNET_ERR_BAD_ARGUMENT;
    else
        s.lastError = !p ? CAMNET_ERR_NO_PICTURE : p->error;
    if (s.lastError)
        return 0;
    picture->pixelFormat = CAMNET_PIXEL_BGRX;
    picture->width = p->width;
    picture->height = p->height;
    picture->stride = p->width * 4;
    picture->frameNumber = p->frameNumber;
    picture->decodedAtUs = p->decodedAtUs;
    picture->requiredSize = uint32_t(p->bgrx.size());
    if (picture->dataSize < p->bgrx.size()) {
        s.lastError = CAMNET_ERR_BUFFER_TOO_SMALL;
        return 0;
    }
    std::memcpy(picture->data, p->bgrx.data(), p->bgrx.size());
    return 1;
}

int32_t CamNet_GetPreviewStats(int32_t previewHandle, CamNet_PreviewStats *stats)
{
    if (stats)
        std::memset(stats, 0, sizeof(*stats));
    return simple("CamNet_GetPreviewStats", {previewHandle});
}

} // extern "C"
