// Re-frames the body of a camera's multipart/x-mixed-replace MJPEG stream so
// that each part reaches the demuxer whole and at once: boundary, headers with
// Content-Length, the JPEG and its CR LF. GStreamer's demuxer holds a part back
// until two bytes past its Content-Length, or until the next boundary when the
// part has none, so a camera that omits the length or sends the CR LF with the
// next part would have every frame shown one frame late. A part is released
// here as soon as its Content-Length is in or, without one, as soon as the
// JPEG's end-of-image marker arrives. Pure C++ so that tests and the fuzzer
// can drive it byte by byte.
#ifndef MULTIPARTREFRAMER_H
#define MULTIPARTREFRAMER_H

#include <cstddef>
#include <cstdint>
#include <string>

class MultipartReframer
{
public:
    // A camera's frame is far smaller; anything bigger is a broken stream
    // that would otherwise grow memory without end.
    static constexpr size_t maxPartBytes = 8 * 1024 * 1024;
    static constexpr size_t maxHeaderBytes = 16 * 1024;
    static constexpr size_t maxBoundaryBytes = 200;

    // An empty boundary is taken from the first line of the body that starts
    // with "--".
    explicit MultipartReframer(std::string boundary = {});

    // Appends to out every part that became whole with these bytes, in the
    // canonical shape. False once the stream is broken (see error()): the
    // parts before the fault are still appended, every later call returns
    // false and appends nothing.
    bool feed(const uint8_t *data, size_t size, std::string *out);

    const std::string &error() const { return m_error; }
    const std::string &boundary() const { return m_boundary; }

private:
    enum class State
    {
        SeekBoundary,
        Headers,
        SizedBody,
        JpegBody,
        Failed
    };

    // Walks a JPEG's marker segments to find its end without being fooled by
    // an end-of-image marker inside an embedded thumbnail or scan data.
    struct JpegWalk
    {
        enum class Step
        {
            Soi0,
            Soi1,
            Marker,
            MarkerCode,
            Length0,
            Length1,
            Skip,
            Scan,
            ScanFF,
            Ended,
            Lost // not a JPEG as far as can be told: the next boundary ends it
        };
        Step step = Step::Soi0;
        bool scanFollows = false;
        size_t remaining = 0;
        // Walks bytes[from, to); the offset just past the end-of-image
        // marker when it is among them, else npos.
        size_t advance(const std::string &bytes, size_t from, size_t to);
        // The step after a marker's code; true at the end-of-image marker.
        bool markerCode(uint8_t c);
        // The step once a segment's length is whole, given its low byte.
        void lengthRead(uint8_t low);
    };

    bool seekBoundary();
    bool readHeaders();
    bool readSizedBody();
    bool readJpegBody();
    bool headerLine(const std::string &line);
    void emitPart(size_t from, size_t size);
    bool fail(const char *why);

    std::string m_boundary;
    std::string m_error;
    State m_state = State::SeekBoundary;
    std::string m_buffer; // bytes not yet consumed
    size_t m_pos = 0;     // how far m_buffer has been consumed
    size_t m_skipped = 0; // bytes thrown away since the last part

    // The part being read.
    std::string m_contentType;
    bool m_hasLength = false;
    size_t m_length = 0;
    size_t m_headerBytes = 0;
    // From the start of the body, which is m_pos while it is read.
    size_t m_walked = 0;   // how far the JPEG walk has got
    size_t m_searched = 0; // where the search for the next boundary goes on
    JpegWalk m_walk;

    std::string *m_out = nullptr;
};

#endif // MULTIPARTREFRAMER_H
