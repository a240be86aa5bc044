// The calibration records as lists, so that a test compares all five values
// or all fifteen range entries in one check. Header only: the tests that
// include it link the core library that defines the records.
#ifndef CALIBRATIONVALUES_H
#define CALIBRATIONVALUES_H

#include "calibrationxml.h"

#include <QVariantList>
#include <QVector>

namespace TestSupport {

// In the setting panel's row order.
inline QVector<int> valuesOf(const SettingParams &p)
{
    return {p.distanceLevel, p.horShift, p.verShift, p.horScale, p.verScale};
}

// min, max and default of each value, in the same order.
inline QVariantList entries(const SettingParamsCap &c)
{
    QVariantList out;
    for (const ParamRange *r :
         {&c.distanceLevel, &c.horShift, &c.verShift, &c.horScale, &c.verScale})
        out << r->min << r->max << r->def;
    return out;
}

} // namespace TestSupport

#endif // CALIBRATIONVALUES_H
