#include "rtspauth.h"

#include <QString>

namespace {

const char realm[] = "camsim";
const char role[] = "viewer";
const char channelKey[] = "camsim-channel";

struct CamsimRtspAuth
{
    GstRTSPAuth parent;
    CamState *state;
};

struct CamsimRtspAuthClass
{
    GstRTSPAuthClass parent;
};

G_DEFINE_TYPE(CamsimRtspAuth, camsim_rtsp_auth, GST_TYPE_RTSP_AUTH)

GstRTSPAuthClass *parentClass()
{
    return GST_RTSP_AUTH_CLASS(camsim_rtsp_auth_parent_class);
}

CamState &stateOf(GstRTSPAuth *auth)
{
    return *reinterpret_cast<CamsimRtspAuth *>(auth)->state;
}

bool hasAuthorization(GstRTSPContext *ctx)
{
    gchar *value = nullptr;
    return ctx->request && gst_rtsp_message_get_header(ctx->request, GST_RTSP_HDR_AUTHORIZATION,
                                                       &value, 0) == GST_RTSP_OK;
}

// Answers the request here; the library sends nothing more once a check fails.
gboolean refuse(GstRTSPAuth *auth, GstRTSPContext *ctx, GstRTSPStatusCode code)
{
    gst_rtsp_message_init_response(ctx->response, code, gst_rtsp_status_as_text(code),
                                   ctx->request);
    if (code == GST_RTSP_STS_UNAUTHORIZED)
        parentClass()->generate_authenticate_header(auth, ctx);
    gst_rtsp_client_send_message(ctx->client, ctx->session, ctx->response);
    return FALSE;
}

gboolean authenticate(GstRTSPAuth *auth, GstRTSPContext *ctx)
{
    const gboolean done = parentClass()->authenticate(auth, ctx);
    // Each of these costs a real camera one step towards locking the account.
    if (!ctx->token && hasAuthorization(ctx))
        stateOf(auth).countRequest(QStringLiteral("badCredentials"));
    return done;
}

gboolean check(GstRTSPAuth *auth, GstRTSPContext *ctx, const gchar *what)
{
    CamState &state = stateOf(auth);
    // Every request passes this check once, before anything else is done.
    if (g_str_equal(what, GST_RTSP_AUTH_CHECK_URL)) {
        state.countRequest(QStringLiteral("rtspRequests"));
        if (state.faults().refuseLogin) {
            if (hasAuthorization(ctx))
                state.countRequest(QStringLiteral("badCredentials"));
            return refuse(auth, ctx, GST_RTSP_STS_UNAUTHORIZED);
        }
        // The library's own check lets any method pass without credentials
        // until a media is asked for; a camera asks for them at once.
        if (!ctx->token)
            GST_RTSP_AUTH_GET_CLASS(auth)->authenticate(auth, ctx);
        return ctx->token ? TRUE : refuse(auth, ctx, GST_RTSP_STS_UNAUTHORIZED);
    }
    if (!parentClass()->check(auth, ctx, what))
        return FALSE;
    // Asked when a client names a media, which DESCRIBE and SETUP do.
    if (g_str_equal(what, GST_RTSP_AUTH_CHECK_MEDIA_FACTORY_ACCESS) && ctx->factory) {
        const int channel = RtspAuth::channel(ctx->factory);
        if (channel > 0 && state.faults().refuseStream == channel)
            return refuse(auth, ctx, GST_RTSP_STS_NOT_FOUND);
    }
    return TRUE;
}

void camsim_rtsp_auth_class_init(CamsimRtspAuthClass *klass)
{
    klass->parent.authenticate = authenticate;
    klass->parent.check = check;
}

void camsim_rtsp_auth_init(CamsimRtspAuth *) {}

} // namespace

GstRTSPAuth *RtspAuth::create(CamState &state, const QByteArray &user, const QByteArray &password)
{
    auto *auth = static_cast<CamsimRtspAuth *>(g_object_new(camsim_rtsp_auth_get_type(), nullptr));
    auth->state = &state;
    GstRTSPAuth *base = &auth->parent;
    gst_rtsp_auth_set_supported_methods(base, GST_RTSP_AUTH_DIGEST);
    gst_rtsp_auth_set_realm(base, realm);
    GstRTSPToken *token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, role, nullptr);
    gst_rtsp_auth_add_digest(base, user.constData(), password.constData(), token);
    gst_rtsp_token_unref(token);
    return base;
}

void RtspAuth::grantAccess(GstRTSPMediaFactory *factory)
{
    gst_rtsp_media_factory_add_role(factory, role, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                    G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                    G_TYPE_BOOLEAN, TRUE, nullptr);
}

void RtspAuth::setChannel(GstRTSPMediaFactory *factory, int channel)
{
    g_object_set_data(G_OBJECT(factory), channelKey, GINT_TO_POINTER(channel));
}

int RtspAuth::channel(GstRTSPMediaFactory *factory)
{
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(factory), channelKey));
}
