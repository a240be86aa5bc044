#include "preview/mjpeg/multipartreframer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t npos = std::string::npos;

std::string trimmed(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowered(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

// A type the demuxer can turn into caps; anything else is written as JPEG,
// which is what the preview decodes anyway.
std::string partType(const std::string &value)
{
    if (value.empty() || value.size() > 128)
        return "image/jpeg";
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7e)
            return "image/jpeg";
    }
    return value;
}

} // namespace

MultipartReframer::MultipartReframer(std::string boundary) : m_boundary(std::move(boundary)) {}

bool MultipartReframer::feed(const uint8_t *data, size_t size, std::string *out)
{
    if (m_state == State::Failed)
        return false;
    m_out = out;
    m_buffer.append(reinterpret_cast<const char *>(data), size);
    bool progressed = true;
    while (progressed) {
        switch (m_state) {
        case State::SeekBoundary:
            progressed = seekBoundary();
            break;
        case State::Headers:
            progressed = readHeaders();
            break;
        case State::SizedBody:
            progressed = readSizedBody();
            break;
        case State::JpegBody:
            progressed = readJpegBody();
            break;
        case State::Failed:
            progressed = false;
            break;
        }
    }
    m_out = nullptr;
    if (m_state == State::Failed) {
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_pos = 0;
        return false;
    }
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    return true;
}

bool MultipartReframer::fail(const char *why)
{
    m_error = why;
    m_state = State::Failed;
    return false;
}

bool MultipartReframer::seekBoundary()
{
    const size_t newline = m_buffer.find('\n', m_pos);
    if (newline == npos) {
        if (m_buffer.size() - m_pos > maxHeaderBytes)
            return fail("a line between parts is longer than 16 KiB");
        return false;
    }
    if (newline - m_pos > maxHeaderBytes)
        return fail("a line between parts is longer than 16 KiB");
    std::string line = m_buffer.substr(m_pos, newline - m_pos);
    const size_t consumed = newline + 1 - m_pos;
    m_pos = newline + 1;
    // Transport padding after a boundary is allowed.
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (m_boundary.empty() && line.size() > 2 && line.compare(0, 2, "--") == 0) {
        if (line.size() - 2 > maxBoundaryBytes)
            return fail("the boundary is longer than 200 bytes");
        m_boundary = line.substr(2);
    }
    if (!m_boundary.empty() && line.size() == m_boundary.size() + 2 &&
        line.compare(0, 2, "--") == 0 && line.compare(2, npos, m_boundary) == 0) {
        m_state = State::Headers;
        m_contentType.clear();
        m_hasLength = false;
        m_length = 0;
        m_headerBytes = 0;
        return true;
    }
    if (!m_boundary.empty() && line == "--" + m_boundary + "--")
        return fail("the camera closed the stream with its final boundary");
    // Preamble, the CR LF before a boundary, or what follows a JPEG's end.
    m_skipped += consumed;
    if (m_skipped > maxPartBytes)
        return fail("no boundary in 8 MiB of the stream");
    return true;
}

bool MultipartReframer::readHeaders()
{
    const size_t newline = m_buffer.find('\n', m_pos);
    const size_t lineBytes = newline == npos ? m_buffer.size() - m_pos : newline + 1 - m_pos;
    if (m_headerBytes + lineBytes > maxHeaderBytes)
        return fail("the headers of a part are longer than 16 KiB");
    if (newline == npos)
        return false;
    m_headerBytes += lineBytes;
    std::string line = m_buffer.substr(m_pos, newline - m_pos);
    m_pos = newline + 1;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (!line.empty())
        return headerLine(line);
    if (m_hasLength) {
        m_state = State::SizedBody;
    } else {
        m_state = State::JpegBody;
        m_walk = JpegWalk();
        m_walked = 0;
        m_searched = 0;
    }
    return true;
}

bool MultipartReframer::headerLine(const std::string &line)
{
    const size_t colon = line.find(':');
    if (colon == npos)
        return true;
    const std::string name = lowered(trimmed(line.substr(0, colon)));
    const std::string value = trimmed(line.substr(colon + 1));
    if (name == "content-type") {
        m_contentType = value;
    } else if (name == "content-length") {
        if (value.empty() || value.find_first_not_of("0123456789") != npos)
            return fail("a part's Content-Length is not a number");
        const size_t digits = value.find_first_not_of('0');
        const std::string significant = digits == npos ? "0" : value.substr(digits);
        if (significant.size() > 9 || std::stoul(significant) > maxPartBytes)
            return fail("a part is larger than 8 MiB");
        const size_t length = std::stoul(significant);
        if (m_hasLength && length != m_length)
            return fail("a part has two different Content-Lengths");
        m_hasLength = true;
        m_length = length;
    }
    return true;
}

bool MultipartReframer::readSizedBody()
{
    if (m_buffer.size() - m_pos < m_length)
        return false;
    emitPart(m_pos, m_length);
    m_pos += m_length;
    m_state = State::SeekBoundary;
    return true;
}

