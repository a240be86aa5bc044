#include "http/deviceinfo.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

bool named(const xmlNode *node, const char *name)
{
    return node->type == XML_ELEMENT_NODE &&
           xmlStrEqual(node->name, reinterpret_cast<const xmlChar *>(name));
}

// The element's own text: entity references are neither expanded nor
// followed, so a document cannot grow itself through them.
std::string textOf(const xmlNode *element)
{
    std::string text;
    for (const xmlNode *child = element->children; child; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content)
            text += reinterpret_cast<const char *>(child->content);
    }
    const char *space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

void copyField(char *field, size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

uint32_t count(const std::string &text)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return uint32_t(std::stoul(text));
}

} // namespace

bool readDeviceInfo(const std::string &document, DeviceInfoReply *reply)
{
    if (document.size() > size_t(INT_MAX))
        return false;
    // No network, no external subset, no entity substitution: the camera's
    // document is read as it stands.
    xmlDoc *doc = xmlReadMemory(document.data(), int(document.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return false;
    const xmlNode *root = xmlDocGetRootElement(doc);
    if (!root || !named(root, "DeviceInfo")) {
        xmlFreeDoc(doc);
        return false;
    }
    DeviceInfoReply info;
    std::memset(&info, 0, sizeof info);
    for (const xmlNode *node = root->children; node; node = node->next) {
        if (named(node, "deviceName"))
            copyField(info.deviceName, sizeof info.deviceName, textOf(node));
        else if (named(node, "model"))
            copyField(info.model, sizeof info.model, textOf(node));
        else if (named(node, "serialNumber"))
            copyField(info.serialNumber, sizeof info.serialNumber, textOf(node));
        else if (named(node, "firmwareVersion"))
            copyField(info.firmwareVersion, sizeof info.firmwareVersion, textOf(node));
        else if (named(node, "channels"))
            info.channelCount = count(textOf(node));
    }
    xmlFreeDoc(doc);
    *reply = info;
    return true;
}
