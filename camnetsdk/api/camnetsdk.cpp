// The CamNet_* entry points: argument checks, error reporting per thread, and
// the mapping of each call onto HTTP requests of its login's session.
#include "camnetsdk.h"

#include "api/loginregistry.h"
#include "api/previewregistry.h"
#include "api/sdkconfig.h"
#include "http/curlerror.h"
#include "http/deviceinfo.h"
#include "http/hostaddress.h"
#include "http/httpclient.h"
#include "http/requestline.h"
#include "preview/rtsp/rtspauthguard.h"
#include "preview/streamprobe.h"
#include "profile/deviceprofile.h"

#include <X11/Xlib.h>
#include <curl/curl.h>
#include <gst/gst.h>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

thread_local int32_t lastError = CAMNET_ERR_NONE;
std::atomic<bool> initialised{false};
std::atomic<bool> mediaReady{false};

// How long a stop waits for its preview's thread; the rest of the half
// second it may take is for destroying the window from here instead.
constexpr auto stopBound = std::chrono::milliseconds(400);

// Larger replies are never legitimate and must not exhaust memory.
constexpr size_t loginReplyCap = 64 * 1024;

std::string basicAuthorization(const std::string &user, const std::string &password)
{
    const std::string pair = user + ":" + password;
    gchar *encoded = g_base64_encode(reinterpret_cast<const guchar *>(pair.data()), pair.size());
    const std::string value = std::string("Basic ") + encoded;
    g_free(encoded);
    return value;
}

int32_t fail(int32_t code, int32_t result)
{
    lastError = code;
    return result;
}

int32_t succeed(int32_t result)
{
    lastError = CAMNET_ERR_NONE;
    return result;
}

// Text of a fixed-size record field that may lack its terminating zero.
std::string fieldText(const char *field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

// Copies as much of data as fits; zero-terminates only inside the buffer.
uint32_t writeInto(char *buffer, uint32_t capacity, const std::string &data)
{
    if (!buffer || capacity == 0)
        return 0;
    const uint32_t n = uint32_t(std::min<size_t>(data.size(), capacity));
    std::memcpy(buffer, data.data(), n);
    if (n < capacity)
        buffer[n] = '\0';
    return n;
}

bool fits(const std::string &data, uint32_t capacity, const HttpResult &reply)
{
    return !reply.truncated && data.size() <= capacity;
}

// The open login a call names, or why there is none.
int32_t findLogin(int32_t loginId, std::shared_ptr<LoginSession> *session)
{
    if (!initialised)
        return CAMNET_ERR_NOT_INITIALISED;
    *session = loginId < 0 ? nullptr : LoginRegistry::instance().find(loginId);
    return *session ? CAMNET_ERR_NONE : CAMNET_ERR_UNKNOWN_LOGIN;
}

int32_t stdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record)
{
    const HttpClient::Deadline deadline = HttpClient::callDeadline();
    std::shared_ptr<LoginSession> session;
    if (const int32_t error = findLogin(loginId, &session))
        return fail(error, 0);
    if (!record || (record->conditionSize && !record->condition) ||
        (record->inputSize && !record->input) || (record->outputSize && !record->output))
        return fail(CAMNET_ERR_BAD_ARGUMENT, 0);

    std::string body;
    if (record->conditionSize)
        body.append(static_cast<const char *>(record->condition), record->conditionSize);
    if (record->inputSize)
        body.append(static_cast<const char *>(record->input), record->inputSize);
    const std::string path =
        session->profile().stdConfigPath(command, record->conditionSize, record->outputSize);
    const size_t cap = std::max<size_t>(record->outputSize, record->statusSize) + 1;
    const HttpResult reply =
        session->perform("POST", path, &body, "application/octet-stream", cap, deadline);
    if (reply.error)
        return fail(reply.error, 0);
    if (const int32_t error = camNetErrorOfStatus(reply.status, CAMNET_ERR_NOT_SUPPORTED)) {
        writeInto(record->status, record->statusSize, reply.body);
        return fail(error, 0);
    }
    if (reply.body.size() > record->outputSize || reply.truncated) {
        // A call without an output buffer has nowhere to copy to, not even
        // nothing: memcpy to a null pointer is undefined.
        if (record->outputSize)
            std::memcpy(record->output, reply.body.data(), record->outputSize);
        return fail(CAMNET_ERR_BUFFER_TOO_SMALL, 0);
    }
    if (!reply.body.empty())
        std::memcpy(record->output, reply.body.data(), reply.body.size());
    return succeed(1);
}

} // namespace

int32_t CamNet_Init(void)
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        // Preview threads each own an X connection; Xlib must know before any is opened.
        XInitThreads();
        // The login check's document is read on whatever thread logs in.
        xmlInitParser();
        GError *error = nullptr;
        mediaReady = gst_init_check(nullptr, nullptr, &error);
        if (error)
            g_error_free(error);
        // Before any RTSP source exists, so that every one of them loads it.
        if (mediaReady)
            RtspAuthGuard::registerGuard();
    });
    if (!ok)
        return fail(CAMNET_ERR_OUT_OF_RESOURCES, 0);
    initialised = true;
    return succeed(1);
}

