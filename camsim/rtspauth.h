#pragma once

#include "camstate.h"

#include <QByteArray>

#include <gst/rtsp-server/rtsp-server.h>

// The gatekeeper of the simulator's RTSP server: Digest alone, with the
// camera's account, for every request, OPTIONS included, as the HTTP side
// asks it for every camera resource; the faults that decide who may see what
// (every login refused, one channel refused); and the request and
// wrong-answer counters the HTTP side keeps too.
class RtspAuth
{
public:
    // A new GstRTSPAuth (full reference) that answers for state.
    static GstRTSPAuth *create(CamState &state, const QByteArray &user, const QByteArray &password);
    // Every factory the server mounts gets a role that the account holds.
    static void grantAccess(GstRTSPMediaFactory *factory);
    // Which channel a factory serves, for the refused-channel fault.
    static void setChannel(GstRTSPMediaFactory *factory, int channel);
    static int channel(GstRTSPMediaFactory *factory);
};
