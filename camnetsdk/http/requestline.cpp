#include "http/requestline.h"

#include <cstring>

namespace {

bool knownMethod(const std::string &m)
{
    return m == "GET" || m == "PUT" || m == "POST" || m == "DELETE";
}

// A path goes out verbatim, so anything that could split or extend the
// HTTP request (spaces, control bytes) is refused rather than escaped.
bool cleanPath(const std::string &p)
{
    if (p.empty() || p[0] != '/')
        return false;
    for (unsigned char c : p) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

} // namespace

bool RequestLine::parse(const char *text, size_t length)
{
    m_method.clear();
    m_path.clear();
    if (!text || length == 0)
        return false;
    std::string line(text, length);
    const size_t end = line.find('\r');
    if (end != std::string::npos) {
        if (line.compare(end, std::string::npos, "\r\n") != 0)
            return false;
        line.resize(end);
    }
    const size_t space = line.find(' ');
    if (space == std::string::npos)
        return false;
    std::string method = line.substr(0, space);
    std::string path = line.substr(space + 1);
    if (!knownMethod(method) || !cleanPath(path))
        return false;
    m_method = std::move(method);
    m_path = std::move(path);
    return true;
}
