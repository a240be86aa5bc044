// Reads the DeviceInfo document a camera answers the login check with: the
// root DeviceInfo in any namespace and with any attributes, its elements
// deviceName, model, serialNumber, firmwareVersion and channels.
#ifndef DEVICEINFO_H
#define DEVICEINFO_H

#include "camnetsdk.h"

#include <string>

// False when document is not well-formed XML with a DeviceInfo root; reply
// is then left as it was. Missing elements read as empty texts and zero.
bool readDeviceInfo(const std::string &document, DeviceInfoReply *reply);

#endif // DEVICEINFO_H
