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
    if (!m_shown)
        return;
    QGuiApplication::restoreOverrideCursor();
    m_shown = false;
}

void BusyCursor::acquire()
{
    if (m_shown)
        return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    m_shown = true;
}
