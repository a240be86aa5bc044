// The request line of an ISAPI call ("METHOD /path", optionally ending in
// CR LF), split into method and path, refusing anything else.
#ifndef REQUESTLINE_H
#define REQUESTLINE_H

#include <cstddef>
#include <string>

class RequestLine
{
public:
    // False for a malformed line; then method and path are left empty.
    bool parse(const char *text, size_t length);

    const std::string &method() const { return m_method; }
    const std::string &path() const { return m_path; }
    bool carriesBody() const { return m_method == "PUT" || m_method == "POST"; }

private:
    std::string m_method;
    std::string m_path;
};

#endif // REQUESTLINE_H
