#pragma once

#include "camstate.h"

#include <QByteArray>

// What the simulated camera answers each request, apart from the HTTP
// transport: its resources (device, calibration, capabilities, fusion switch,
// streams) and the simulator's own control resources, as functions of the
// state and the request alone, so that they can be tested and fuzzed without
// a server.
namespace CamRequest {

struct Request
{
    QByteArray method;
    QByteArray path; // without the query
    // The query values of a standard-configuration call; null when absent.
    QByteArray conditionSize;
    QByteArray outputSize;
    QByteArray body;
};

struct Reply
{
    unsigned status = 200;
    QByteArray contentType = "application/xml";
    QByteArray body;
    // Nonzero: answer with this channel's live stream instead of the body.
    int streamChannel = 0;
};

// An authenticated request to the camera's own resources.
Reply camera(CamState &state, const Request &request);
// A request to the simulator's /camsim/ resources, which need no credentials.
Reply control(CamState &state, const Request &request);

// The n of /camnet/channels/{n}/stream, or 0 when path names no channel.
int streamChannel(const QByteArray &path);

// Answers POST /camnet/stdconfig/{command}.
Reply stdConfig(CamState &state, const QByteArray &command, const QByteArray &conditionSize,
                const QByteArray &outputSize, const QByteArray &body);

} // namespace CamRequest
