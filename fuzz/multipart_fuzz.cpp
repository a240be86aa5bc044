// libFuzzer entry: the live preview's decoding of the camera's
// multipart/x-mixed-replace MJPEG stream, multipartdemux into jpegdec.
//
// Input: one control byte, then the bytes of the stream body with the camera's
// boundary. The control byte's low seven bits choose how the stream is cut into
// buffers (0: one buffer, n: buffers of 16 n bytes, as a socket would hand them
// over); its top bit clears the demuxer's single-stream mode, which the
// preview sets.
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char pipelineText[] =
    "appsrc name=src caps=\"multipart/x-mixed-replace,boundary=camsimframe\" "
    "! multipartdemux name=demux ! jpegdec ! fakesink sync=false";

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // GLib's slice allocator would hide buffer overruns from AddressSanitizer.
    setenv("G_SLICE", "always-malloc", 1);
    gst_init(nullptr, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = (data[0] & 0x7f) == 0 ? size : size_t(data[0] & 0x7f) * 16;
    const bool singleStream = (data[0] & 0x80) == 0;
    ++data;
    --size;

    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(pipelineText, &error);
    if (!pipeline || error) {
        std::fprintf(stderr, "cannot build the pipeline: %s\n", error ? error->message : "?");
        std::abort();
    }
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement *demux = gst_bin_get_by_name(GST_BIN(pipeline), "demux");
    g_object_set(demux, "single-stream", gboolean(singleStream), nullptr);
    gst_object_unref(demux);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_memdup(data + at, n));
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));

    // Either the stream ends or an element gives up on it; a stream that does
    // neither hangs the preview and shows up as a libFuzzer timeout.
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    return 0;
}
