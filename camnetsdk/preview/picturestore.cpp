#include "preview/picturestore.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <time.h>

namespace {

uint64_t monotonicNowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
}

// A pool with a maximum hands out no more buffers while that many are out.
bool poolIsBounded(GstBufferPool *pool)
{
    GstStructure *config = gst_buffer_pool_get_config(pool);
    guint minBuffers = 0;
    guint maxBuffers = 0;
    const bool read =
        gst_buffer_pool_config_get_params(config, nullptr, nullptr, &minBuffers, &maxBuffers);
    gst_structure_free(config);
    return read && maxBuffers != 0;
}

GstVideoConverter *newConverter(const GstVideoInfo &in, const GstVideoInfo &out)
{
    return gst_video_converter_new(const_cast<GstVideoInfo *>(&in),
                                   const_cast<GstVideoInfo *>(&out), nullptr);
}

} // namespace

PictureStore::~PictureStore()
{
    clear();
}

void PictureStore::keep(GstPad *pad, GstBuffer *buffer)
{
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        return;
    // Only this thread writes m_caps, so it may read it without the lock.
    GstBuffer *held = heldCopyOf(buffer, caps != m_caps);
    const uint64_t now = monotonicNowUs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(m_buffer, held);
        std::swap(m_caps, caps);
        ++m_frameNumber;
        m_decodedAtUs = now;
    }
    // The old picture goes back to its pool outside the lock.
    if (held)
        gst_buffer_unref(held);
    if (caps)
        gst_caps_unref(caps);
}

GstBuffer *PictureStore::heldCopyOf(GstBuffer *buffer, bool capsChanged)
{
    GstBufferPool *pool = buffer->pool;
    // A renegotiation may configure the same pool anew.
    if (pool != m_pool || capsChanged) {
        if (m_pool)
            gst_object_unref(m_pool);
        m_pool = pool ? GST_BUFFER_POOL(gst_object_ref(pool)) : nullptr;
        m_poolBounded = pool && poolIsBounded(pool);
    }
    // Holding one of a few buffers of a decoder or sink would stall the
    // stream; only then is the picture copied.
    return m_poolBounded ? gst_buffer_copy_deep(buffer) : gst_buffer_ref(buffer);
}

void PictureStore::clear()
{
    GstBuffer *buffer = nullptr;
    GstCaps *caps = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(m_buffer, buffer);
        std::swap(m_caps, caps);
    }
    if (buffer)
        gst_buffer_unref(buffer);
    if (caps)
        gst_caps_unref(caps);
    if (m_pool)
        gst_object_unref(m_pool);
    m_pool = nullptr;
    std::lock_guard<std::mutex> lock(m_converterMutex);
    if (m_converter)
        gst_video_converter_free(m_converter);
    m_converter = nullptr;
    if (m_converterCaps)
        gst_caps_unref(m_converterCaps);
    m_converterCaps = nullptr;
}

int32_t PictureStore::copyTo(CamNet_Picture *picture)
{
    GstBuffer *buffer = nullptr;
    GstCaps *caps = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_buffer)
            return CAMNET_ERR_NO_PICTURE;
        buffer = gst_buffer_ref(m_buffer);
        caps = gst_caps_ref(m_caps);
        picture->frameNumber = m_frameNumber;
        picture->decodedAtUs = m_decodedAtUs;
    }
    const int32_t error = convert(buffer, caps, picture);
    gst_buffer_unref(buffer);
    gst_caps_unref(caps);
    return error;
}

int32_t PictureStore::convert(GstBuffer *buffer, GstCaps *caps, CamNet_Picture *picture)
{
    GstVideoInfo in;
    if (!gst_video_info_from_caps(&in, caps) || in.width <= 0 || in.height <= 0)
        return CAMNET_ERR_NOT_SUPPORTED;
    const uint64_t stride = uint64_t(in.width) * 4;
    const uint64_t required = stride * uint64_t(in.height);
    if (required > UINT32_MAX)
        return CAMNET_ERR_NOT_SUPPORTED;
    picture->pixelFormat = CAMNET_PIXEL_BGRX;
    picture->width = uint32_t(in.width);
    picture->height = uint32_t(in.height);
    picture->stride = uint32_t(stride);
    picture->requiredSize = uint32_t(required);
    if (picture->dataSize < required)
        return CAMNET_ERR_BUFFER_TOO_SMALL;

    GstVideoInfo out;
    gst_video_info_set_format(&out, GST_VIDEO_FORMAT_BGRx, guint(in.width), guint(in.height));
    // The converter changes neither timing nor field order.
    out.fps_n = in.fps_n;
    out.fps_d = in.fps_d;
    out.interlace_mode = in.interlace_mode;
    GstBuffer *target = gst_buffer_new_wrapped_full(
        GstMemoryFlags(0), picture->data, size_t(required), 0, size_t(required), nullptr, nullptr);
    // The source's own strides and planes come from its video meta.
    GstVideoFrame from;
    GstVideoFrame to;
    int32_t error = CAMNET_ERR_NOT_SUPPORTED;
    if (gst_video_frame_map(&from, &in, buffer, GST_MAP_READ)) {
        if (gst_video_frame_map(&to, &out, target, GST_MAP_WRITE)) {
            error = runConverter(caps, in, out, &from, &to);
            gst_video_frame_unmap(&to);
        }
        gst_video_frame_unmap(&from);
    }
    gst_buffer_unref(target);
    return error;
}

int32_t PictureStore::runConverter(GstCaps *caps, const GstVideoInfo &in, const GstVideoInfo &out,
                                   const GstVideoFrame *from, GstVideoFrame *to)
{
    // A capture never waits for another one: the second makes its own converter.
    std::unique_lock<std::mutex> lock(m_converterMutex, std::try_to_lock);
    GstVideoConverter *converter = nullptr;
    if (lock.owns_lock()) {
        if (!m_converter || !gst_caps_is_equal(m_converterCaps, caps)) {
            if (m_converter)
                gst_video_converter_free(m_converter);
            if (m_converterCaps)
                gst_caps_unref(m_converterCaps);
            m_converter = newConverter(in, out);
            m_converterCaps = gst_caps_ref(caps);
        }
        converter = m_converter;
    } else {
        converter = newConverter(in, out);
    }
    if (!converter)
        return CAMNET_ERR_NOT_SUPPORTED;
    gst_video_converter_frame(converter, from, to);
    if (!lock.owns_lock())
        gst_video_converter_free(converter);
    return CAMNET_ERR_NONE;
}