int32_t CamNet_SetConnectTime(uint32_t waitMs, uint32_t tries)
{
    SdkConfig::setConnectLimits(waitMs, tries);
    return succeed(1);
}

int32_t CamNet_SetReconnect(uint32_t intervalMs, int32_t enable)
{
    SdkConfig::setReconnect(intervalMs, enable != 0);
    return succeed(1);
}

int32_t CamNet_Login(const LoginRequest *request, DeviceInfoReply *reply)
{
    const HttpClient::Deadline deadline = HttpClient::callDeadline();
    if (!initialised)
        return fail(CAMNET_ERR_NOT_INITIALISED, -1);
    std::string host;
    const std::string address =
        request ? fieldText(request->address, sizeof request->address) : std::string();
    if (!request || !reply || request->port == 0 || !hostForUrl(address, &host))
        return fail(CAMNET_ERR_BAD_ARGUMENT, -1);
    // Read at every login, so that an edited profile applies to the next connect.
    DeviceProfile profile;
    std::string problem;
    if (!DeviceProfile::read(DeviceProfile::locate(), address, &profile, &problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return fail(CAMNET_ERR_BAD_PROFILE, -1);
    }
    auto session = std::make_shared<LoginSession>(
        host, request->port, fieldText(request->userName, sizeof request->userName),
        fieldText(request->password, sizeof request->password), profile);
    if (!session->valid())
        return fail(CAMNET_ERR_OUT_OF_RESOURCES, -1);

    const HttpResult result =
        session->perform("GET", profile.loginCheck(), nullptr, nullptr, loginReplyCap, deadline);
    if (result.error)
        return fail(result.error, -1);
    // A camera without the login check's resource speaks another protocol.
    if (const int32_t error = camNetErrorOfStatus(result.status, CAMNET_ERR_PROTOCOL))
        return fail(error, -1);
    // A camera's own login check may answer anything on success; ours names the device.
    DeviceInfoReply info{};
    const bool described = !result.truncated && readDeviceInfo(result.body, &info);
    if (!described && profile.builtInLoginCheck())
        return fail(CAMNET_ERR_PROTOCOL, -1);
    if (!described)
        info = DeviceInfoReply{};

    const int32_t id = LoginRegistry::instance().add(std::move(session));
    if (id < 0)
        return fail(CAMNET_ERR_OUT_OF_RESOURCES, -1);
    *reply = info;
    return succeed(id);
}

int32_t CamNet_GetLastError(void)
{
    return lastError;
}

int32_t CamNet_RealPlay(int32_t loginId, const PreviewRequest *request,
                        CamNet_DataCallback callback, void *context)
{
    const HttpClient::Deadline deadline = HttpClient::callDeadline();
    std::shared_ptr<LoginSession> session;
    if (const int32_t error = findLogin(loginId, &session))
        return fail(error, -1);
    if (!request || request->channel < 1)
        return fail(CAMNET_ERR_BAD_ARGUMENT, -1);
    if (!mediaReady)
        return fail(CAMNET_ERR_NOT_SUPPORTED, -1);

    const DeviceProfile &profile = session->profile();
    std::string url;
    if (const int32_t error = session->resolveStreamUrl(request->channel, deadline, &url))
        return fail(error, -1);
    StreamProbe probe(url, session->user(), session->password(), profile.rtspBasicAuth());
    if (const int32_t error = probe.run(deadline))
        return fail(error, -1);

    PreviewRegistry &previews = PreviewRegistry::instance();
    const int32_t handle = previews.reserve();
    if (handle < 0)
        return fail(CAMNET_ERR_OUT_OF_RESOURCES, -1);
    // A camera that offers only Basic gets it before its challenge: some
    // send one that GStreamer's RTSP client cannot read.
    const std::string presetAuthorization =
        profile.rtspBasicAuth() && probe.basicChallengeOnly()
            ? basicAuthorization(session->user(), session->password())
            : std::string();
    auto preview = std::make_shared<PreviewSession>(PreviewSession::Target{
        handle, loginId, url, session->user(), session->password(), profile.rtspTransport(),
        profile.rtspBasicAuth(), presetAuthorization, request->window, callback, context});
    int32_t error = preview->start();
    // Over RTSP a handle stands for a stream the camera agreed to play.
    if (!error)
        error = preview->waitUntilPlaying(deadline);
    if (error) {
        preview->finishStop(std::chrono::steady_clock::now() + stopBound);
        previews.release(handle);
        return fail(error, -1);
    }
    previews.fill(handle, preview);
    // A logout that ran meanwhile has not seen this preview.
    if (LoginRegistry::instance().find(loginId) != session) {
        if (const std::shared_ptr<PreviewSession> orphan = previews.take(handle))
            orphan->finishStop(std::chrono::steady_clock::now() + stopBound);
        return fail(CAMNET_ERR_UNKNOWN_LOGIN, -1);
    }
    return succeed(handle);
}

int32_t CamNet_StopRealPlay(int32_t previewHandle)
{
    const std::shared_ptr<PreviewSession> preview = PreviewRegistry::instance().take(previewHandle);
    if (!preview)
        return fail(CAMNET_ERR_UNKNOWN_PREVIEW, 0);
    preview->finishStop(std::chrono::steady_clock::now() + stopBound);
    return succeed(1);
}

int32_t CamNet_Logout(int32_t loginId)
{
    // The login goes first, so that a preview started meanwhile sees it gone.
    if (loginId < 0 || !LoginRegistry::instance().remove(loginId))
        return fail(CAMNET_ERR_UNKNOWN_LOGIN, 0);
    const std::vector<std::shared_ptr<PreviewSession>> previews =
        PreviewRegistry::instance().takeAllOf(loginId);
    for (const auto &preview : previews)
        preview->requestStop();
    const auto deadline = std::chrono::steady_clock::now() + stopBound;
    for (const auto &preview : previews)
        preview->finishStop(deadline);
    return succeed(1);
}

int32_t CamNet_StdXmlConfig(int32_t loginId, const XmlConfigInput *input, XmlConfigOutput *output)
{
    const HttpClient::Deadline deadline = HttpClient::callDeadline();
    std::shared_ptr<LoginSession> session;
    if (const int32_t error = findLogin(loginId, &session))
        return fail(error, 0);
    if (!input || !output || input->size != sizeof(XmlConfigInput) ||
        output->size != sizeof(XmlConfigOutput) || (input->bodyLength && !input->body) ||
        (output->responseSize && !output->response) || (output->statusSize && !output->status))
        return fail(CAMNET_ERR_BAD_ARGUMENT, 0);
    RequestLine line;
    if (!line.parse(input->requestLine, input->requestLineLength))
        return fail(CAMNET_ERR_BAD_ARGUMENT, 0);

    const uint32_t responseCapacity = output->responseSize;
    const uint32_t statusCapacity = output->statusSize;
    output->responseSize = 0;
    output->statusSize = 0;

    std::string body;
    if (line.carriesBody() && input->bodyLength)
        body.assign(input->body, input->bodyLength);
    const size_t cap = size_t(std::max(responseCapacity, statusCapacity)) + 1;
    const HttpResult reply =
        session->perform(line.method(), line.path(), line.carriesBody() ? &body : nullptr,
                         "application/xml", cap, deadline);
    if (reply.error)
        return fail(reply.error, 0);
    if (const int32_t error = camNetErrorOfStatus(reply.status, CAMNET_ERR_NOT_SUPPORTED)) {
        output->statusSize = writeInto(output->status, statusCapacity, reply.body);
        return fail(error, 0);
    }
    // Only a GET returns a document; every other method returns a status.
    if (line.method() == "GET") {
        output->responseSize = writeInto(output->response, responseCapacity, reply.body);
        if (!fits(reply.body, responseCapacity, reply))
            return fail(CAMNET_ERR_BUFFER_TOO_SMALL, 0);
    } else {
        output->statusSize = writeInto(output->status, statusCapacity, reply.body);
        if (!fits(reply.body, statusCapacity, reply))
            return fail(CAMNET_ERR_BUFFER_TOO_SMALL, 0);
    }
    return succeed(1);
}

int32_t CamNet_GetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record)
{
    return stdConfig(loginId, command, record);
}

