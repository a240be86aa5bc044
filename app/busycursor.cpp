#include "busycursor.h"

#include <QCursor>
#include <QGuiApplication>

BusyCursor::BusyCursor()
{
    acquire();
}

BusyCursor::~BusyCursor()
{
    release();
}

void BusyCursor::release()
{
    if (!shown)
        return;
    QGuiApplication::restoreOverrideCursor();
    shown = false;
}

void BusyCursor::acquire()
{
    if (shown)
        return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    shown = true;
}
