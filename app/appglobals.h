// Process-wide objects that exist before main() runs: the version text and the
// locks that guard the first creation of the two singletons.
#ifndef APPGLOBALS_H
#define APPGLOBALS_H

#include <QMutex>
#include <QString>

extern const QString appVersion;

// Guards the first creation in CameralInteract::instance().
extern QMutex cameraLinkMutex;
// Guards the first creation in ISAPIInteract::getInstance().
extern QMutex exchangeMutex;

#endif // APPGLOBALS_H
