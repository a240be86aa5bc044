// libFuzzer entry: the SDK's re-framing of the camera's MJPEG stream body
// before the demuxer.
//
// Input: one control byte, then the bytes of the stream body. The control
// byte's low seven bits choose how the body is cut (0: byte by byte, n:
// buffers of n bytes); the result must be the same as from one buffer, since
// a socket may hand the bytes over cut anywhere. What comes out must be parts
// of the canonical shape only.
#include "preview/mjpeg/multipartreframer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void fault(const char *why)
{
    std::fprintf(stderr, "%s\n", why);
    std::abort();
}

bool startsWith(const std::string &text, size_t at, const std::string &prefix)
{
    return text.compare(at, prefix.size(), prefix) == 0;
}

// Every part: boundary, a printable Content-Type, Content-Length, the body
// of that length and its CR LF; nothing in between.
void checkCanonical(const std::string &out, const std::string &boundary)
{
    size_t at = 0;
    while (at < out.size()) {
        const std::string head = "--" + boundary + "\r\nContent-Type: ";
        if (boundary.empty() || !startsWith(out, at, head))
            fault("a part does not start with the boundary and its type");
        at += head.size();
        const size_t typeEnd = out.find("\r\n", at);
        if (typeEnd == std::string::npos || typeEnd == at)
            fault("a part's type has no end");
        for (size_t i = at; i < typeEnd; ++i) {
            if (out[i] < 0x20 || out[i] > 0x7e)
                fault("a part's type is not printable");
        }
        at = typeEnd + 2;
        if (!startsWith(out, at, "Content-Length: "))
            fault("a part has no Content-Length");
        at += 16;
        const size_t lengthEnd = out.find("\r\n\r\n", at);
        if (lengthEnd == std::string::npos || lengthEnd == at || lengthEnd - at > 7)
            fault("a part's Content-Length is malformed");
        const size_t length = std::stoul(out.substr(at, lengthEnd - at));
        if (length == 0 || length > MultipartReframer::maxPartBytes)
            fault("a part is empty or larger than allowed");
        at = lengthEnd + 4 + length;
        if (at + 2 > out.size() || !startsWith(out, at, "\r\n"))
            fault("a part's body does not end where its length says");
        at += 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = data[0] & 0x7f ? size_t(data[0] & 0x7f) : 1;
    ++data;
    --size;

    MultipartReframer whole;
    std::string wholeOut;
    const bool wholeOk = whole.feed(data, size, &wholeOut);
    if (!wholeOk && whole.error().empty())
        fault("refused without a reason");

    MultipartReframer cut;
    std::string cutOut;
    bool cutOk = true;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        // Heap copies, so that a read past a buffer's end is caught.
        auto *piece = static_cast<uint8_t *>(std::malloc(n ? n : 1));
        std::memcpy(piece, data + at, n);
        const bool ok = cut.feed(piece, n, &cutOut);
        std::free(piece);
        if (!ok && cutOk)
            cutOk = false;
        else if (ok && !cutOk)
            fault("a refused stream was taken up again");
    }
    if (cutOk != wholeOk)
        fault("refused or not depending on where the bytes were cut");
    if (cutOut != wholeOut)
        fault("parts differ depending on where the bytes were cut");
    checkCanonical(wholeOut, whole.boundary());
    return 0;
}
