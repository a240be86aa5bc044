#include "startup.h"

#include <QCoreApplication>
#include <QTranslator>

WindowPlacement placeOnWorkArea(int workWidth, int workHeight)
{
    WindowPlacement placement;
    if (workHeight < mainWindowMinHeight || workWidth < mainWindowMinWidth) {
        placement.minimumSize = QSize(workWidth, workHeight);
        return placement;
    }
    placement.minimumSize = QSize(mainWindowMinWidth, mainWindowMinHeight);
    placement.move = true;
    placement.position =
        QPoint((workWidth - mainWindowMinWidth) / 2, (workHeight - mainWindowMinHeight) / 2);
    return placement;
}

void loadTranslator()
{
    // Lives until the process ends, as the application keeps using it, and is
    // released then rather than left behind once the application is gone.
    static QTranslator translator;
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/") +
                         QStringLiteral("overlaytuner_zh.qm");
    translator.load(path);
    QCoreApplication::installTranslator(&translator);
}
