#include "panelquiet.h"

#include <QString>
#include <QtGlobal>

namespace {

QtMessageHandler previousHandler = nullptr;

void dropTraces(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.startsWith(QLatin1String("--qzv--")))
        previousHandler(type, context, text);
}

} // namespace

void PanelQuiet::install()
{
    previousHandler = qInstallMessageHandler(dropTraces);
}
