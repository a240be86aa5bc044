#pragma once

#include "camstate.h"

#include <QByteArray>

// What the simulator reads from a client's request apart from its XML and fault
// documents: the channel named by a stream path and a standard-configuration
// call. Kept apart from the HTTP server so that it can be fuzzed alone.
namespace CamRequest {

struct Reply
{
    unsigned status = 200;
    QByteArray contentType = "application/octet-stream";
    QByteArray body;
};

// The n of /camnet/channels/{n}/stream, or 0 when path names no channel.
int streamChannel(const QByteArray &path);

// Answers POST /camnet/stdconfig/{command}. conditionSize and outputSize are
// the query's values as sent, null when absent.
Reply stdConfig(CamState &state, const QByteArray &command, const char *conditionSize,
                const char *outputSize, const QByteArray &body);

} // namespace CamRequest
