// One SOAP 1.2 request as the SDK sends it to a camera: an envelope whose
// body holds one operation, built as a libxml2 tree so that every token and
// name a camera gave is escaped on the way back out, with a UsernameToken
// header when the camera wants one.
#ifndef SOAPENVELOPE_H
#define SOAPENVELOPE_H

#include <libxml/tree.h>

#include <string>
#include <utility>
#include <vector>

class UsernameToken;

class SoapEnvelope
{
public:
    // An envelope whose body holds the element ns:operation.
    SoapEnvelope(const char *ns, const char *operation);
    ~SoapEnvelope();
    SoapEnvelope(const SoapEnvelope &) = delete;
    SoapEnvelope &operator=(const SoapEnvelope &) = delete;

    xmlNode *operation() const { return m_operation; }
    // Appends the element ns:name holding text to parent.
    xmlNode *add(xmlNode *parent, const char *ns, const char *name,
                 const std::string &text = std::string());
    // A wsse:Security header carrying token; at most once.
    void addToken(const UsernameToken &token);
    // The request as sent, with its XML declaration.
    std::string text() const;

private:
    // The namespace declared once on the envelope, with a prefix of its own.
    xmlNs *declared(const char *ns);

    xmlDoc *m_doc = nullptr;
    xmlNode *m_envelope = nullptr;
    xmlNode *m_body = nullptr;
    xmlNode *m_operation = nullptr;
    std::vector<std::pair<std::string, xmlNs *>> m_namespaces;
};

#endif // SOAPENVELOPE_H
