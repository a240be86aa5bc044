// The newest decoded picture of one preview, for CamNet_CapturePicture. The
// streaming thread only swaps a reference to each decoded buffer in; the
// conversion to BGRX is made when a caller asks, on the caller's thread.
#ifndef PICTURESTORE_H
#define PICTURESTORE_H

#include "camnetsdk.h"

#include <cstdint>
#include <mutex>

typedef struct _GstBuffer GstBuffer;
typedef struct _GstBufferPool GstBufferPool;
typedef struct _GstCaps GstCaps;
typedef struct _GstPad GstPad;
typedef struct _GstVideoConverter GstVideoConverter;
typedef struct _GstVideoFrame GstVideoFrame;
typedef struct _GstVideoInfo GstVideoInfo;

class PictureStore
{
public:
    PictureStore() = default;
    ~PictureStore();
    PictureStore(const PictureStore &) = delete;
    PictureStore &operator=(const PictureStore &) = delete;

    // Called on the streaming thread for each buffer leaving the decoder.
    void keep(GstPad *pad, GstBuffer *buffer);
    // Lets go of the picture, the pool and the converter.
    void clear();
    // CAMNET_ERR_NONE once the picture is in picture->data, else the reason.
    int32_t copyTo(CamNet_Picture *picture);

private:
    GstBuffer *heldCopyOf(GstBuffer *buffer, bool capsChanged);
    int32_t convert(GstBuffer *buffer, GstCaps *caps, CamNet_Picture *picture);
    int32_t runConverter(GstCaps *caps, const GstVideoInfo &in, const GstVideoInfo &out,
                         const GstVideoFrame *from, GstVideoFrame *to);

    std::mutex m_mutex;
    GstBuffer *m_buffer = nullptr;
    GstCaps *m_caps = nullptr;
    uint32_t m_frameNumber = 0;
    uint64_t m_decodedAtUs = 0;
    // The last pool seen, held so that its address names no other pool.
    // Touched by the streaming thread, and by clear() once none runs.
    GstBufferPool *m_pool = nullptr;
    bool m_poolBounded = false;

    // One capture at a time reuses it; another one meanwhile makes its own.
    std::mutex m_converterMutex;
    GstVideoConverter *m_converter = nullptr;
    GstCaps *m_converterCaps = nullptr;
};

#endif // PICTURESTORE_H
