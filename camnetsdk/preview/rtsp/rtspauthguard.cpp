#include "preview/rtsp/rtspauthguard.h"

#include <gst/gst.h>
#include <gst/rtsp/gstrtspextension.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {

typedef struct
{
    GstElement parent;
    gboolean allowBasic;
    // The source that loaded the guard, which outlives it, and the preview
    // behind it, which outlives both; set once, before the source runs.
    GstElement *source;
    RtspExchangeListener *listener;
    // Touched on the source's thread only.
    gboolean overTcp;
} CamNetRtspAuthGuard;

typedef struct
{
    GstElementClass parent;
} CamNetRtspAuthGuardClass;

} // extern "C"

namespace {

// The policy of the source being created on this thread, and the guards this
// thread has created, to tell whether the source loaded one and which.
thread_local bool allowBasicHere = false;
thread_local unsigned guardsCreatedHere = 0;
thread_local CamNetRtspAuthGuard *lastGuardHere = nullptr;

} // namespace

extern "C" {

static void camnet_rtsp_auth_guard_init_interface(GstRTSPExtensionInterface *iface);

G_DEFINE_TYPE_WITH_CODE(CamNetRtspAuthGuard, camnet_rtsp_auth_guard, GST_TYPE_ELEMENT,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_RTSP_EXTENSION,
                                              camnet_rtsp_auth_guard_init_interface))

static void camnet_rtsp_auth_guard_class_init(CamNetRtspAuthGuardClass *klass)
{
    gst_element_class_set_static_metadata(
        GST_ELEMENT_CLASS(klass), "RTSP authentication guard", "Network/Extension/Protocol",
        "Refuses Basic challenges the device profile forbids", "OverlayTuner");
}

static void camnet_rtsp_auth_guard_init(CamNetRtspAuthGuard *guard)
{
    // A source created anywhere else gets the safe choice.
    guard->allowBasic = allowBasicHere;
    guard->source = nullptr;
    guard->listener = nullptr;
    guard->overTcp = FALSE;
    ++guardsCreatedHere;
    lastGuardHere = guard;
}

// Tells the listener how an accepted SETUP set the session up.
static void camnet_rtsp_auth_guard_note_setup(CamNetRtspAuthGuard *guard, GstRTSPMessage *response)
{
    gchar *transport = nullptr;
    guard->overTcp = gst_rtsp_message_get_header(response, GST_RTSP_HDR_TRANSPORT, &transport, 0) ==
                         GST_RTSP_OK &&
                     transport && std::strstr(transport, "/TCP");
    // Without a timeout of its own a session lasts 60 s.
    unsigned timeout = 60;
    gchar *session = nullptr;
    if (gst_rtsp_message_get_header(response, GST_RTSP_HDR_SESSION, &session, 0) == GST_RTSP_OK &&
        session) {
        if (const char *given = std::strstr(session, ";timeout=")) {
            const unsigned long seconds = std::strtoul(given + 9, nullptr, 10);
            if (seconds > 0 && seconds < 24 * 3600)
                timeout = unsigned(seconds);
        }
    }
    guard->listener->rtspSessionSetUp(guard->overTcp, timeout);
}

// Called on the source's own thread with every answer to a request, before
// the source reads its challenges.
static GstRTSPResult camnet_rtsp_auth_guard_after_send(GstRTSPExtension *extension,
                                                       GstRTSPMessage *request,
                                                       GstRTSPMessage *response)
{
    auto *guard = reinterpret_cast<CamNetRtspAuthGuard *>(extension);
    if (!request || request->type != GST_RTSP_MESSAGE_REQUEST)
        return GST_RTSP_OK;
    const GstRTSPMethod method = request->type_data.request.method;
    const int status = response && response->type == GST_RTSP_MESSAGE_RESPONSE
                           ? int(response->type_data.response.code)
                           : 0;
    if (guard->listener) {
        if (method == GST_RTSP_SETUP && status == GST_RTSP_STS_OK)
            camnet_rtsp_auth_guard_note_setup(guard, response);
        guard->listener->rtspAnswered(int(method), status);
    }
    if (guard->allowBasic || !response)
        return GST_RTSP_OK;
    // The source reads the password only to set up authentication after a
    // challenge, on this same thread. A UDP session that may still move to
    // TCP keeps it: the source's own move starts over with DESCRIBE.
    const bool mayMove = !guard->overTcp && guard->listener && guard->listener->mayFallBackToTcp();
    if (guard->source && method == GST_RTSP_PLAY && status == GST_RTSP_STS_OK && !mayMove)
        g_object_set(guard->source, "user-id", nullptr, "user-pw", nullptr, nullptr);
    GstRTSPAuthCredential **challenges =
        gst_rtsp_message_parse_auth_credentials(response, GST_RTSP_HDR_WWW_AUTHENTICATE);
    if (!challenges)
        return GST_RTSP_OK;
    bool basic = false;
    bool digest = false;
    for (GstRTSPAuthCredential **c = challenges; *c; ++c) {
        basic = basic || (*c)->scheme == GST_RTSP_AUTH_BASIC;
        digest = digest || (*c)->scheme == GST_RTSP_AUTH_DIGEST;
    }
    gst_rtsp_auth_credentials_free(challenges);
    // With Digest offered the source takes it over Basic; without, no
    // challenge is left to answer and the request fails as unauthorised.
    if (basic && !digest)
        gst_rtsp_message_remove_header(response, GST_RTSP_HDR_WWW_AUTHENTICATE, -1);
    return GST_RTSP_OK;
}

// Called on the source's own thread before each request goes out.
static GstRTSPResult camnet_rtsp_auth_guard_before_send(GstRTSPExtension *extension,
                                                        GstRTSPMessage *request)
{
    auto *guard = reinterpret_cast<CamNetRtspAuthGuard *>(extension);
    const char *authorization = guard->listener ? guard->listener->presetAuthorization() : nullptr;
    gchar *present = nullptr;
    if (authorization && request &&
        gst_rtsp_message_get_header(request, GST_RTSP_HDR_AUTHORIZATION, &present, 0) !=
            GST_RTSP_OK)
        gst_rtsp_message_add_header(request, GST_RTSP_HDR_AUTHORIZATION, authorization);
    return GST_RTSP_OK;
}

static void camnet_rtsp_auth_guard_init_interface(GstRTSPExtensionInterface *iface)
{
    iface->before_send = camnet_rtsp_auth_guard_before_send;
    iface->after_send = camnet_rtsp_auth_guard_after_send;
}

} // extern "C"

void RtspAuthGuard::registerGuard()
{
    // RTSP sources look for extensions once, when their plugin loads, so the
    // guard must be known by then.
    static std::once_flag registered;
    std::call_once(registered, [] {
        gst_element_register(nullptr, "camnetrtspauthguard", GST_RANK_MARGINAL,
                             camnet_rtsp_auth_guard_get_type());
    });
}

RtspAuthGuard::RtspAuthGuard(bool allowBasic) : m_loadedBefore(guardsCreatedHere)
{
    lastGuardHere = nullptr;
    registerGuard();
    allowBasicHere = allowBasic;
}

RtspAuthGuard::~RtspAuthGuard()
{
    allowBasicHere = false;
    lastGuardHere = nullptr;
}

bool RtspAuthGuard::attach(GstElement *source, RtspExchangeListener *listener)
{
    if (guardsCreatedHere != m_loadedBefore + 1 || !lastGuardHere)
        return false;
    lastGuardHere->source = source;
    lastGuardHere->listener = listener;
    return true;
}
