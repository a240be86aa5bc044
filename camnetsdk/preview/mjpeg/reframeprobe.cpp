#include "preview/mjpeg/reframeprobe.h"

#include "preview/mjpeg/multipartreframer.h"

#include <gst/gst.h>

#include <string>

namespace {

struct ProbeState
{
    MultipartReframer reframer;
    GstElement *source; // not owned: the probe lives on its pad
    bool reported = false;
};

void freeState(gpointer state)
{
    delete static_cast<ProbeState *>(state);
}

GstPadProbeReturn onBody(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *state = static_cast<ProbeState *>(data);
    GstBuffer *in = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!in || !gst_buffer_map(in, &map, GST_MAP_READ))
        return GST_PAD_PROBE_DROP;
    std::string out;
    const bool ok = state->reframer.feed(map.data, map.size, &out);
    gst_buffer_unmap(in, &map);
    if (!ok) {
        if (!state->reported) {
            state->reported = true;
            GST_ELEMENT_ERROR(state->source, STREAM, DEMUX, ("bad MJPEG stream from the camera"),
                              ("%s", state->reframer.error().c_str()));
        }
        return GST_PAD_PROBE_DROP;
    }
    // Nothing is whole yet: the demuxer gets nothing rather than a fragment
    // it would sit on.
    if (out.empty())
        return GST_PAD_PROBE_DROP;
    GstBuffer *whole = gst_buffer_new_allocate(nullptr, out.size(), nullptr);
    gst_buffer_fill(whole, 0, out.data(), out.size());
    gst_buffer_copy_into(whole, in,
                         GstBufferCopyFlags(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS), 0,
                         gsize(-1));
    gst_buffer_unref(in);
    GST_PAD_PROBE_INFO_DATA(info) = whole;
    return GST_PAD_PROBE_OK;
}

} // namespace

void ReframeProbe::attach(GstElement *source)
{
    GstPad *pad = gst_element_get_static_pad(source, "src");
    if (!pad)
        return;
    // The boundary is read from the body, as the demuxer itself reads it.
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &onBody,
                      new ProbeState{MultipartReframer(), source, false}, &freeState);
    gst_object_unref(pad);
}
