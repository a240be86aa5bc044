#include "soapmessage.h"

#include <libxml/parser.h>

#include <cstring>

namespace {

bool isElement(const xmlNode *n, const char *ns, const char *name)
{
    return n && n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
           std::strcmp(reinterpret_cast<const char *>(n->ns->href), ns) == 0 &&
           std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

xmlNode *firstElementChild(xmlNode *parent)
{
    for (xmlNode *n = parent ? parent->children : nullptr; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE)
            return n;
    }
    return nullptr;
}

// Depth first, in document order. libxml2 refuses documents nested deeper than
// a few hundred levels, which bounds the recursion.
void collect(xmlNode *parent, const char *ns, const char *name, QList<xmlNode *> *out, bool first)
{
    for (xmlNode *n = parent ? parent->children : nullptr; n; n = n->next) {
        if (first && !out->isEmpty())
            return;
        if (n->type != XML_ELEMENT_NODE)
            continue;
        if (isElement(n, ns, name))
            out->append(n);
        else
            collect(n, ns, name, out, first);
    }
}

xmlNode *find(xmlNode *parent, const char *ns, const char *name)
{
    QList<xmlNode *> found;
    collect(parent, ns, name, &found, true);
    return found.value(0);
}

QByteArray textOf(const xmlNode *n)
{
    if (!n)
        return QByteArray();
    xmlChar *content = xmlNodeGetContent(n);
    QByteArray text(content ? reinterpret_cast<const char *>(content) : "");
    xmlFree(content);
    text = text.trimmed();
    // Trimmed text of an element that holds nothing is empty, never null.
    return text.isNull() ? QByteArray("") : text;
}

QByteArray attributeOf(const xmlNode *n, const char *attribute)
{
    if (!n)
        return QByteArray();
    xmlChar *value = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar *>(attribute));
    if (!value)
        return QByteArray();
    QByteArray text(reinterpret_cast<const char *>(value));
    xmlFree(value);
    return text.isNull() ? QByteArray("") : text;
}

} // namespace

SoapMessage::SoapMessage(const QByteArray &xml)
{
    // No network, no entity substitution, no DTD loading: a client's envelope
    // can neither reach out nor blow up in memory.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    if (xml.isEmpty())
        return;
    m_doc = xmlReadMemory(xml.constData(), xml.size(), "soap.xml", nullptr, options);
    if (!m_doc || m_doc->intSubset || m_doc->extSubset)
        return;
    xmlNode *root = xmlDocGetRootElement(m_doc);
    if (!root || std::strcmp(reinterpret_cast<const char *>(root->name), "Envelope") != 0)
        return;
    if (!isElement(root, envelopeNs, "Envelope")) {
        m_problem = Problem::VersionMismatch;
        return;
    }
    xmlNode *body = nullptr;
    for (xmlNode *n = firstElementChild(root); n; n = n->next) {
        if (isElement(n, envelopeNs, "Header") && !m_header && !body)
            m_header = n;
        else if (isElement(n, envelopeNs, "Body") && !body)
            body = n;
    }
    m_operation = firstElementChild(body);
    if (body && m_operation && m_operation->ns && m_operation->ns->href)
        m_problem = Problem::None;
}

SoapMessage::~SoapMessage()
{
    if (m_doc)
        xmlFreeDoc(m_doc);
}

QByteArray SoapMessage::operationNs() const
{
    return m_problem == Problem::None
               ? QByteArray(reinterpret_cast<const char *>(m_operation->ns->href))
               : QByteArray();
}

QByteArray SoapMessage::operation() const
{
    return m_problem == Problem::None
               ? QByteArray(reinterpret_cast<const char *>(m_operation->name))
               : QByteArray();
}

QByteArray SoapMessage::bodyText(const char *ns, const char *name) const
{
    return m_problem == Problem::None ? textOf(find(m_operation, ns, name)) : QByteArray();
}

QByteArray SoapMessage::headerText(const char *ns, const char *name) const
{
    return m_problem == Problem::None ? textOf(find(m_header, ns, name)) : QByteArray();
}

QList<QByteArray> SoapMessage::bodyTexts(const char *ns, const char *name) const
{
    QList<QByteArray> texts;
    if (m_problem != Problem::None)
        return texts;
    QList<xmlNode *> found;
    collect(m_operation, ns, name, &found, false);
    for (const xmlNode *n : found)
        texts.append(textOf(n));
    return texts;
}

QByteArray SoapMessage::bodyAttribute(const char *ns, const char *name, const char *attribute) const
{
    return m_problem == Problem::None ? attributeOf(find(m_operation, ns, name), attribute)
                                      : QByteArray();
}

QByteArray SoapMessage::headerAttribute(const char *ns, const char *name,
                                        const char *attribute) const
{
    return m_problem == Problem::None ? attributeOf(find(m_header, ns, name), attribute)
                                      : QByteArray();
}

QList<QPair<QByteArray, QByteArray>> SoapMessage::bodyQNames(const char *ns, const char *name) const
{
    QList<QPair<QByteArray, QByteArray>> names;
    xmlNode *n = m_problem == Problem::None ? find(m_operation, ns, name) : nullptr;
    if (!n)
        return names;
    for (const QByteArray &qname : textOf(n).simplified().split(' ')) {
        if (qname.isEmpty())
            continue;
        const int colon = qname.indexOf(':');
        const QByteArray prefix = colon < 0 ? QByteArray() : qname.left(colon);
        const xmlNs *bound = xmlSearchNs(
            m_doc, n,
            prefix.isEmpty() ? nullptr : reinterpret_cast<const xmlChar *>(prefix.constData()));
        names.append({bound && bound->href ? QByteArray(reinterpret_cast<const char *>(bound->href))
                                           : QByteArray(),
                      qname.mid(colon + 1)});
    }
    return names;
}
