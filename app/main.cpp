// Entry of the tool: translation, main window, placement on the work area.
#include "overlaytuner.h"
#include "startup.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

int main(int argc, char *argv[])
{
    limitAllocatorArenas();
    auto *app = new QApplication(argc, argv);
    loadTranslator();

    const int workWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    const int workHeight = QGuiApplication::primaryScreen()->availableGeometry().height();

    auto *window = new OverlayTuner;
    const WindowPlacement placement = placeOnWorkArea(workWidth, workHeight);
    window->setMinimumSize(placement.minimumSize);
    if (placement.move)
        window->move(placement.position);

    window->show();
    const int exitCode = app->exec();

    delete window;
    delete app;
    return exitCode;
}
