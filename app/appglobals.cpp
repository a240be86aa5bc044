#include "appglobals.h"

const QString appVersion = QStringLiteral("V 1.0.1");

QMutex cameraLinkMutex;
QMutex exchangeMutex;
