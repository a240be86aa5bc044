// Stands in for the main window's shortcut signals: the benchmark emits the
// steps, and a direct connection delivers them to the panel's step slot the
// way the window's own connections do.
#ifndef STEPSOURCE_H
#define STEPSOURCE_H

#include <QObject>

class StepSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    void emitStep(int step) { emit stepped(step); }

signals:
    void stepped(int step);
};

#endif // STEPSOURCE_H
