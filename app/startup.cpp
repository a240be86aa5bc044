#include "startup.h"

#include <QCoreApplication>
#include <QTranslator>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

void limitAllocatorArenas()
{
#ifdef __GLIBC__
    // Each preview's streaming threads come and go with every reconnect, and
    // with a heap per thread up to 8 per core the memory they freed stayed
    // with heaps no later thread used: the tool grew with every camera
    // restart. Four heaps serve two previews and the window as fast.
    mallopt(M_ARENA_MAX, 4);
#endif
}
