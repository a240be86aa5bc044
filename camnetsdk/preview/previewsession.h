// One running live preview: its GStreamer pipeline, the child window it draws
// into and the SDK thread that owns both. The stream is MJPEG over HTTP or
// H.264, H.265 or JPEG over RTSP. The thread restarts the stream when it ends,
// fails or (RTSP) stalls, hands each received frame to the caller's callback,
// keeps the child window the size of the caller's window and, while it shows
// no video, says there why not.
#ifndef PREVIEWSESSION_H
#define PREVIEWSESSION_H

#include "camnetsdk.h"
#include "preview/picturestore.h"
#include "preview/previewstatus.h"
#include "preview/rtsp/rtspauthguard.h"
#include "profile/deviceprofile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ChildWindow;
class PictureFit;
typedef struct _GstElement GstElement;
typedef struct _GstBuffer GstBuffer;
typedef struct _GError GError;

class PreviewSession : public std::enable_shared_from_this<PreviewSession>,
                       private RtspExchangeListener
{
public:
    struct Target
    {
        int32_t handle;
        int32_t loginId;
        std::string url;
        std::string user;
        std::string password;
        // Only for rtsp:// URLs: how RTP travels, whether a Basic challenge
        // may be answered, and an Authorization header to send before any
        // challenge (empty for none).
        DeviceProfile::RtspTransport rtspTransport = DeviceProfile::RtspTransport::Tcp;
        bool rtspBasicAuth = false;
        std::string presetAuthorization;
        uintptr_t window; // 0 or not a window: frames are counted, not drawn
        CamNet_DataCallback callback;
        void *context;
    };

    explicit PreviewSession(Target target);
    ~PreviewSession();
    PreviewSession(const PreviewSession &) = delete;
    PreviewSession &operator=(const PreviewSession &) = delete;

    // Creates the child window and the pipeline and starts the thread;
    // CAMNET_ERR_NONE or the reason it could not.
    int32_t start();
    // Over RTSP, waits until the camera accepted PLAY; CAMNET_ERR_NONE then,
    // else why it refused or failed, or CAMNET_ERR_TIMED_OUT at the
    // deadline. An HTTP stream counts as started once start() returned.
    int32_t waitUntilPlaying(std::chrono::steady_clock::time_point deadline);

    // Stopping in two steps lets a logout stop all its previews in parallel.
    void requestStop();
    // Returns by the deadline; the child window is gone by then.
    void finishStop(std::chrono::steady_clock::time_point deadline);

    int32_t loginId() const { return m_target.loginId; }
    CamNet_PreviewStats stats() const;
    // The newest decoded picture, converted on the caller's thread.
    int32_t capturePicture(CamNet_Picture *picture) { return m_pictures.copyTo(picture); }

private:
    void run();
    GstElement *buildPipeline();
    // The parts of a pipeline's description: the source up to encoded
    // (HTTP) or decoded (RTSP) frames, and the drawing that both share.
    std::string httpSourceDescription() const;
    std::string rtspSourceDescription() const;
    std::string drawingDescription() const;
    void setUpHttpSource(GstElement *pipeline);
    void setUpRtspSource(GstElement *pipeline);
    void setUpDrawing(GstElement *pipeline);
    void setUpCapture(GstElement *pipeline);
    void play();
    void teardownPipeline();
    void handleBusMessages();
    void checkStalled();
    void endStream();
    void deliverFrames();
    bool callbackMayBegin();
    void redraw(bool resized);
    // Says in the window why it shows no video, until a frame is drawn.
    void updateStatus(bool exposed);
    void shutDown();
    void wake();

    // Called on GStreamer's streaming threads.
    friend struct PipelineHooks;
    void frameReceived(GstBuffer *buffer, uint32_t dataType);
    void rtspAnswered(int method, int status) override;
    void rtspSessionSetUp(bool overTcp, unsigned timeoutSeconds) override;
    const char *presetAuthorization() const override;
    bool mayFallBackToTcp() const override;
    // Over TCP the source sends no keep-alive while RTP flows, so the loop
    // asks for one before the camera's session times out.
    void keepSessionAlive();

    // Records the start's outcome; false when it was decided before.
    bool decideStart(int32_t error);
    // Why a stream that ended before PLAY was accepted could not start,
    // from the source's error and its debug text.
    int32_t startErrorOf(const GError *error, const char *debug);

    const Target m_target;
    const bool m_rtsp;
    std::unique_ptr<ChildWindow> m_window;
    unsigned long m_childId = 0;
    std::string m_displayName;
    int m_wakeFd = -1;
    std::thread m_thread;

    // Touched by the SDK thread only, once it runs.
    GstElement *m_pipeline = nullptr;
    GstElement *m_sink = nullptr;
    // Only while drawing into a window.
    std::unique_ptr<PictureFit> m_fit;
    bool m_restartPending = false;
    std::chrono::steady_clock::time_point m_restartDue;
    // When the received count last moved, for noticing a stalled RTSP stream
    // and the first frame after a start.
    uint32_t m_watchedFrames = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    bool m_streaming = false; // a frame arrived since the pipeline started
    PreviewStatus m_status;

    // A stop sets it under m_stopMutex, and a callback begins only after
    // finding it clear under the same lock; the loop may read it without.
    std::mutex m_stopMutex;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<uint32_t> m_framesReceived{0};
    std::atomic<uint32_t> m_framesDrawn{0};
    std::atomic<uint32_t> m_reconnects{0};

    std::mutex m_framesMutex;
    struct PendingFrame
    {
        GstBuffer *buffer;
        uint32_t dataType;
    };
    std::deque<PendingFrame> m_pendingFrames;

    // Kept across a reconnect: its frame number and time tell its age.
    PictureStore m_pictures;

    // Until the start is decided: the last refusal the camera answered a
    // request with, which tells a failure's reason better than the source.
    std::mutex m_startMutex;
    std::condition_variable m_startChanged;
    bool m_startDecided = false;
    int32_t m_startError = CAMNET_ERR_NONE;
    int m_refusedStatus = 0;
    // The session as the last accepted SETUP set it up; a new one is due
    // for keep-alives from when it is set.
    bool m_sessionOverTcp = false;
    unsigned m_sessionTimeout = 0;
    bool m_sessionChanged = false;
    // Touched by the SDK thread only.
    std::chrono::steady_clock::time_point m_keepAliveDue;
    std::chrono::milliseconds m_keepAliveEvery{0};

    std::mutex m_doneMutex;
    std::condition_variable m_doneChanged;
    bool m_done = false;
    bool m_stopFinished = false;
};

#endif // PREVIEWSESSION_H
