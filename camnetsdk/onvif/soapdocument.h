// One SOAP reply as read from a camera: the envelope parsed without network
// access or entity expansion, its body's first element (a response or a
// fault), and the tree walking the readers of each reply use. Every element
// is matched by namespace URI and local name, never by its prefix.
#ifndef SOAPDOCUMENT_H
#define SOAPDOCUMENT_H

#include <libxml/tree.h>

#include <initializer_list>
#include <string>
#include <vector>

class SoapDocument
{
public:
    SoapDocument() = default;
    ~SoapDocument();
    SoapDocument(const SoapDocument &) = delete;
    SoapDocument &operator=(const SoapDocument &) = delete;

    // False when text is not a SOAP 1.2 (or 1.1) envelope whose body holds an
    // element.
    bool parse(const std::string &text);
    // The body's first element; null before a successful parse.
    const xmlNode *payload() const { return m_payload; }
    bool isFault() const { return m_fault; }
    // Whether the fault's code or one of its subcodes is ter:NotAuthorized.
    bool notAuthorized() const;
    // The fault's reason, for a message; empty for none.
    std::string faultReason() const;

    static bool is(const xmlNode *node, const char *ns, const char *name);
    // The first child element that is ns:name, or null.
    static const xmlNode *child(const xmlNode *parent, const char *ns, const char *name);
    static std::vector<const xmlNode *> children(const xmlNode *parent, const char *ns,
                                                 const char *name);
    // The first element at the end of a path of ns:name steps below parent.
    static const xmlNode *path(const xmlNode *parent, const char *ns,
                               std::initializer_list<const char *> names);
    // The element's own text without surrounding blanks; entity references
    // are neither expanded nor followed.
    static std::string text(const xmlNode *element);
    // An unqualified attribute's value; empty when absent.
    static std::string attribute(const xmlNode *element, const char *name);

private:
    // Whether value, a QName in scope of node, is ter:NotAuthorized.
    bool namesNotAuthorized(const xmlNode *node, const std::string &value) const;

    xmlDoc *m_doc = nullptr;
    const xmlNode *m_payload = nullptr;
    const char *m_envelopeNs = nullptr;
    bool m_fault = false;
};

#endif // SOAPDOCUMENT_H
