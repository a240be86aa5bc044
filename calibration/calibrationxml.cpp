#include "calibrationxml.h"

#include <libxml/parser.h>

#include <cstring>
#include <limits>

namespace {

const xmlChar *xc(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads [white space][sign]digits and ignores what follows. The magnitude
// saturates at UINT32_MAX; no digits at all reads as magnitude 0.
void readNumber(const QByteArray &text, bool &negative, uint64_t &magnitude)
{
    int i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    magnitude = 0;
    const uint64_t cap = std::numeric_limits<uint32_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + uint64_t(text[i] - '0');
        if (magnitude > cap)
            magnitude = cap + 1;
    }
}

// Text and CDATA of all descendants. Entity references are not followed, so a
// reply cannot make the parser expand entities into the values.
void appendText(xmlNodePtr node, QByteArray &out)
{
    for (xmlNodePtr child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content)
                out.append(reinterpret_cast<const char *>(child->content));
        } else if (child->type == XML_ELEMENT_NODE) {
            appendText(child, out);
        }
    }
}

// Camera replies are untrusted: no network, no external DTD, no entity
// substitution, and libxml2's complaints stay quiet.
xmlDocPtr parseReply(const QByteArray &text)
{
    if (text.isEmpty())
        return nullptr;
    return xmlReadMemory(text.constData(), text.size(), nullptr, nullptr,
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

// The root element when it is called rootName, else null.
xmlNodePtr rootNamed(xmlDocPtr doc, const char *rootName)
{
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root || !root->name || std::strcmp(reinterpret_cast<const char *>(root->name), rootName))
        return nullptr;
    return root;
}

// From cursor on, the first element sibling called name; moves the cursor there.
bool findElement(xmlNodePtr &cursor, const char *name)
{
    for (xmlNodePtr node = cursor; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && node->name &&
            std::strcmp(reinterpret_cast<const char *>(node->name), name) == 0) {
            cursor = node;
            return true;
        }
    }
    return false;
}

// No digits reads as 0. A value outside the signed 32-bit range saturates to
// INT32_MIN or INT32_MAX.
int32_t readElementInt(xmlNodePtr element)
{
    QByteArray text;
    appendText(element, text);
    bool negative = false;
    uint64_t magnitude = 0;
    readNumber(text, negative, magnitude);
    if (negative) {
        const uint64_t limit = uint64_t(std::numeric_limits<int32_t>::max()) + 1;
        return magnitude >= limit ? std::numeric_limits<int32_t>::min()
                                  : int32_t(-int64_t(magnitude));
    }
    return magnitude > uint64_t(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : int32_t(magnitude);
}

// Values read as unsigned 32-bit numbers, a minus sign giving the two's
// complement. No digits reads as 0; a magnitude beyond UINT32_MAX reads as
// UINT32_MAX whatever the sign, that is -1 as a signed value.
void readCapEntry(xmlNodePtr element, CapEntry &entry)
{
    const char *names[] = {"min", "max", "default"};
    int32_t *fields[] = {&entry.min, &entry.max, &entry.def};
    for (int i = 0; i < 3; ++i) {
        xmlChar *value = xmlGetNoNsProp(element, xc(names[i]));
        if (!value)
            continue;
        const QByteArray text(reinterpret_cast<const char *>(value));
        xmlFree(value);
        if (text.isEmpty())
            continue;
        bool negative = false;
        uint64_t magnitude = 0;
        readNumber(text, negative, magnitude);
        uint32_t bits = magnitude > std::numeric_limits<uint32_t>::max()
                            ? std::numeric_limits<uint32_t>::max()
                            : uint32_t(magnitude);
        if (negative && magnitude <= std::numeric_limits<uint32_t>::max())
            bits = uint32_t(0) - bits;
        std::memcpy(fields[i], &bits, sizeof(bits));
    }
}

// Runs findElement and, on success, read; then steps the cursor past the find.
template<typename Read>
void readNext(xmlNodePtr &cursor, const char *name, Read read)
{
    if (!cursor || !findElement(cursor, name))
        return;
    read(cursor);
    cursor = cursor->next;
}

xmlNodePtr addValueChild(xmlNodePtr parent, const char *name, int32_t value)
{
    return xmlNewTextChild(parent, nullptr, xc(name), xc(intToText(value).constData()));
}

xmlNodePtr newPair(const char *name, int32_t horizontal, int32_t vertical)
{
    xmlNodePtr node = xmlNewNode(nullptr, xc(name));
    if (!node)
        return nullptr;
    addValueChild(node, "horizontal", horizontal);
    addValueChild(node, "vertical", vertical);
    return node;
}

} // namespace