int32_t CamNet_SetStdConfig(int32_t loginId, uint32_t command, StdConfigRecord *record)
{
    return stdConfig(loginId, command, record);
}

int32_t CamNet_GetPreviewStats(int32_t previewHandle, CamNet_PreviewStats *stats)
{
    if (!stats)
        return fail(CAMNET_ERR_BAD_ARGUMENT, 0);
    const std::shared_ptr<PreviewSession> preview = PreviewRegistry::instance().find(previewHandle);
    if (!preview)
        return fail(CAMNET_ERR_UNKNOWN_PREVIEW, 0);
    *stats = preview->stats();
    return succeed(1);
}

int32_t CamNet_CapturePicture(int32_t previewHandle, CamNet_Picture *picture)
{
    if (!initialised)
        return fail(CAMNET_ERR_NOT_INITIALISED, 0);
    if (!picture || picture->size != sizeof(CamNet_Picture) || !picture->data)
        return fail(CAMNET_ERR_BAD_ARGUMENT, 0);
    // Held here, the preview outlives a stop or logout made meanwhile.
    const std::shared_ptr<PreviewSession> preview = PreviewRegistry::instance().find(previewHandle);
    if (!preview)
        return fail(CAMNET_ERR_UNKNOWN_PREVIEW, 0);
    if (const int32_t error = preview->capturePicture(picture))
        return fail(error, 0);
    return succeed(1);
}
