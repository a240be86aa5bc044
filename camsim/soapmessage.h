#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <libxml/tree.h>

// A SOAP 1.2 envelope a client sent the simulated camera (an ONVIF call or a
// WS-Discovery probe), read with libxml2 without network access, entity
// substitution or a document type. Elements are found by namespace URI and
// local name, never by the prefix the client happened to choose.
class SoapMessage
{
public:
    enum class Problem
    {
        None,
        Malformed,       // not XML, a document type, or no Envelope with a Body
        VersionMismatch, // an envelope, but not SOAP 1.2's
    };

    static constexpr const char *envelopeNs = "http://www.w3.org/2003/05/soap-envelope";

    explicit SoapMessage(const QByteArray &xml);
    ~SoapMessage();
    SoapMessage(const SoapMessage &) = delete;
    SoapMessage &operator=(const SoapMessage &) = delete;

    Problem problem() const { return m_problem; }
    // The first element in the Body: the operation and its namespace.
    QByteArray operationNs() const;
    QByteArray operation() const;

    // The trimmed text of the first element so named below the operation (or
    // the Header); null when there is none.
    QByteArray bodyText(const char *ns, const char *name) const;
    QByteArray headerText(const char *ns, const char *name) const;
    // Every such element's text, in document order.
    QList<QByteArray> bodyTexts(const char *ns, const char *name) const;
    // An unqualified attribute of the first element so named; null when absent.
    QByteArray bodyAttribute(const char *ns, const char *name, const char *attribute) const;
    QByteArray headerAttribute(const char *ns, const char *name, const char *attribute) const;
    // The space-separated QNames in an element's text, each resolved against
    // the namespaces in scope there to (namespace URI, local name); a prefix
    // that names no namespace resolves to an empty URI.
    QList<QPair<QByteArray, QByteArray>> bodyQNames(const char *ns, const char *name) const;

private:
    xmlDoc *m_doc = nullptr;
    xmlNode *m_header = nullptr;
    xmlNode *m_operation = nullptr;
    Problem m_problem = Problem::Malformed;
};
