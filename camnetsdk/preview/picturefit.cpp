#include "preview/picturefit.h"

#include <gst/video/video.h>

#include <algorithm>

PictureFit::PictureFit(GstElement *scaler, GstElement *filter, GstElement *sink)
    : m_scaler(GST_ELEMENT(gst_object_ref(scaler))), m_filter(GST_ELEMENT(gst_object_ref(filter))),
      m_sink(GST_ELEMENT(gst_object_ref(sink)))
{
    GstPad *in = gst_element_get_static_pad(m_scaler, "sink");
    gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &PictureFit::onScalerEvent, this,
                      nullptr);
    gst_object_unref(in);
}

PictureFit::~PictureFit()
{
    gst_object_unref(m_sink);
    gst_object_unref(m_filter);
    gst_object_unref(m_scaler);
}

void PictureFit::windowResized()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    apply();
}

PictureFit::Size PictureFit::fit(Size picture, Ratio pixel, Size window, Ratio screenPixel)
{
    if (picture.width <= 0 || picture.height <= 0 || pixel.num <= 0 || pixel.den <= 0 ||
        screenPixel.num <= 0 || screenPixel.den <= 0)
        return Size{};
    window.width = std::max(window.width, 1);
    window.height = std::max(window.height, 1);
    // Width over height of the picture in screen pixels, as a fraction.
    const guint64 num = guint64(picture.width) * guint64(pixel.num) * guint64(screenPixel.den);
    const guint64 den = guint64(picture.height) * guint64(pixel.den) * guint64(screenPixel.num);
    Size size = window;
    if (guint64(window.width) * den > guint64(window.height) * num)
        size.width = int(std::max<guint64>(1, (guint64(window.height) * num + den / 2) / den));
    else
        size.height = int(std::max<guint64>(1, (guint64(window.width) * den + num / 2) / num));
    return size;
}

GstPadProbeReturn PictureFit::onScalerEvent(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps *caps = nullptr;
    gst_event_parse_caps(event, &caps);
    GstVideoInfo video;
    if (!caps || !gst_video_info_from_caps(&video, caps))
        return GST_PAD_PROBE_OK;
    // Set before the scaler sees these caps, so that the first picture it
    // makes already has its size.
    auto *fit = static_cast<PictureFit *>(self);
    std::lock_guard<std::mutex> lock(fit->m_mutex);
    fit->m_picture = {GST_VIDEO_INFO_WIDTH(&video), GST_VIDEO_INFO_HEIGHT(&video)};
    fit->m_pixel = {GST_VIDEO_INFO_PAR_N(&video), GST_VIDEO_INFO_PAR_D(&video)};
    fit->apply();
    return GST_PAD_PROBE_OK;
}

void PictureFit::apply()
{
    if (m_picture.width <= 0)
        return;
    // The X sink offers the window's size first among the sizes it takes,
    // once it knows the window.
    GstPad *pad = gst_element_get_static_pad(m_sink, "sink");
    GstCaps *offered = gst_pad_query_caps(pad, nullptr);
    gst_object_unref(pad);
    Size window;
    Ratio screenPixel;
    bool known = false;
    if (offered && !gst_caps_is_empty(offered) && !gst_caps_is_any(offered)) {
        const GstStructure *first = gst_caps_get_structure(offered, 0);
        known = gst_structure_get_int(first, "width", &window.width) &&
                gst_structure_get_int(first, "height", &window.height);
        if (!gst_structure_get_fraction(first, "pixel-aspect-ratio", &screenPixel.num,
                                        &screenPixel.den))
            screenPixel = Ratio{};
    }
    if (offered)
        gst_caps_unref(offered);
    if (!known)
        return;
    const Size size = fit(m_picture, m_pixel, window, screenPixel);
    if (size.width <= 0 || size == m_applied)
        return;
    m_applied = size;
    GstCaps *wanted = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, size.width, "height",
                                          G_TYPE_INT, size.height, nullptr);
    // The filter asks the scaler to negotiate again before its next picture.
    g_object_set(m_filter, "caps", wanted, nullptr);
    gst_caps_unref(wanted);
}
