#include "calibrationxml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <memory>

namespace {

struct DocFree
{
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

QByteArray escape(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray capLine(const char *indent, const char *name, const CamState::Range &r)
{
    return QByteArray(indent) + "<" + name + " min=\"" + QByteArray::number(r.min) + "\" max=\"" +
           QByteArray::number(r.max) + "\" default=\"" + QByteArray::number(r.def) + "\"/>\n";
}

const xmlNode *child(const xmlNode *parent, const char *name)
{
    for (const xmlNode *n = parent ? parent->children : nullptr; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE &&
            std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0)
            return n;
    }
    return nullptr;
}

QString readInt(const xmlNode *parent, const char *name, const char *label, int *out)
{
    const xmlNode *n = child(parent, name);
    if (!n)
        return QStringLiteral("%1 is missing").arg(label);
    xmlChar *content = xmlNodeGetContent(n);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(content)).trimmed();
    xmlFree(content);
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < INT_MIN || v > INT_MAX)
        return QStringLiteral("%1 is not an integer").arg(label);
    *out = int(v);
    return QString();
}

} // namespace

QByteArray CalibrationXml::calibration(const CamState::Calibration &c)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<FusionCalibration>\n"
           "  <distanceLevel>" +
           QByteArray::number(c.distanceLevel) +
           "</distanceLevel>\n"
           "  <ScaleRatio>\n"
           "    <horizontal>" +
           QByteArray::number(c.horScale) +
           "</horizontal>\n"
           "    <vertical>" +
           QByteArray::number(c.verScale) +
           "</vertical>\n"
           "  </ScaleRatio>\n"
           "  <Bias>\n"
           "    <horizontal>" +
           QByteArray::number(c.horShift) +
           "</horizontal>\n"
           "    <vertical>" +
           QByteArray::number(c.verShift) +
           "</vertical>\n"
           "  </Bias>\n"
           "</FusionCalibration>\n";
}

QByteArray CalibrationXml::capabilities(const CamState::Caps &caps)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<FusionCalibrationCap>\n" +
           capLine("  ", "distanceLevel", caps.distanceLevel) + "  <ScaleRatio>\n" +
           capLine("    ", "horizontal", caps.horScale) +
           capLine("    ", "vertical", caps.verScale) + "  </ScaleRatio>\n  <Bias>\n" +
           capLine("    ", "horizontal", caps.horShift) +
           capLine("    ", "vertical", caps.verShift) + "  </Bias>\n</FusionCalibrationCap>\n";
}

QByteArray CalibrationXml::responseStatus(int statusCode, const QString &statusString)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<ResponseStatus>\n"
           "  <statusCode>" +
           QByteArray::number(statusCode) + "</statusCode>\n  <statusString>" +
           escape(statusString) + "</statusString>\n</ResponseStatus>\n";
}

CalibrationXml::Problem CalibrationXml::parseCalibration(const QByteArray &text,
                                                         CamState::Calibration *out)
{
    if (text.isEmpty())
        return Problem{Problem::Format, QStringLiteral("empty document")};
    // No network, no entity substitution, no DTD loading: a client's document
    // can neither reach out nor blow up in memory.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(text.constData(), text.size(), "put.xml", nullptr, options));
    if (!doc)
        return Problem{Problem::Format, QStringLiteral("malformed XML")};
    if (doc->intSubset || doc->extSubset)
        return Problem{Problem::Content,
                       QStringLiteral("document type declarations are not accepted")};
    const xmlNode *root = xmlDocGetRootElement(doc.get());
    if (!root || std::strcmp(reinterpret_cast<const char *>(root->name), "FusionCalibration") != 0)
        return Problem{Problem::Content, QStringLiteral("root element is not FusionCalibration")};
    CamState::Calibration c;
    const xmlNode *scale = child(root, "ScaleRatio");
    const xmlNode *bias = child(root, "Bias");
    QString err = readInt(root, "distanceLevel", "distanceLevel", &c.distanceLevel);
    if (err.isEmpty())
        err = scale ? readInt(scale, "horizontal", "ScaleRatio/horizontal", &c.horScale)
                    : QStringLiteral("ScaleRatio is missing");
    if (err.isEmpty())
        err = readInt(scale, "vertical", "ScaleRatio/vertical", &c.verScale);
    if (err.isEmpty())
        err = bias ? readInt(bias, "horizontal", "Bias/horizontal", &c.horShift)
                   : QStringLiteral("Bias is missing");
    if (err.isEmpty())
        err = readInt(bias, "vertical", "Bias/vertical", &c.verShift);
    if (!err.isEmpty())
        return Problem{Problem::Content, err};
    *out = c;
    return Problem();
}
