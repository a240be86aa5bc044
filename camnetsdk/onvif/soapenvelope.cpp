#include "onvif/soapenvelope.h"

#include "onvif/onvifnamespaces.h"
#include "onvif/usernametoken.h"

#include <cstring>

namespace {

const xmlChar *xml(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

// The prefixes cameras' own documentation uses, for whoever reads a capture.
const char *customaryPrefix(const char *ns)
{
    static const std::pair<const char *, const char *> known[] = {
        {OnvifNs::soap12, "s"},   {OnvifNs::device, "tds"},  {OnvifNs::media, "trt"},
        {OnvifNs::media2, "tr2"}, {OnvifNs::thermal, "tth"}, {OnvifNs::schema, "tt"},
        {OnvifNs::wsse, "wsse"},  {OnvifNs::wsu, "wsu"}};
    for (const auto &entry : known) {
        if (std::strcmp(entry.first, ns) == 0)
            return entry.second;
    }
    return nullptr;
}

} // namespace

SoapEnvelope::SoapEnvelope(const char *ns, const char *operation)
{
    m_doc = xmlNewDoc(xml("1.0"));
    m_envelope = xmlNewDocNode(m_doc, nullptr, xml("Envelope"), nullptr);
    xmlDocSetRootElement(m_doc, m_envelope);
    xmlSetNs(m_envelope, declared(OnvifNs::soap12));
    m_body = add(m_envelope, OnvifNs::soap12, "Body");
    m_operation = add(m_body, ns, operation);
}

SoapEnvelope::~SoapEnvelope()
{
    xmlFreeDoc(m_doc);
}

xmlNs *SoapEnvelope::declared(const char *ns)
{
    for (const auto &entry : m_namespaces) {
        if (entry.first == ns)
            return entry.second;
    }
    const char *known = customaryPrefix(ns);
    const std::string prefix = known ? known : "n" + std::to_string(m_namespaces.size());
    xmlNs *declaration = xmlNewNs(m_envelope, xml(ns), xml(prefix.c_str()));
    m_namespaces.emplace_back(ns, declaration);
    return declaration;
}

xmlNode *SoapEnvelope::add(xmlNode *parent, const char *ns, const char *name,
                           const std::string &text)
{
    xmlNode *element = xmlNewChild(parent, declared(ns), xml(name), nullptr);
    // xmlNewTextChild would escape too; a text node keeps that explicit.
    if (!text.empty())
        xmlAddChild(element, xmlNewText(xml(text.c_str())));
    return element;
}

void SoapEnvelope::addToken(const UsernameToken &token)
{
    xmlNode *header = xmlNewNode(declared(OnvifNs::soap12), xml("Header"));
    xmlAddPrevSibling(m_body, header);
    xmlNode *security = add(header, OnvifNs::wsse, "Security");
    xmlSetNsProp(security, declared(OnvifNs::soap12), xml("mustUnderstand"), xml("1"));
    xmlNode *usernameToken = add(security, OnvifNs::wsse, "UsernameToken");
    add(usernameToken, OnvifNs::wsse, "Username", token.user());
    xmlNode *password = add(usernameToken, OnvifNs::wsse, "Password", token.digest());
    xmlNewProp(password, xml("Type"), xml(OnvifNs::passwordDigest));
    xmlNode *nonce = add(usernameToken, OnvifNs::wsse, "Nonce", token.nonceBase64());
    xmlNewProp(nonce, xml("EncodingType"), xml(OnvifNs::base64Binary));
    add(usernameToken, OnvifNs::wsu, "Created", token.created());
}

std::string SoapEnvelope::text() const
{
    xmlChar *buffer = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(m_doc, &buffer, &size, "UTF-8");
    const std::string result =
        buffer ? std::string(reinterpret_cast<char *>(buffer), size_t(size)) : std::string();
    xmlFree(buffer);
    return result;
}
