// Keeps a preview's picture at the largest size that shows it undistorted in
// its window. The scaler then makes exactly that size, in the decoder's YUV,
// and the X sink centres it and paints the rest of the window black itself.
// Letting the scaler fill the whole window with borders of its own would paint
// them in YUV's video black, which a full-range JPEG picture shows as dark
// grey, and would scale and convert the borders with every frame.
#ifndef PICTUREFIT_H
#define PICTUREFIT_H

#include <gst/gst.h>

#include <mutex>

class PictureFit
{
public:
    struct Size
    {
        int width = 0;
        int height = 0;
        bool operator==(const Size &other) const
        {
            return width == other.width && height == other.height;
        }
    };
    struct Ratio
    {
        int num = 1;
        int den = 1;
    };

    // Watches the pictures arriving at the scaler and sets the size the
    // filter lets through, from the window's size that the sink reports.
    // Holds references to all three; the pipeline must be stopped before
    // this is destroyed.
    PictureFit(GstElement *scaler, GstElement *filter, GstElement *sink);
    ~PictureFit();
    PictureFit(const PictureFit &) = delete;
    PictureFit &operator=(const PictureFit &) = delete;

    // Once the sink has read the window's new size.
    void windowResized();

    // The largest size within window at which a picture of the given size
    // and pixel aspect ratio looks undistorted on a screen whose pixels have
    // the aspect ratio screenPixel; at least 1 x 1. Zero for an empty picture.
    static Size fit(Size picture, Ratio pixel, Size window, Ratio screenPixel);

private:
    static GstPadProbeReturn onScalerEvent(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    void apply(); // with m_mutex held

    GstElement *m_scaler;
    GstElement *m_filter;
    GstElement *m_sink;
    std::mutex m_mutex;
    Size m_picture;
    Ratio m_pixel;
    Size m_applied;
};

#endif // PICTUREFIT_H