bool MultipartReframer::readJpegBody()
{
    const size_t available = m_buffer.size() - m_pos;
    // A part that is not a JPEG, or a JPEG cut short, still ends at the next
    // boundary, as the demuxer itself would end it.
    const std::string delimiter = "--" + m_boundary;
    size_t boundaryAt = npos;
    for (size_t at = m_buffer.find(delimiter, m_pos + m_searched); at != npos;
         at = m_buffer.find(delimiter, at + 1)) {
        if (at == m_pos || m_buffer[at - 1] == '\n') {
            boundaryAt = at - m_pos;
            break;
        }
    }
    const size_t walkTo = boundaryAt == npos ? available : boundaryAt;
    const size_t end = m_walk.advance(m_buffer, m_pos + m_walked, m_pos + walkTo);
    m_walked = walkTo;
    if (end != npos) {
        if (end - m_pos > maxPartBytes)
            return fail("a part is larger than 8 MiB");
        emitPart(m_pos, end - m_pos);
        m_pos = end;
        m_state = State::SeekBoundary;
        return true;
    }
    if (boundaryAt != npos) {
        size_t size = boundaryAt;
        if (size > 0 && m_buffer[m_pos + size - 1] == '\n')
            --size;
        if (size > 0 && m_buffer[m_pos + size - 1] == '\r')
            --size;
        if (size > maxPartBytes)
            return fail("a part is larger than 8 MiB");
        emitPart(m_pos, size);
        m_pos += boundaryAt;
        m_state = State::SeekBoundary;
        return true;
    }
    // Room for the CR LF and a delimiter still arriving after a body of the
    // largest size, so that where the bytes were cut makes no difference.
    if (available > maxPartBytes + delimiter.size() + 2)
        return fail("a part is larger than 8 MiB");
    // The delimiter may be arriving split; look again from where it could start.
    m_searched = available >= delimiter.size() ? available - delimiter.size() + 1 : 0;
    return false;
}

void MultipartReframer::emitPart(size_t from, size_t size)
{
    m_skipped = 0;
    if (size == 0)
        return;
    std::string &out = *m_out;
    out += "--" + m_boundary + "\r\nContent-Type: " + partType(m_contentType) +
           "\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    out.append(m_buffer, from, size);
    out += "\r\n";
}

bool MultipartReframer::JpegWalk::markerCode(uint8_t c)
{
    if (c == 0xff)
        return false; // fill bytes may precede a marker
    if (c == 0xd9) {
        step = Step::Ended;
        return true;
    }
    if (c == 0xd8 || c == 0x00) {
        step = Step::Lost;
    } else if ((c >= 0xd0 && c <= 0xd7) || c == 0x01) {
        step = Step::Marker; // markers without a length
    } else {
        scanFollows = c == 0xda;
        step = Step::Length0;
    }
    return false;
}

void MultipartReframer::JpegWalk::lengthRead(uint8_t low)
{
    remaining |= low;
    if (remaining < 2) {
        step = Step::Lost;
        return;
    }
    remaining -= 2;
    if (remaining == 0)
        step = scanFollows ? Step::Scan : Step::Marker;
    else
        step = Step::Skip;
}

size_t MultipartReframer::JpegWalk::advance(const std::string &bytes, size_t from, size_t to)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    for (size_t i = from; i < to; ++i) {
        const uint8_t c = data[i];
        switch (step) {
        case Step::Soi0:
            step = c == 0xff ? Step::Soi1 : Step::Lost;
            break;
        case Step::Soi1:
            step = c == 0xd8 ? Step::Marker : Step::Lost;
            break;
        case Step::Marker:
            step = c == 0xff ? Step::MarkerCode : Step::Lost;
            break;
        case Step::MarkerCode:
            if (markerCode(c))
                return i + 1;
            break;
        case Step::Length0:
            remaining = size_t(c) << 8;
            step = Step::Length1;
            break;
        case Step::Length1:
            lengthRead(c);
            break;
        case Step::Skip: {
            // A segment's payload, an embedded thumbnail's markers included,
            // is skipped by its length.
            const size_t n = std::min(remaining, to - i);
            remaining -= n;
            i += n - 1;
            if (remaining == 0)
                step = scanFollows ? Step::Scan : Step::Marker;
            break;
        }
        case Step::Scan: {
            const void *ff = std::memchr(data + i, 0xff, to - i);
            if (!ff)
                return npos;
            i = size_t(static_cast<const uint8_t *>(ff) - data);
            step = Step::ScanFF;
            break;
        }
        case Step::ScanFF:
            // In coded data FF 00 is a stuffed byte and FF D0..D7 a restart
            // marker; any other marker ends the scan.
            if (c == 0x00 || (c >= 0xd0 && c <= 0xd7)) {
                step = Step::Scan;
            } else if (c != 0xff) {
                step = Step::MarkerCode;
                --i;
            }
            break;
        case Step::Ended:
        case Step::Lost:
            return npos;
        }
    }
    return npos;
}