QByteArray intToText(int32_t value)
{
    return QByteArray::number(value);
}

QByteArray buildFusionCalibrationXml(const CalibrationDoc &doc, const QByteArray &version,
                                     const QByteArray &nameSpace)
{
    xmlDocPtr xml = xmlNewDoc(xc("1.0"));
    if (!xml)
        return QByteArray();
    xmlNodePtr root = xmlNewNode(nullptr, xc("FusionCalibration"));
    if (!root) {
        xmlFreeDoc(xml);
        return QByteArray();
    }
    addValueChild(root, "distanceLevel", doc.distanceLevel);
    xmlAddChild(root, newPair("ScaleRatio", doc.scaleHorizontal, doc.scaleVertical));
    xmlAddChild(root, newPair("Bias", doc.biasHorizontal, doc.biasVertical));
    if (!version.isEmpty())
        xmlNewProp(root, xc("version"), xc(version.constData()));
    if (!nameSpace.isEmpty())
        xmlNewProp(root, xc("xmlns"), xc(nameSpace.constData()));
    xmlDocSetRootElement(xml, root);

    xmlChar *buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(xml, &buffer, &size, "UTF-8", 1);
    QByteArray text;
    if (buffer) {
        text = QByteArray(reinterpret_cast<const char *>(buffer));
        xmlFree(buffer);
    }
    xmlFreeDoc(xml);
    return text;
}

void parseFusionCalibrationXml(CalibrationDoc &doc, const QByteArray &text)
{
    xmlDocPtr xml = parseReply(text);
    if (!xml)
        return;
    if (xmlNodePtr root = rootNamed(xml, "FusionCalibration")) {
        xmlNodePtr cursor = root->children;
        readNext(cursor, "distanceLevel",
                 [&](xmlNodePtr e) { doc.distanceLevel = readElementInt(e); });
        readNext(cursor, "ScaleRatio", [&](xmlNodePtr e) {
            xmlNodePtr inner = e->children;
            readNext(inner, "horizontal",
                     [&](xmlNodePtr v) { doc.scaleHorizontal = readElementInt(v); });
            readNext(inner, "vertical",
                     [&](xmlNodePtr v) { doc.scaleVertical = readElementInt(v); });
        });
        readNext(cursor, "Bias", [&](xmlNodePtr e) {
            xmlNodePtr inner = e->children;
            readNext(inner, "horizontal",
                     [&](xmlNodePtr v) { doc.biasHorizontal = readElementInt(v); });
            readNext(inner, "vertical",
                     [&](xmlNodePtr v) { doc.biasVertical = readElementInt(v); });
        });
    }
    xmlFreeDoc(xml);
}

void parseFusionCalibrationCapXml(CapabilityDoc &doc, const QByteArray &text)
{
    xmlDocPtr xml = parseReply(text);
    if (!xml)
        return;
    if (xmlNodePtr root = rootNamed(xml, "FusionCalibrationCap")) {
        xmlNodePtr cursor = root->children;
        readNext(cursor, "distanceLevel",
                 [&](xmlNodePtr e) { readCapEntry(e, doc.distanceLevel); });
        readNext(cursor, "ScaleRatio", [&](xmlNodePtr e) {
            xmlNodePtr inner = e->children;
            readNext(inner, "horizontal",
                     [&](xmlNodePtr v) { readCapEntry(v, doc.scaleHorizontal); });
            readNext(inner, "vertical", [&](xmlNodePtr v) { readCapEntry(v, doc.scaleVertical); });
        });
        readNext(cursor, "Bias", [&](xmlNodePtr e) {
            xmlNodePtr inner = e->children;
            readNext(inner, "horizontal",
                     [&](xmlNodePtr v) { readCapEntry(v, doc.biasHorizontal); });
            readNext(inner, "vertical", [&](xmlNodePtr v) { readCapEntry(v, doc.biasVertical); });
        });
    }
    xmlFreeDoc(xml);
}

void parseResponseStatusXml(StatusDoc &doc, const QByteArray &text)
{
    xmlDocPtr xml = parseReply(text);
    if (!xml)
        return;
    if (xmlNodePtr root = rootNamed(xml, "ResponseStatus")) {
        xmlNodePtr cursor = root->children;
        readNext(cursor, "statusCode", [&](xmlNodePtr e) { doc.statusCode = readElementInt(e); });
    }
    xmlFreeDoc(xml);
}
