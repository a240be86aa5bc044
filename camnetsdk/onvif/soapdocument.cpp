#include "onvif/soapdocument.h"

#include "onvif/onvifnamespaces.h"

#include <libxml/parser.h>

#include <climits>

namespace {

const xmlChar *xml(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

const xmlNode *firstElement(const xmlNode *node)
{
    for (; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE)
            return node;
    }
    return nullptr;
}

} // namespace

SoapDocument::~SoapDocument()
{
    if (m_doc)
        xmlFreeDoc(m_doc);
}

bool SoapDocument::parse(const std::string &text)
{
    if (m_doc)
        xmlFreeDoc(m_doc);
    m_doc = nullptr;
    m_payload = nullptr;
    m_envelopeNs = nullptr;
    m_fault = false;
    if (text.empty() || text.size() > size_t(INT_MAX))
        return false;
    // No network, no external subset, no entity substitution: the camera's
    // reply is read as it stands.
    m_doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!m_doc)
        return false;
    const xmlNode *root = xmlDocGetRootElement(m_doc);
    for (const char *ns : {OnvifNs::soap12, OnvifNs::soap11}) {
        if (is(root, ns, "Envelope"))
            m_envelopeNs = ns;
    }
    if (!m_envelopeNs || !is(root, m_envelopeNs, "Envelope"))
        return false;
    const xmlNode *body = child(root, m_envelopeNs, "Body");
    m_payload = body ? firstElement(body->children) : nullptr;
    m_fault = m_payload && is(m_payload, m_envelopeNs, "Fault");
    return m_payload != nullptr;
}

bool SoapDocument::notAuthorized() const
{
    if (!m_fault)
        return false;
    // SOAP 1.1 has one qualified faultcode, unqualified itself.
    if (const xmlNode *code = child(m_payload, nullptr, "faultcode"))
        return namesNotAuthorized(code, text(code));
    const xmlNode *code = child(m_payload, m_envelopeNs, "Code");
    // Subcodes nest: Code/Subcode/Subcode/...; the reason may be at any depth.
    for (const xmlNode *level = code; level; level = child(level, m_envelopeNs, "Subcode")) {
        const xmlNode *value = child(level, m_envelopeNs, "Value");
        if (value && namesNotAuthorized(value, text(value)))
            return true;
    }
    return false;
}

std::string SoapDocument::faultReason() const
{
    if (!m_fault)
        return std::string();
    if (const xmlNode *reason = child(m_payload, nullptr, "faultstring"))
        return text(reason);
    return text(path(m_payload, m_envelopeNs, {"Reason", "Text"}));
}

bool SoapDocument::namesNotAuthorized(const xmlNode *node, const std::string &value) const
{
    const size_t colon = value.find(':');
    const std::string prefix = colon == std::string::npos ? std::string() : value.substr(0, colon);
    const std::string local = colon == std::string::npos ? value : value.substr(colon + 1);
    if (local != "NotAuthorized")
        return false;
    const xmlNs *ns = xmlSearchNs(m_doc, const_cast<xmlNode *>(node),
                                  prefix.empty() ? nullptr : xml(prefix.c_str()));
    return ns && ns->href && xmlStrEqual(ns->href, xml(OnvifNs::error));
}

bool SoapDocument::is(const xmlNode *node, const char *ns, const char *name)
{
    if (!node || node->type != XML_ELEMENT_NODE || !xmlStrEqual(node->name, xml(name)))
        return false;
    if (!ns)
        return !node->ns || !node->ns->href || !*node->ns->href;
    return node->ns && xmlStrEqual(node->ns->href, xml(ns));
}

const xmlNode *SoapDocument::child(const xmlNode *parent, const char *ns, const char *name)
{
    for (const xmlNode *node = parent ? parent->children : nullptr; node; node = node->next) {
        if (is(node, ns, name))
            return node;
    }
    return nullptr;
}

std::vector<const xmlNode *> SoapDocument::children(const xmlNode *parent, const char *ns,
                                                    const char *name)
{
    std::vector<const xmlNode *> found;
    for (const xmlNode *node = parent ? parent->children : nullptr; node; node = node->next) {
        if (is(node, ns, name))
            found.push_back(node);
    }
    return found;
}

const xmlNode *SoapDocument::path(const xmlNode *parent, const char *ns,
                                  std::initializer_list<const char *> names)
{
    const xmlNode *node = parent;
    for (const char *name : names)
        node = child(node, ns, name);
    return node;
}

std::string SoapDocument::text(const xmlNode *element)
{
    std::string text;
    for (const xmlNode *node = element ? element->children : nullptr; node; node = node->next) {
        if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) && node->content)
            text += reinterpret_cast<const char *>(node->content);
    }
    const char *space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string SoapDocument::attribute(const xmlNode *element, const char *name)
{
    if (!element)
        return std::string();
    xmlChar *value = xmlGetNoNsProp(const_cast<xmlNode *>(element), xml(name));
    const std::string result = value ? reinterpret_cast<const char *>(value) : "";
    xmlFree(value);
    return result;
}
