// Start-up steps of the tool that need no window: the allocator's limits, the
// translator and the rule that places the main window on the desktop's work
// area.
#ifndef STARTUP_H
#define STARTUP_H

#include <QPoint>
#include <QSize>

constexpr int mainWindowMinWidth = 1280;
constexpr int mainWindowMinHeight = 520;

struct WindowPlacement
{
    QSize minimumSize;
    bool move = false;
    QPoint position;
};

// Where the main window goes on a work area of the given width and height.
WindowPlacement placeOnWorkArea(int workWidth, int workHeight);

// Installs the Chinese translation that lies beside the executable, if any.
void loadTranslator();

// Bounds how many heaps the C library keeps for threads; called before any
// thread starts.
void limitAllocatorArenas();

#endif // STARTUP_H
