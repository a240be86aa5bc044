// Hooks a MultipartReframer onto the HTTP source of an MJPEG preview, so that
// the demuxer behind it is handed each frame whole the moment it has arrived,
// whatever the shape of the camera's parts. A stream the reframer refuses
// ends as an error on the pipeline's bus, which the preview treats like any
// other failed stream.
#ifndef REFRAMEPROBE_H
#define REFRAMEPROBE_H

typedef struct _GstElement GstElement;

class ReframeProbe
{
public:
    // source: the element whose "src" pad carries the raw HTTP body.
    static void attach(GstElement *source);
};

#endif // REFRAMEPROBE_H
